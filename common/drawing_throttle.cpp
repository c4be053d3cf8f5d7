#include "common/drawing_throttle.h"

#include <QWidget>

namespace tessaly {

DrawingThrottle::DrawingThrottle(QWidget* widget, std::function<void()> show)
    : widget_(widget), show_(std::move(show)) {
    widget_->setUpdatesEnabled(false);
    timer_.setInterval(40);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { draw(); });
    timer_.start();
}

DrawingThrottle::~DrawingThrottle() {
    show_();
    widget_->setUpdatesEnabled(true);
}

void DrawingThrottle::draw() {
    show_();
    widget_->setUpdatesEnabled(true);
    widget_->repaint();
    widget_->setUpdatesEnabled(false);
}

} // namespace tessaly
