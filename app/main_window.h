// The main window TTSY_MainF: the one mail (recipients, Subject, body), its commands, the send
// run's handlers and buttons, and the opening of every other window. The run itself is the
// SendRunner's (sending/); this window hands it the mail and the settings when the user presses
// send, answers its questions through the dialogs, and shows what it reports.
#pragma once

#include "mailmerge/merge_mail.h"
#include "sending/run_prompts.h"
#include "sending/run_state.h"
#include "settings/settings.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolBar;
class QToolButton;
class TTSY_AddressF;
class TTSY_Adrs_HitF;
class TTSY_LogF;
class TTSY_SetteiF;
class TTSY_RefusedF;
class TTSY_AttachF;
class TTSY_MergeF;

namespace tessaly {
class AddressBook;
class Dialogs;
class RecipientList;
class RunStatusBar;
class SendRunner;
class SmtpPasswords;
class TSmtpClient;
struct RunEnd;
struct RunMail;
struct RunSettings;
} // namespace tessaly

class TTSY_MainF : public QWidget, private tessaly::RunPrompts {
    Q_OBJECT
public:
    // Runs FormCreate. `settings` is the program's one Settings record.
    TTSY_MainF(tessaly::Dialogs& dialogs, Settings& settings, QWidget* parent = nullptr);
    ~TTSY_MainF() override;

    // The windows this one talks to; the start-up object hands them over once they all exist,
    // before the window is first shown.
    void setWindows(TTSY_SetteiF* settei, tessaly::AddressBook* addressBook,
                    TTSY_Adrs_HitF* hitList, TTSY_AddressF* addressWindow, TTSY_LogF* logWindow);

    // The SMTP passwords of this program start (the start-up object owns them).
    void setPasswords(tessaly::SmtpPasswords* passwords);
    // Opens the OAuth sign-in page; the system browser unless a test stands in for it.
    void setOpenUrl(std::function<void(const QUrl&)> openUrl) { openUrl_ = std::move(openUrl); }

    const std::string& StartDirectory() const { return startDirectory_; }
    int OsMajorVersion() const { return osMajorVersion_; }
    int OsMinorVersion() const { return osMinorVersion_; }
    // Tests stand in for another operating system with this.
    void setOsVersion(int major, int minor) {
        osMajorVersion_ = major;
        osMinorVersion_ = minor;
    }

    // --- Used by the hit list and the address book window ---
    // Appends recipient entries (Shift-JIS bytes: a bare address, or name " <" address ">")
    // to List_To exactly as given; enables TB_Send when at least one was added. `source` says
    // where they came from ("アドレス帳"), for the message that refuses a bad address; `place`
    // the group and member of address-book entries, for the fields {{グループ}} and {{メンバー}}
    // (looked up in the book when not given).
    void addRecipients(const std::vector<std::string>& entriesSjis, const QString& source = {},
                       const tessaly::AddressBookPlace& place = {});
    // The entries of List_To, in order, as Shift-JIS bytes, and where each came from.
    std::vector<std::string> recipientsSjis() const;
    std::vector<QString> recipientSources() const;
    std::vector<tessaly::AddressBookPlace> recipientPlaces() const;

    // Text of status panel 1.
    QString statusText() const;

    // The body field's lines as the field displays them: every wrapped piece is a line of its
    // own; an empty last line does not count.
    QStringList displayedBodyLines() const;
    // The send run's client and the runner that drives it, so that tests can watch them.
    tessaly::TSmtpClient& smtpClient() { return *SmtpClient1; }
    tessaly::SendRunner& runner() { return *runner_; }

    // --- Handlers, public so that the owner and tests can name them ---
    void AppendSignature();
    void Edt_ToExit();
    void List_ToClick();
    void Cmd_DelClick();
    void Cmd_ToClick();
    void TB_ReadClick();
    void TB_SaveClick();
    void TB_ClearClick();
    void TB_AddressClick();
    void TB_Log_DispClick();
    void TB_SetteiClick();
    void TB_EndClick();
    void TB_SendClick();
    void TB_StopClick();
    // TB_Send's menu: the run's messages shown without sending, and the first recipient's
    // message sent to the user's own address.
    void TB_PreviewClick();
    void TB_TestSendClick();
    // The files that go with the mail: their window, made on first use.
    void TB_AttachClick();
    TTSY_AttachF& attachWindow();
    void TB_MergeOpenClick();

protected:
    void showEvent(QShowEvent* event) override;   // FormShow, the first time
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Files dropped on the window are attached to the mail.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void buildControls();
    void buildToolBar();
    void takeTypedRecipient();
    void enableSend();
    void setStatus(const QString& text);
    // Appends one line (or several, separated by "\n") to the body field, as a new line.
    void appendBodyLine(const QString& line);
    void readBodyFile(const QString& fsPath);
    // True when the lines end with the signature block AppendSignature would add now.
    bool endsWithSignature(const std::vector<std::string>& linesSjis) const;
    // The body field's lines in Shift-JIS; a character it cannot hold is refused, naming the line.
    std::vector<std::string> bodyLinesSjis(const QStringList& lines) const;

