// The send run of TTSY_MainF: one connection, one message per recipient, the notify copy, and the
// SMTP client's event handlers.
#include "app/mail_text.h"
#include "app/main_window.h"
#include "app/refused_window.h"
#include "app/send_run_loop.h"
#include "app/smtp_transport.h"

#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/errors.h"
#include "common/secret_store.h"
#include "common/sjis_bytes.h"
#include "common/text.h"
#include "log/send_log.h"
#include "settings/settings_window.h"
#include "settings/smtp_passwords.h"
#include "smtp/oauth_signin.h"
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHostInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QStatusBar>
#include <QTextBlock>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <fstream>
#include <optional>
#include <tuple>

namespace {

const QString kNoSubject = QStringLiteral("無題");
constexpr std::string_view kSeparator = "----------------------------------------";

std::string sjisOf(const QString& fixedText) { return tessaly::toSjis(fixedText, QString()); }

// The Port setting as a number; the field holds digits only, but may be empty or too large.
int portNumber(const std::string& digits) {
    bool ok = false;
    const int port = QString::fromLatin1(digits.data(), static_cast<qsizetype>(digits.size()))
                         .toInt(&ok, 10);
    if (!ok)
        throw tessaly::Error(
            QStringLiteral("'%1' は正しい整数値ではありません。")
                .arg(QString::fromLatin1(digits.data(), static_cast<qsizetype>(digits.size())))
                .toStdString());
    return port;
}

bool hostResolves(const std::string& hostSjis) {
    if (hostSjis.empty())
        return false;
    const QHostInfo info = QHostInfo::fromName(tessaly::fromSjis(hostSjis));
    return info.error() == QHostInfo::NoError && !info.addresses().isEmpty();
}

std::string trimmed(std::string_view s) { return std::string(tessaly::trimBlanks(s)); }


// While recipients go out hundreds a second, drawing the status bar for every text would cost
// more than sending the message: during the loop it is drawn from a 40 ms timer instead. The
// timer also fires inside the client's waits for the server, so a slow message never leaves the
// previous recipient's text on the screen.
class StatusBarThrottle {
public:
    explicit StatusBarThrottle(QWidget* statusBar) : bar_(statusBar) {
        bar_->setUpdatesEnabled(false);
        timer_.setInterval(40);
        QObject::connect(&timer_, &QTimer::timeout, bar_, [this] { draw(); });
        timer_.start();
    }
    ~StatusBarThrottle() { bar_->setUpdatesEnabled(true); }
    StatusBarThrottle(const StatusBarThrottle&) = delete;
    StatusBarThrottle& operator=(const StatusBarThrottle&) = delete;

private:
    void draw() {
        bar_->setUpdatesEnabled(true);
        bar_->repaint();
        bar_->setUpdatesEnabled(false);
    }

    QWidget* bar_;
    QTimer timer_;
};

} // namespace

void TTSY_MainF::createSmtpClient() {
    SmtpClient1 = std::make_unique<tessaly::TSmtpClient>(this);
    SmtpClient1->Port = 25;
    SmtpClient1->TimeOut = 30000;
    SmtpClient1->ReportLevel = 0;
    SmtpClient1->EncodeType = tessaly::uuMime;
    SmtpClient1->ClearParams = true;
    SmtpClient1->OnInvalidHost = [this](bool& handled) { SmtpClient1InvalidHost(handled); };
    SmtpClient1->OnConnectionFailed = [this](QObject*) { SmtpClient1ConnectionFailed(); };
    SmtpClient1->OnFailure = [this](QObject*) { SmtpClient1Failure(); };
}

void TTSY_MainF::dispatchPendingEvents() { QCoreApplication::processEvents(); }

void TTSY_MainF::TB_StopClick() {
    StopRequested = true;
    // A pause or a wait before a retry ends at once.
    if (currentRun_)
        currentRun_->requestStop();
    stopConnecting();
}

// While the connection is being opened no message has started: a connect, handshake or login
// that hangs ends at once instead of at the time-out. A sign-in in the browser, or the wait for
// a token, ends at once too.
void TTSY_MainF::stopConnecting() {
    if (running_ && oauth_) {
        connectStopped_ = connectStopped_ || signingIn_;
        oauth_->Cancel();
    }
    if (running_ && SmtpClient1->Connecting()) {
        connectStopped_ = true;
        SmtpClient1->Abort();
    }
}

