// Every message box, question and file dialog of the program goes through this interface, so that
// tests can replace it (tests/fixtures/fake_dialogs.h) and nothing blocks a headless run.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace tessaly {

struct FileDialogOptions {
    QString title;
    QString filter;      // Qt form, e.g. "テキストファイル (*.txt);;全てのファイル (*)"
    QString defaultExt;  // without the dot, e.g. "txt"
    QString initialDir;  // folder the dialog opens in
    QString fileName;    // name proposed in the dialog
};

// The answer to a question with three buttons.
enum class Choice { Yes, No, Cancel };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Plain message box with an OK button.
    virtual void message(QWidget* parent, const QString& text) = 0;
    // Information box (information icon, OK button): `text`, and below it `nextStep`, what the
    // user does next.
    virtual void notice(QWidget* parent, const QString& text, const QString& nextStep) {
        message(parent, text + QStringLiteral("\r\n\r\n") + nextStep);
    }
    // Error box: error icon, OK button.
    virtual void error(QWidget* parent, const QString& text) = 0;
    // Warning question with the buttons "はい(&Y)" and "いいえ(&N)"; true for yes.
    virtual bool askYesNo(QWidget* parent, const QString& title, const QString& text) = 0;
    // The same question with "いいえ(&N)" as the default button, for a yes that rewrites or
    // discards something: Enter alone must not do it. A stand-in that shows no box may answer it
    // as the plain question.
    virtual bool askYesNoDefaultNo(QWidget* parent, const QString& title, const QString& text) {
        return askYesNo(parent, title, text);
    }
    // Question with the buttons "はい(&Y)", "いいえ(&N)" and "キャンセル"; closing the box cancels.
    virtual Choice askYesNoCancel(QWidget* parent, const QString& title, const QString& text) = 0;
    // File dialogs; an empty result means the user cancelled.
    virtual QString openFile(QWidget* parent, const FileDialogOptions& options) = 0;
    virtual QString saveFile(QWidget* parent, const FileDialogOptions& options) = 0;
    // An open dialog in which several files can be chosen at once; empty when cancelled.
    virtual QStringList openFiles(QWidget* parent, const FileDialogOptions& options) {
        const QString file = openFile(parent, options);
        return file.isEmpty() ? QStringList() : QStringList{file};
    }
    // Asks for a password, its characters hidden as they are typed; none when the user cancelled.
    virtual std::optional<QString> askPassword(QWidget* parent, const QString& title,
                                               const QString& text) = 0;
};

} // namespace tessaly
