#include "common/controls.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>

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

QStringList DisplayedLines(const QPlainTextEdit& field) {
    const QTextDocument* doc = field.document();
    const qreal width = field.viewport()->width() - 2 * doc->documentMargin();
    QTextOption option = doc->defaultTextOption();
    option.setWrapMode(field.wordWrapMode());
    QStringList lines;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QString text = block.text();
        if (text.isEmpty()) {
            lines << QString();
            continue;
        }
        QTextLayout layout(text, field.font());
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            lines << text.mid(line.textStart(), line.textLength());
        }
        layout.endLayout();
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

namespace {

class ShiftEnterBreaks : public QObject {
public:
    explicit ShiftEnterBreaks(QPlainTextEdit* field) : QObject(field), field_(field) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == field_ && event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && (key->modifiers() & Qt::ShiftModifier)) {
                field_->textCursor().insertBlock();
                field_->ensureCursorVisible();
                return true;
            }
        }
        return false;
    }

private:
    QPlainTextEdit* field_;
};

} // namespace

void BreakLinesOnShiftEnter(QPlainTextEdit* field) { field->installEventFilter(new ShiftEnterBreaks(field)); }

} // namespace tessaly