// Everything the run sends, as Shift-JIS, taken and checked before anything else happens: a
// character that cannot be sent stops the run before a connection is opened.
TTSY_MainF::PreparedRun TTSY_MainF::prepareRun() const {
    PreparedRun run;
    run.charset = tessaly::MessageCharsetFromSetting(settings_.Charset);
    // Only ISO-2022-JP refuses characters of code page 932; UTF-8 carries every one of them, but
    // no byte that is not one (the texts read from files could hold such bytes).
    const bool jisOnly = run.charset == tessaly::MessageCharset::Iso2022Jp;
    const QString advice = QStringLiteral("「送信サーバーの詳細」の「文字コード」を自動か UTF-8 に"
                                          "すると、UTF-8 で送れます。");
    const auto check = [&](const std::string& sjis, const QString& text, const QString& field) {
        if (jisOnly)
            tessaly::CheckJisSendable(sjis, text, field, advice);
        else
            tessaly::CheckCp932Text(sjis, field);
    };
    const QString subject = Edt_Subject->text();
    run.subjectSjis = tessaly::toSjis(subject, QStringLiteral("件名"));
    check(run.subjectSjis, subject, QStringLiteral("件名"));

    // Checked line by line as typed, so that the message names the line the user sees.
    int number = 0;
    for (QTextBlock block = Memo_Sjis->document()->begin(); block.isValid();
         block = block.next()) {
        const QString field = QStringLiteral("本文 %1 行目").arg(++number);
        const QString text = block.text();
        check(tessaly::toSjis(text, field), text, field);
    }
    for (const QString& line : displayedBodyLines())
        run.bodySjis.push_back(tessaly::toSjis(line, QStringLiteral("本文")));

    if (settei_) {
        run.userMeiSjis = settei_->userMeiSjis();
        check(run.userMeiSjis, tessaly::fromSjis(run.userMeiSjis), QStringLiteral("発信者名"));
        run.keisyouSjis = settei_->keisyouSjis();
        check(run.keisyouSjis, tessaly::fromSjis(run.keisyouSjis), QStringLiteral("敬称"));
    }
    for (int i = 0; i < List_To->count(); ++i) {
        const QListWidgetItem* item = List_To->item(i);
        check(item->data(Qt::UserRole).toByteArray().toStdString(), item->text(),
              QStringLiteral("宛先 %1 件目").arg(i + 1));
    }
    return run;
}

void TTSY_MainF::TB_SendClick() {
    runChecked([this](const PreparedRun& run) { sendRun(run); });
}

// The Subject checks of step 1, on the text as it stands: the message the run gives, or nothing.
QString TTSY_MainF::subjectRefusal() const {
    const QString subject = Edt_Subject->text();
    if (subject.isEmpty() || subject == kNoSubject)
        return QStringLiteral("Subjectが入力されていません");
    if (subject.contains(QLatin1Char('"')))
        return QStringLiteral("Subjectには ”は使用できません\r\n（制限文字です）");
    if (subject.contains(QLatin1Char(',')))
        return QStringLiteral("Subjectには ，は使用できません\r\n（制限文字です）");
    return {};
}

