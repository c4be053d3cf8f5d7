#include "common/window_fit.h"

#include "common/window_place.h"

#include <QEvent>
#include <QRect>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QWidget>

#include <algorithm>

namespace tessaly {

FittedPage::FittedPage(QWidget& window, QSize designSize)
    : QObject(&window), window_(window), design_(designSize), stripTop_(designSize.height()) {
    area_ = new QScrollArea(&window);
    area_->setObjectName(QStringLiteral("FittedPage_Area"));
    area_->setFrameShape(QFrame::NoFrame);
    area_->setFocusPolicy(Qt::NoFocus);
    area_->setWidgetResizable(false);
    page_ = new QWidget;
    page_->setObjectName(QStringLiteral("FittedPage_Page"));
    page_->setFixedSize(design_);
    area_->setWidget(page_);
    // The window's own background shows through, as it would with the controls on the window.
    area_->viewport()->setAutoFillBackground(false);
    page_->setAutoFillBackground(false);
    window.installEventFilter(this);
    fit();
}

void FittedPage::keepInView(int stripTop, std::vector<QWidget*> buttons) {
    stripTop_ = stripTop;
    for (QWidget* button : buttons) {
        pinned_.push_back({button, button->x(), button->y()});
        button->raise();
    }
    fit();
}

bool FittedPage::fit() {
    const QScreen* screen = window_.screen();
    const QSize extra = outerSize(window_) - window_.size();
    return fitInto(screen ? screen->availableGeometry().size() - extra : design_);
}

bool FittedPage::fitInto(QSize room) {
    scrolls_ = design_.width() > room.width() || design_.height() > room.height();
    const int strip = design_.height() - stripTop_;
    QSize size = design_;
    if (!scrolls_) {
        page_->setFixedSize(design_);
        area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        area_->setGeometry(0, 0, design_.width(), design_.height());
    } else {
        // The page ends above the strip of buttons, which stands below the scrolling part.
        page_->setFixedSize(design_.width(), stripTop_);
        area_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        area_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        const int bar = area_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, area_);
        const bool tooWide = design_.width() + bar > room.width();
        size.setWidth(std::min(design_.width() + bar, room.width()));
        size.setHeight(std::max(std::min(design_.height() + (tooWide ? bar : 0), room.height()),
                                strip + 2 * bar));
        area_->setGeometry(0, 0, size.width(), size.height() - strip);
    }
    const int stripAt = size.height() - strip;
    for (const Pinned& p : pinned_)
        p.widget->move(p.x, scrolls_ ? stripAt + p.y - stripTop_ : p.y);
    window_.setFixedSize(size);
    return scrolls_;
}

bool FittedPage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window_ && event->type() == QEvent::Show)
        fit();
    return QObject::eventFilter(watched, event);
}

} // namespace tessaly

#include "moc_window_fit.cpp"