    // The send run (main_window_run.cpp).
    void createSmtpClient();
    void buildSendMenu();
    tessaly::RunMail takeMail() const;
    tessaly::RunSettings takeRunSettings() const;
    // Runs `run` (a send or a test send) with the mail and settings taken now, after the
    // Subject checks; the error of a failed run has been shown when it returns.
    void startRun(void (tessaly::SendRunner::*run)(const tessaly::RunMail&, tessaly::RunSettings));
    void runStateChanged(tessaly::RunState state);
    void runEnded(const tessaly::RunEnd& end);
    void SmtpClient1InvalidHost(bool& handled);
    void SmtpClient1ConnectionFailed();
    void SmtpClient1Failure();
    void reportClientFailure(const QString& errorText, const QString& statusText);
    // What the runner asks (RunPrompts).
    void inform(const QString& text) override;
    std::optional<std::string> askPassword(const QString& question) override;
    bool trustCertificate(const tessaly::CertificateQuestion& question) override;
    tessaly::Choice askResume(const QString& question) override;
    bool confirmSendToEveryone(const QString& question) override;
    bool confirmResendInFlight(const QString& question) override;
    bool confirmLargeMessage(const QString& question) override;
    void openSignInPage(const QUrl& url) override;
    std::vector<std::string> recipientsNow() override { return recipientsSjis(); }
    std::vector<std::string> bodyShownNow() override { return bodyLinesSjis(displayedBodyLines()); }

    tessaly::Dialogs& dialogs_;
    Settings& settings_;
    std::string startDirectory_;
    int osMajorVersion_ = 4;
    int osMinorVersion_ = 10;
    bool shownOnce_ = false;
    bool takingRecipient_ = false;
    bool closeSaveFailed_ = false; // a close of this session could not save the settings
    QString openDialogFolder_; // OpenDialog1 keeps its folder between uses

    TTSY_SetteiF* settei_ = nullptr;
    tessaly::AddressBook* addressBook_ = nullptr;
    TTSY_Adrs_HitF* hitList_ = nullptr;
    TTSY_AddressF* addressWindow_ = nullptr;
    TTSY_LogF* logWindow_ = nullptr;
    std::function<void(const QUrl&)> openUrl_;

    // The run's part of the window: the client, the runner, what the client's events reported.
    std::unique_ptr<tessaly::TSmtpClient> SmtpClient1;
    std::unique_ptr<tessaly::SendRunner> runner_;
    bool closeAfterRun_ = false; // the window was closed during a run
    QString clientFailure_;      // the status an SMTP client event set in the current run
    QString clientFailureBox_;   // its box's text, shown in the run's one error box
    std::unique_ptr<TTSY_RefusedF> refusedWindow_;
    std::unique_ptr<TTSY_AttachF> attachWindow_;
    void showAttachments();
    std::unique_ptr<TTSY_MergeF> mergeWindow_; // made when a table is first opened

    // Controls.
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edt_To = nullptr;
    QPushButton* Cmd_To = nullptr;
    tessaly::RecipientList* List_To = nullptr;
    QPushButton* Cmd_Del = nullptr;
    QLineEdit* Edt_Subject = nullptr;
    QPlainTextEdit* Memo_Sjis = nullptr;
    tessaly::RunStatusBar* StatusBar1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* TB_Send = nullptr;
    QToolButton* TB_Stop = nullptr;
    QToolButton* TB_Address = nullptr;
    QToolButton* TB_Read = nullptr;
    QToolButton* TB_Save = nullptr;
    QToolButton* TB_Clear = nullptr;
    QToolButton* TB_Log_Disp = nullptr;
    QToolButton* TB_Settei = nullptr;
    QToolButton* TB_End = nullptr;
    QPointer<QWidget> preview_; // the open preview window
};
