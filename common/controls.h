// Small builders for controls that windows place by hand.
#pragma once

#include <QStringList>

class QLabel;
class QPlainTextEdit;
class QString;
class QWidget;

namespace tessaly {

// A label named `name` with its top-left corner at (x, y), sized to its text.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y);

// The lines of `field` as it displays them: every wrapped piece is a line of its own, wrapped the
// way the field wraps on screen (its width, font and wrap mode); an empty last line does not count.
QStringList DisplayedLines(const QPlainTextEdit& field);

// Shift+Enter in `field` makes a line break like Enter. Qt would put an invisible line separator
// (U+2028) inside one line, which looks like a line break but cannot be mailed.
void BreakLinesOnShiftEnter(QPlainTextEdit* field);

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