// The checks of the run in their order, then `send` with the button states of a run.
void TTSY_MainF::runChecked(const std::function<void(const PreparedRun&)>& send) {
    if (running_)
        return;
    // 1.
    if (const QString refusal = subjectRefusal(); !refusal.isEmpty()) {
        dialogs_.message(this, refusal);
        return;
    }
    const PreparedRun run = prepareRun();

    // 2.
    TB_Send->setEnabled(false);
    TB_Clear->setEnabled(false);
    TB_Stop->setEnabled(true);
    StopRequested = false;
    sentCount_ = 0;
    failureStatus_.clear();
    running_ = true;
    const bool completed = tessaly::guarded(dialogs_, this, [&] { send(run); });
    running_ = false;
    if (!completed)
        closeAfterFailure();
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

// The error has been shown. A connection left open would make the next run fail with "Already
// connected", so it is closed here; the status says how far the run got.
void TTSY_MainF::closeAfterFailure() {
    tessaly::TSmtpClient& client = *SmtpClient1;
    if (client.Connected() && !client.Busy())
        client.Abort();
    if (client.Connected())
        client.RequestCloseSocket();
    const QString reason =
        failureStatus_.isEmpty() ? QStringLiteral("送信エラー") : failureStatus_;
    setStatus(QStringLiteral("%1（%2件送信済みで中断）").arg(reason).arg(sentCount_));
}

void TTSY_MainF::runEnded() {
    TB_Send->setEnabled(true);
    TB_Stop->setEnabled(false);
    TB_Clear->setEnabled(true);
}

// Step 3: false when the host does not resolve; the run has then ended, the user told.
bool TTSY_MainF::hostChecked() {
    if (osMajorVersion_ == 4 && osMinorVersion_ == 0)
        return true;
    setStatus(QStringLiteral("ホスト接続確認中…"));
    dispatchPendingEvents();
    if (hostResolves(settei_ ? settei_->hostSjis() : std::string()))
        return true;
    dialogs_.message(this, QStringLiteral("ホスト接続が有効ではありません！"));
    runEnded();
    setStatus(QStringLiteral("ホスト接続を確認して下さい"));
    return false;
}

// What every message of the run shares.
tessaly::MessageTexts TTSY_MainF::runTexts(const PreparedRun& run) const {
    tessaly::MessageTexts texts;
    texts.fromAddress = settei_ ? settei_->fromSjis() : std::string();
    texts.fromNameSjis = run.userMeiSjis;
    texts.replyTo = settei_ ? settei_->replySjis() : std::string();
    texts.localProgram = "Tessaly27S";
    texts.subjectSjis = run.subjectSjis;
    texts.bodySjis = run.bodySjis;
    return texts;
}

// One recipient's own header values, with the addressee line when the setting is on.
tessaly::MessageAddressee TTSY_MainF::addresseeFor(const tessaly::RecipientParts& parts,
                                                   const PreparedRun& run, bool atesaki) const {
    tessaly::MessageAddressee addressee =
        tessaly::addresseeOf(parts.address, settei_ ? settei_->fromSjis() : std::string());
    if (atesaki)
        addressee.addresseeLineSjis = parts.addresseeName + " " + run.keisyouSjis;
    return addressee;
}

// The notify copy lists the recipients as the list holds them now; `shownLines` receives the
// lines it adds below the body, for the body field.
tessaly::MessageTexts TTSY_MainF::notifyTexts(const tessaly::MessageTexts& texts,
                                              const PreparedRun& run, bool atesaki,
                                              QStringList* shownLines) const {
    tessaly::MessageTexts notify = texts;
    const auto add = [&](std::string sjis, const QString& shown) {
        notify.bodySjis.push_back(std::move(sjis));
        if (shownLines)
            shownLines->append(shown);
    };
    add(std::string(kSeparator),
        QString::fromLatin1(kSeparator.data(), static_cast<qsizetype>(kSeparator.size())));
    if (atesaki) {
        const std::string note = sjisOf(QStringLiteral("<○○　")) + run.keisyouSjis +
                                 sjisOf(QStringLiteral(">で宛先編集されました。"));
        add(note, tessaly::fromSjis(note));
    }
    for (int i = 0; i < List_To->count(); ++i) {
        const QListWidgetItem* item = List_To->item(i);
        add(item->data(Qt::UserRole).toByteArray().toStdString(), item->text());
    }
    notify.subjectSjis += sjisOf(QStringLiteral("（毎回通知）"));
    return notify;
}

std::string TTSY_MainF::notifyAddress() const { return trimmed(settings_.EverySend); }

// The server and port of the settings; throws when the port is no number.
std::pair<std::string, int> TTSY_MainF::runServer() const {
    return {settei_ ? settei_->hostSjis() : std::string(),
            portNumber(settei_ ? settei_->portSjis() : std::string("25"))};
}

// Step 6: the server of the settings.
void TTSY_MainF::aimClient() {
    tessaly::TSmtpClient& client = *SmtpClient1;
    std::tie(client.Host, client.Port) = runServer();
    client.UserID = settei_ ? settei_->userIdSjis() : std::string();
}

void TTSY_MainF::sendRun(const PreparedRun& run) {
    tessaly::TSmtpClient& client = *SmtpClient1;
    tessaly::TPostMessage& message = client.PostMessage;

    // 3.
    if (!hostChecked())
        return;

    // 4. The body is converted once; per recipient only the addressee line is.
    setStatus(QStringLiteral("文字コード変換中！"));
    const tessaly::MessageTexts texts = runTexts(run);
    const tessaly::MessageBuilder builder(texts, run.charset);
    Memo_Jis = builder.bodyJis();

    // 5.
    dispatchPendingEvents();
    if (StopRequested) {
        runEnded();
        return;
    }

    // 6.
    const auto connect = [&] {
        aimClient();
        return openConnection();
    };
    if (!connect())
        return;

    // 7. The envelope; the message builder makes each header and body.
    message.FromAddress = texts.fromAddress;
    message.ReplyTo = texts.replyTo;
    message.LocalProgram = texts.localProgram;

    // 8.
    setStatus(QStringLiteral("ホスト接続！"));
    dispatchPendingEvents();

    // 10. A stop asked for while connecting is dropped, but not a close of the window: that
    // still ends the run before its first recipient.
    const bool atesaki = settei_ && settei_->atesakiOn();
    const bool logOn = settei_ && settei_->logOn();
    // The path is taken with its switch: an edit of the path in the settings window during the
    // run turns the switch off there, and must not send the rest of the records to an unchecked file.
    const std::string logPathSjis = logOn ? settei_->logPathSjis() : std::string();
    // An empty list still gets a range, or the bar would show a busy animation.
    ProgressBar1->setRange(0, std::max(1, List_To->count()));
    StopRequested = closeAfterRun_;

    // 11. The list as it is now: deleting entries during the run cannot change who is sent to.
    tessaly::RunSnapshot snapshot;
    snapshot.subjectSjis = run.subjectSjis;
    snapshot.recipientsSjis = recipientsSjis();
    snapshot.logOn = logOn;
    snapshot.logPathSjis = logPathSjis;
    snapshot.identity =
        tessaly::RunJournal_Identity(run.subjectSjis, Memo_Jis, snapshot.recipientsSjis);
    snapshot.journalPathSjis = tessaly::RunJournal_Path(
        tessaly::RunJournal_Folder(logOn, logPathSjis, startDirectory_), snapshot.identity);
    snapshot.conduct = tessaly::RunConduct_From(settings_);
    snapshot.conduct.firstRetryWait = firstRetryWait_;
    // Connecting again (after a wait, or when the server closed an idle connection): a stop
    // during it ends the run as a stop does; any other end of it is an error of the run.
    const auto reconnect = [&] {
        if (!connect() && !StopRequested)
            throw tessaly::Error(statusText().toStdString());
    };
    tessaly::SmtpTransport transport(client, builder, reconnect, atesaki, run.keisyouSjis);
    tessaly::SendRun sendRun(snapshot, transport);
    currentRun_ = &sendRun;
    const struct Forget {
        tessaly::SendRun*& run;
        ~Forget() { run = nullptr; }
    } forget{currentRun_};
    const tessaly::JournalState previous = tessaly::RunJournal_Read(snapshot.journalPathSjis);
    if (previous.resumable(snapshot.identity, snapshot.recipientsSjis.size()) &&
        !askResume(previous, sendRun)) {
        client.Disconnect();
        setStatus(QStringLiteral("送信を取りやめました"));
        runEnded();
        return;
    }
    if (StopRequested)
        sendRun.requestStop();
    QObject::connect(&sendRun, &tessaly::SendRun::statusChanged, this,
                     [this](const QString& text) { setStatus(text); });
    QObject::connect(&sendRun, &tessaly::SendRun::recipientDone, this, [&] {
        sentCount_ = static_cast<int>(sendRun.sentCount());
        ProgressBar1->setValue(ProgressBar1->value() + 1);
        dispatchPendingEvents();
    });
    std::optional<StatusBarThrottle> throttle(std::in_place, StatusBar1);
    const bool stopped = !sendRun.sendAll();
    throttle.reset();

    // 12. The notify copy lists the recipients as the list holds them now; a run that completes
    // a stopped one whose copy went out does not send it again.
    if (!stopped && settings_.ChkBox_EverySend && !previous.notifySent) {
        QStringList shownLines;
        tessaly::MessageTexts notify = notifyTexts(texts, run, atesaki, &shownLines);
        for (const QString& line : shownLines)
            appendBodyLine(line);
        const std::string everySend = notifyAddress();
        message.ToAddress.assign(1, everySend);
        setStatus(QStringLiteral("毎回の通知先へ送信中！"));
        client.PreparedMessage = tessaly::MessageBuilder(std::move(notify), run.charset)
                                     .build(tessaly::addresseeOf(everySend, texts.fromAddress));
        client.SendMail();
        sendRun.notifySent();
        dispatchPendingEvents();
    }
    client.PreparedMessage.reset();

    // 13.
    ProgressBar1->setValue(0);
    setStatus(QStringLiteral("ホスト切断！"));
    if (client.Connected() || !stopped)
        client.Disconnect();
    if (!previous.sentDataWritten) {
        SendData_Append();
        sendRun.sentDataWritten();
    }
    if (!stopped)
        sendRun.finish(); // a stopped run keeps its journal, so that the next send can go on
    setStatus(QStringLiteral("メッセージ送信完了！"));
    runEnded();
    if (!sendRun.refused().empty())
        showRefused(sendRun.refused());
}

// Asks whether an unfinished run of the same mail to the same list goes on where it stopped.
// False when the user cancels.
bool TTSY_MainF::askResume(const tessaly::JournalState& previous, tessaly::SendRun& sendRun) {
    const QString title = QStringLiteral("送信の再開");
    switch (dialogs_.askYesNoCancel(this, title, tessaly::ResumeQuestionText(previous))) {
    case tessaly::Choice::Yes: {
        const bool resend = !previous.inFlight().empty() &&
                            dialogs_.askYesNo(this, title, tessaly::InFlightQuestionText(previous));
        sendRun.resumeFrom(previous, resend);
        return true;
    }
    case tessaly::Choice::No:
        return dialogs_.askYesNo(this, title,
                                 tessaly::SendAllAgainQuestionText(previous.acceptedCount()));
    case tessaly::Choice::Cancel:
        break;
    }
    return false;
}

void TTSY_MainF::showRefused(const std::vector<RefusedRecipient>& refused) {
    if (!refusedWindow_)
        refusedWindow_ = std::make_unique<TTSY_RefusedF>(this);
    refusedWindow_->showRefused(refused);
}

// The protection and login of the Submission settings; the defaults leave the client as the
// plain exchange wants it.
void TTSY_MainF::configureSecurity() {
    tessaly::TSmtpClient& client = *SmtpClient1;
    switch (settings_.Security) {
    case 1: client.Security = tessaly::SmtpSecurity::StartTls; break;
    case 2: client.Security = tessaly::SmtpSecurity::ImplicitTls; break;
    default: client.Security = tessaly::SmtpSecurity::None; break;
    }
    client.UseAuth = settings_.Auth != 0;
    client.LoginName = client.UseAuth ? settings_.Login : std::string();
    // An OAuth login names the account the token belongs to; without one typed, the sender's.
    if (settings_.Auth == 2 && client.LoginName.empty())
        client.LoginName = settings_.From;
    client.TrustedFingerprint = tessaly::trustedFingerprint(settings_, client.Host, client.Port);
}

// The password of this login: known from this program start or the keyring, else asked for
// now, before anything connects. None when the user cancelled the question.
std::optional<std::string> TTSY_MainF::loginPassword(const std::string& key) {
    if (passwords_) {
        if (std::optional<std::string> known = passwords_->find(key, settings_.SavePassword))
            return known;
    }
    const QString server = tessaly::fromSjis(SmtpClient1->Host) + QLatin1Char(':') +
                           QString::number(SmtpClient1->Port);
    std::optional<QString> typed = dialogs_.askPassword(
        this, QStringLiteral("SMTP 認証"),
        QStringLiteral("送信サーバー %1 にログインするパスワードを入力してください。\r\n"
                       "ログイン名：%2")
            .arg(server, QString::fromLatin1(SmtpClient1->LoginName.data(),
                                             static_cast<qsizetype>(SmtpClient1->LoginName.size()))));
    if (!typed || typed->isEmpty())
        return std::nullopt;
    QByteArray bytes = typed->toUtf8();
    std::string password = bytes.toStdString();
    bytes.fill('\0');
    typed->fill(QLatin1Char('\0'));
    if (passwords_)
        passwords_->remember(key, password);
    return password;
}

// Opens the connection (step 6) with the protection and login the settings ask for. A
// certificate that fails its check may be trusted by the user, once, for this host and port;
// the connection is then tried again. False when the run ended here without an error: the
// password was not given, or the stop button ended the connecting.
bool TTSY_MainF::openConnection() {
    tessaly::TSmtpClient& client = *SmtpClient1;
    configureSecurity();
    std::string key;
    std::string password;
    const tessaly::WipeOnExit wipePassword(password);
    client.OAuthToken = nullptr;
    if (settings_.Auth == 2 && !prepareOAuth())
        return false;
    if (client.UseAuth && !client.OAuthToken) {
        key = tessaly::SmtpPasswords::keyFor(client.Host, client.Port, client.LoginName);
        std::optional<std::string> known = loginPassword(key);
        if (!known) {
            runEnded();
            setStatus(QStringLiteral("パスワードが入力されなかったため、送信を中止しました"));
            return false;
        }
        password.swap(*known);
    }
    setStatus(QStringLiteral("HOST-OPEN中！"));
    // Ends the run where it stands, nothing sent and no connection left (the client closed it).
    const auto endHere = [this](const QString& status) {
        connectStopped_ = false;
        runEnded();
        setStatus(status);
        return false;
    };
    const QString stopped = QStringLiteral("接続を中止しました");
    for (bool trustOffered = false;;) {
        connectStopped_ = false;
        client.Password = password; // the client wipes its copy, whatever the end of Connect
        try {
            client.Connect();
            break;
        } catch (const tessaly::TlsError& e) {
            if (connectStopped_)
                return endHere(stopped);
            failureStatus_ = QStringLiteral("TLS エラー"); // for a failure that ends the run here
            if (!e.PinnedFingerprint.empty())
                throw tessaly::Error(std::string(e.what()) +
                                     "\r\n証明書が正しく更新されたものかどうか、サーバーの管理者に"
                                     "確かめてください。確かめられたら、設定画面の「送信サーバーの詳細」で"
                                     "信頼した証明書を消去してから、もう一度送信してください。");
            if (trustOffered || !offerTrust(e))
                throw;
            if (!trustAccepted(e))
                return endHere(QStringLiteral("証明書を信頼しなかったため、送信を中止しました"));
            trustOffered = true;
        } catch (const tessaly::AuthError& e) {
            if (connectStopped_)
                return endHere(stopped);
            failureStatus_ = QStringLiteral("認証エラー");
            if (client.OAuthToken)
                throw;
            if (passwords_)
                passwords_->refused(key);
            throw tessaly::Error(std::string(e.what()) +
                                 "\r\n次に送信するときに、パスワードをもう一度お尋ねします。");
        } catch (const tessaly::Error&) {
            if (connectStopped_)
                return endHere(stopped);
            throw;
        }
    }
    failureStatus_.clear();
    if (client.UseAuth && !client.OAuthToken && passwords_)
        passwords_->accepted(key, settings_.SavePassword);
    return true;
}

// An OAuth login: an access token is got before anything connects (a sign-in in the browser may
// take the user a while, and no server should wait for it), and the client gets fresh ones from
// the same session when the server wants them. False when the stop button ended the sign-in.
bool TTSY_MainF::prepareOAuth() {
    tessaly::TSmtpClient& client = *SmtpClient1;
    const std::string& account = client.LoginName;
    const std::string identity = settings_.OAuthAuthorizationUrl + "\n" + settings_.OAuthTokenUrl +
                                 "\n" + settings_.OAuthClientId + "\n" + settings_.OAuthScope +
                                 "\n" + account;
    if (!oauth_ || identity != oauthIdentity_) {
        tessaly::OAuthRegistration provider{settings_.OAuthAuthorizationUrl,
                                         settings_.OAuthTokenUrl,
                                         settings_.OAuthScope,
                                         settings_.OAuthClientId,
                                         {}};
        if (passwords_) {
            tessaly::SecretRead secret =
                passwords_->store().read(tessaly::oauthClientSecretKey(settings_));
            if (secret.status == tessaly::SecretStatus::Ok)
                provider.ClientSecret.swap(secret.secret);
            tessaly::wipe(secret.secret);
        }
        static tessaly::NoSecretStore noKeyring;
        tessaly::SecretStore& store =
            passwords_ ? passwords_->store() : static_cast<tessaly::SecretStore&>(noKeyring);
        oauth_ = std::make_unique<tessaly::OAuthSession>(
            std::move(provider), store, tessaly::oauthRefreshTokenKey(settings_, account));
        oauthIdentity_ = identity;
        oauth_->OnSignInAgain = [this](const std::string& why) {
            dialogs_.message(this, QString::fromUtf8(why));
        };
    }
    oauth_->OpenUrl = [this](const QUrl& url) {
        setStatus(QStringLiteral("ブラウザでサインインしてください"));
        if (openUrl_)
            openUrl_(url);
        else
            QDesktopServices::openUrl(url);
    };
    tessaly::OAuthSession* session = oauth_.get();
    connectStopped_ = false;
    signingIn_ = true;
    try {
        session->AccessToken();
    } catch (const tessaly::OAuthError& e) {
        signingIn_ = false;
        if (connectStopped_ || e.kind == tessaly::OAuthError::Kind::Canceled) {
            connectStopped_ = false;
            runEnded();
            setStatus(QStringLiteral("サインインを中止しました"));
            return false;
        }
        failureStatus_ = QStringLiteral("認証エラー");
        throw tessaly::Error(std::string("認証: ") + e.what());
    }
    signingIn_ = false;
    client.OAuthToken = [session](bool renew) {
        return renew ? session->RenewAccessToken() : session->AccessToken();
    };
    return true;
}

// A certificate may be trusted when the check found fault with it, but never in place of another
// the user trusted before (a changed certificate is refused again) and never without one.
bool TTSY_MainF::offerTrust(const tessaly::TlsError& e) const {
    if (e.Fingerprint.empty())
        return false;
    for (const tessaly::CertProblem problem : e.Problems)
        if (problem == tessaly::CertProblem::PinMismatch || problem == tessaly::CertProblem::Handshake)
            return false;
    return !e.Problems.empty();
}

// Asks whether to trust the certificate; on yes it is stored for this host and port, and
// TSY2.ini is saved at once: the user's decision must not be lost to a later Cancel of the
// settings window (which reloads the file) or to a program that does not end normally.
bool TTSY_MainF::trustAccepted(const tessaly::TlsError& e) {
    tessaly::TSmtpClient& client = *SmtpClient1;
    const QString server = tessaly::fromSjis(client.Host) + QLatin1Char(':') + QString::number(client.Port);
    const QString text = QString::fromUtf8(e.what()) +
                         QStringLiteral("\r\n\r\nこの証明書を %1 の証明書として信頼して、接続しますか？\r\n"
                                        "信頼するのはこの指紋の証明書だけです。"
                                        "確かでないときは「いいえ」を選んでください。")
                             .arg(server);
    if (!dialogs_.askYesNo(this, QStringLiteral("証明書の確認"), text))
        return false;
    tessaly::setTrustedFingerprint(settings_, client.Host, client.Port, e.Fingerprint);
    client.TrustedFingerprint = e.Fingerprint;
    Settings_Save(settings_, startDirectory_);
    return true;
}

void TTSY_MainF::SendData_Append() {
    if (!settei_ || !settei_->sendDataOn())
        return;
    const std::string pathSjis = settei_->sendDataPathSjis();
    const QString shown = tessaly::fromSjis(pathSjis);
    const std::string fsPath = cp932::pathFromSjis(pathSjis);
    // Appending never creates the file: it exists from the start, or the setting is wrong.
    if (fsPath.empty() || !QFileInfo(QString::fromStdString(fsPath)).isFile())
        throw tessaly::FileError(
            QStringLiteral("ファイル %1 が見つかりません").arg(shown).toStdString());
    writeLines(fsPath, shown, displayedBodyLines(), true);
}

void TTSY_MainF::reportClientFailure(const QString& errorText, const QString& statusText) {
    dialogs_.error(this, errorText);
    TB_Send->setEnabled(false);
    TB_Stop->setEnabled(false);
    setStatus(statusText);
    failureStatus_ = statusText;
}

void TTSY_MainF::SmtpClient1InvalidHost(bool& handled) {
    handled = false; // no second lookup: the connect fails
    const QString text = QStringLiteral("指定されたホストが存在しません。");
    reportClientFailure(text, text);
}

void TTSY_MainF::SmtpClient1ConnectionFailed() {
    if (connectStopped_)
        return; // the user ended it: no failure to report
    const QString text = QStringLiteral("ホスト接続に失敗しました。");
    reportClientFailure(text, text);
}

void TTSY_MainF::SmtpClient1Failure() {
    reportClientFailure(QStringLiteral("メール送信中にエラーが発生しました。"),
                        QStringLiteral("メール送信中エラー！"));
}
