#include "common/controls.h"

#include <QLabel>

namespace tessaly {

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

EnableOnExit::EnableOnExit(QWidget* control) : control_(control) { control_->setEnabled(false); }

EnableOnExit::~EnableOnExit() { control_->setEnabled(true); }

} // namespace tessaly
