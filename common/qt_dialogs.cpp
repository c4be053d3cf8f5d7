#include "common/qt_dialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStringList>

namespace tessaly {
namespace {

// Texts are plain: an addressee such as "山田 <yamada@example.jp>" must not be taken for markup.
// Messages break lines with CR LF; the label wants LF alone.
void prepare(QMessageBox& box, const QString& text) {
    box.setTextFormat(Qt::PlainText);
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    box.setText(breakLongLines(shown));
}

QStringList runFileDialog(QWidget* parent, const FileDialogOptions& options,
                          QFileDialog::AcceptMode mode, QFileDialog::FileMode fileMode) {
    QFileDialog dialog(parent, options.title, options.initialDir, options.filter);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(fileMode);
    dialog.setDefaultSuffix(options.defaultExt);
    if (!options.fileName.isEmpty())
        dialog.selectFile(options.fileName);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.selectedFiles();
}

QString runFileDialog(QWidget* parent, const FileDialogOptions& options, QFileDialog::AcceptMode mode) {
    const QStringList files = runFileDialog(
        parent, options, mode, mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

QString breakLongLines(const QString& text, double width) {
    QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        double used = 0;
        qsizetype breakAfter = -1;
        for (qsizetype at = 0; at < lines[i].size(); ++at) {
            const QChar c = lines[i].at(at);
            used += c.unicode() < 0x80 || (c.unicode() >= 0xFF61 && c.unicode() <= 0xFF9F) ? 0.5 : 1;
            if (used > width && breakAfter > 0 && breakAfter + 1 < lines[i].size()) {
                lines.insert(i + 1, lines[i].mid(breakAfter + 1));
                lines[i].truncate(breakAfter + 1);
                break;
            }
            if (c == QChar(0x3002) || c == QChar(0x3001) || c == QLatin1Char(' '))
                breakAfter = at;
        }
        if (lines[i].endsWith(QLatin1Char(' ')))
            lines[i].chop(1);
    }
    return lines.join(QLatin1Char('\n'));
}

QtDialogs::QtDialogs(const QString& caption) : caption_(caption) {}

void QtDialogs::message(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, caption_, QString(), QMessageBox::Ok, parent);
    prepare(box, text);
    box.exec();
}

void QtDialogs::notice(QWidget* parent, const QString& text, const QString& nextStep) {
    // In the box's own text, not its informative text, which would wrap inside words.
    QMessageBox box(QMessageBox::Information, caption_, QString(), QMessageBox::Ok, parent);
    prepare(box, text + QStringLiteral("\r\n\r\n") + nextStep);
    box.exec();
}

void QtDialogs::error(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Critical, caption_, QString(), QMessageBox::Ok, parent);
    prepare(box, text);
    box.exec();
}

namespace {

bool askYesNoBox(QWidget* parent, const QString& title, const QString& text, bool yesIsDefault) {
    QMessageBox box(QMessageBox::Warning, title, QString(), QMessageBox::NoButton, parent);
    prepare(box, text);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yesIsDefault ? yes : no);
    box.setEscapeButton(no); // closing the box is a no
    box.exec();
    return box.clickedButton() == yes;
}

} // namespace

bool QtDialogs::askYesNo(QWidget* parent, const QString& title, const QString& text) {
    return askYesNoBox(parent, title, text, true);
}

bool QtDialogs::askYesNoDefaultNo(QWidget* parent, const QString& title, const QString& text) {
    return askYesNoBox(parent, title, text, false);
}

Choice QtDialogs::askYesNoCancel(QWidget* parent, const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::Question, title, QString(), QMessageBox::NoButton, parent);
    prepare(box, text);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == yes)
        return Choice::Yes;
    return box.clickedButton() == no ? Choice::No : Choice::Cancel;
}

QString QtDialogs::openFile(QWidget* parent, const FileDialogOptions& options) {
    return runFileDialog(parent, options, QFileDialog::AcceptOpen);
}

QStringList QtDialogs::openFiles(QWidget* parent, const FileDialogOptions& options) {
    return runFileDialog(parent, options, QFileDialog::AcceptOpen, QFileDialog::ExistingFiles);
}

QString QtDialogs::saveFile(QWidget* parent, const FileDialogOptions& options) {
    return runFileDialog(parent, options, QFileDialog::AcceptSave);
}

std::optional<QString> QtDialogs::askPassword(QWidget* parent, const QString& title,
                                              const QString& text) {
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    dialog.setLabelText(shown);
    dialog.setTextEchoMode(QLineEdit::Password);
    dialog.setInputMethodHints(Qt::ImhHiddenText | Qt::ImhSensitiveData | Qt::ImhNoPredictiveText);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QString password = dialog.textValue();
    dialog.setTextValue(QString()); // no copy left in the dialog's field
    return password;
}

} // namespace tessaly
