// Small builders for controls that windows place by hand.
#pragma once

class QLabel;
class QString;
class QWidget;

namespace tessaly {

// A label named `name` with its top-left corner at (x, y), sized to its text.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y);

} // namespace tessaly
