// Small builders for controls that windows place by hand.
#pragma once

class QLabel;
class QString;
class QWidget;

namespace tessaly {

// A label named `name` with its top-left corner at (x, y), sized to its text.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y);

// Disables a control for the length of a command and enables it again however the command ends.
class EnableOnExit {
public:
    explicit EnableOnExit(QWidget* control);
    ~EnableOnExit();
    EnableOnExit(const EnableOnExit&) = delete;
    EnableOnExit& operator=(const EnableOnExit&) = delete;

private:
    QWidget* control_;
};

} // namespace tessaly
