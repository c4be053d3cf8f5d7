// The program's real message boxes, questions and file dialogs.
#pragma once

#include "common/dialogs.h"

namespace tessaly {

// `text` with every line longer than `width` (in full-width characters; a half-width one counts
// half) broken after the last "。", "、" or blank that keeps it within: a box wraps a long line
// anywhere, in the middle of a Japanese word too. Lines without such a place stay as they are.
QString breakLongLines(const QString& text, double width = 36);

class QtDialogs : public Dialogs {
public:
    // `caption` titles the plain message and error boxes: the program's title.
    explicit QtDialogs(const QString& caption);

    void message(QWidget* parent, const QString& text) override;
    void notice(QWidget* parent, const QString& text, const QString& nextStep) override;
    void error(QWidget* parent, const QString& text) override;
    bool askYesNo(QWidget* parent, const QString& title, const QString& text) override;
    bool askYesNoDefaultNo(QWidget* parent, const QString& title, const QString& text) override;
    Choice askYesNoCancel(QWidget* parent, const QString& title, const QString& text) override;
    QString openFile(QWidget* parent, const FileDialogOptions& options) override;
    QStringList openFiles(QWidget* parent, const FileDialogOptions& options) override;
    QString saveFile(QWidget* parent, const FileDialogOptions& options) override;
    std::optional<QString> askPassword(QWidget* parent, const QString& title,
                                       const QString& text) override;

private:
    QString caption_;
};

} // namespace tessaly
