// The main window TTSY_MainF: the one mail (recipients, Subject, body), its commands, the send
// run, and the opening of every other window.
#pragma once

#include "settings/settings.h"
#include "smtp/message_builder.h"

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QToolBar;
class QToolButton;
class TTSY_AddressF;
class TTSY_Adrs_HitF;
class TTSY_LogF;
class TTSY_SetteiF;
class TTSY_RefusedF;
struct RefusedRecipient;

namespace tessaly {
struct JournalState;
class SendRun;
class AddressBook;
class Dialogs;
class TlsError;
struct RecipientParts;
struct RunPreview;
class SmtpPasswords;
class OAuthSession;
class TSmtpClient;
} // namespace tessaly

class TTSY_MainF : public QWidget {
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
    void setPasswords(tessaly::SmtpPasswords* passwords) { passwords_ = passwords; }
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
    // to List_To exactly as given; enables TB_Send when at least one was added.
    void addRecipients(const std::vector<std::string>& entriesSjis);
    // The entries of List_To, in order, as Shift-JIS bytes.
    std::vector<std::string> recipientsSjis() const;

    // Text of status panel 1.
    QString statusText() const;

    // The body field's lines as the field displays them: every wrapped piece is a line of its
    // own; an empty last line does not count.
    QStringList displayedBodyLines() const;
    // The converted body of the last run (ISO-2022-JP lines; empty when it sent UTF-8 only).
    const std::vector<std::string>& convertedBody() const { return Memo_Jis; }
    // The first wait before sending again after a temporary failure (tests shorten it).
    void setFirstRetryWait(std::chrono::milliseconds wait) { firstRetryWait_ = wait; }
    // The send run's client, so that tests can watch it.
    tessaly::TSmtpClient& smtpClient() { return *SmtpClient1; }

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
    // message sent to the user's own address (before_run.cpp).
    void TB_PreviewClick();
    void TB_TestSendClick();


protected:
    void showEvent(QShowEvent* event) override;   // FormShow, the first time
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void FormShow();
    void buildControls();
    void buildToolBar();
    void buildStatusBar();
    void takeTypedRecipient();
    void enableSend();
    void setStatus(const QString& text);
    void addRecipientItem(const QString& text, const QByteArray& sjis);
    // Appends one line (or several, separated by "\n") to the body field, as a new line.
    void appendBodyLine(const QString& line);
    std::vector<std::string> bodyLinesSjis(const QStringList& lines) const;
    void readBodyFile(const QString& fsPath);
    // Writes the lines, each followed by CR LF, in Shift-JIS; throws tessaly::FileError naming
    // `shownPath` when the file cannot be written.
    void writeLines(const std::string& fsPath, const QString& shownPath, const QStringList& lines,
                    bool append) const;

    // The send run (send_run.cpp).
    struct PreparedRun {
        std::string subjectSjis;
        std::vector<std::string> bodySjis; // displayed lines
        std::string userMeiSjis;
        std::string keisyouSjis;
        tessaly::MessageCharset charset = tessaly::MessageCharset::Iso2022Jp;
    };
    void createSmtpClient();
    PreparedRun prepareRun() const;
    QString subjectRefusal() const;
    void runChecked(const std::function<void(const PreparedRun&)>& send);
    bool hostChecked();
    tessaly::MessageTexts runTexts(const PreparedRun& run) const;
    tessaly::MessageAddressee addresseeFor(const tessaly::RecipientParts& parts,
                                           const PreparedRun& run, bool atesaki) const;
    tessaly::MessageTexts notifyTexts(const tessaly::MessageTexts& texts, const PreparedRun& run,
                                      bool atesaki, QStringList* shownLines) const;
    std::string notifyAddress() const;
    std::pair<std::string, int> runServer() const;
    void aimClient();
    // TB_Send's menu (before_run.cpp).
    void buildSendMenu();
    tessaly::RunPreview previewOfRun() const;
    void testSend(const PreparedRun& run);
    void sendRun(const PreparedRun& run);
    void runEnded();
    void closeAfterFailure();
    void configureSecurity();
    std::optional<std::string> loginPassword(const std::string& key);
    bool openConnection();
    bool prepareOAuth();
    void stopConnecting();
    bool offerTrust(const tessaly::TlsError& e) const;
    bool trustAccepted(const tessaly::TlsError& e);
    void SendData_Append();
    bool askResume(const tessaly::JournalState& previous, tessaly::SendRun& sendRun);
    void showRefused(const std::vector<RefusedRecipient>& refused);
    void SmtpClient1InvalidHost(bool& handled);
    void SmtpClient1ConnectionFailed();
    void SmtpClient1Failure();
    void reportClientFailure(const QString& errorText, const QString& statusText);
    void dispatchPendingEvents();

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
    tessaly::SmtpPasswords* passwords_ = nullptr;
    // The OAuth tokens of this program start, for the registration and account named by the key.
    std::unique_ptr<tessaly::OAuthSession> oauth_;
    std::string oauthIdentity_;
    bool signingIn_ = false;
    std::function<void(const QUrl&)> openUrl_;

    // Run state.
    bool StopRequested = false;
    bool running_ = false;
    bool closeAfterRun_ = false;
    bool connectStopped_ = false; // the stop button ended the connecting
    std::vector<std::string> Memo_Jis;
    tessaly::SendRun* currentRun_ = nullptr; // while the recipients are sent
    std::chrono::milliseconds firstRetryWait_ = std::chrono::seconds(30);
    std::unique_ptr<TTSY_RefusedF> refusedWindow_;
    int sentCount_ = 0;          // recipients sent in the current run
    QString failureStatus_;      // status an SMTP event set in the current run

    // Controls.
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Edt_To = nullptr;
    QPushButton* Cmd_To = nullptr;
    QListWidget* List_To = nullptr;
    QPushButton* Cmd_Del = nullptr;
    QLineEdit* Edt_Subject = nullptr;
    QPlainTextEdit* Memo_Sjis = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* statusPanel1_ = nullptr;
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
    std::unique_ptr<tessaly::TSmtpClient> SmtpClient1;
};
