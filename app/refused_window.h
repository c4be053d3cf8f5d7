// The list of recipients the server refused in a run that went on past them: each entry with the
// server's reply, as text the user can select and copy, so that the addresses can be corrected.
#pragma once

#include "smtp/run_messages.h"

#include <QDialog>
#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPushButton;

using RefusedRecipient = tessaly::RefusedRecipient;

// A top-level window without a Qt parent, so that disabling the main window leaves it usable.
class TTSY_RefusedF : public QDialog {
    Q_OBJECT
public:
    explicit TTSY_RefusedF(QWidget* mainWindow);

    // Fills the list, disables the main window and shows this window without waiting.
    void showRefused(const std::vector<RefusedRecipient>& refused);

    void Cmd_CopyClick(); // the whole list to the clipboard, one row per recipient
    void Cmd_CloseClick();

    // Every way of closing ends here: the main window is enabled.
    void done(int result) override;

private:
    QWidget* main_;
    std::vector<RefusedRecipient> refused_;
    QLabel* Label1 = nullptr;
    QPlainTextEdit* Memo_Refused = nullptr;
    QPushButton* Cmd_Copy = nullptr;
    QPushButton* Cmd_Close = nullptr;
};
