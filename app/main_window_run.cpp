// The main window's side of a send run: TB_SendClick, TB_StopClick and TB_Send's menu, the SMTP
// client component with its events, the mail and the settings taken when the user presses send,
// the runner's questions answered through the dialogs, and the run's state on the buttons, the
// status bar and the body field.
#include "app/main_window.h"
#include "app/attachment_window.h"
#include "app/merge_table_window.h"
#include "app/preview_window.h"
#include "app/refused_window.h"
#include "app/run_status_bar.h"
#include "app/send_menu.h"

#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/guide_window.h"
#include "common/errors.h"
#include "common/text.h"
#include "sending/attachments.h"
#include "mailmerge/merge_mail.h"
#include "sending/run_checks.h"
#include "sending/run_failure.h"
#include "sending/run_preview.h"
#include "sending/send_runner.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTextBlock>
#include <QToolButton>

#include <utility>

using tessaly::RunState;
using tessaly::SendRunner;

namespace {

const QString kResumeTitle = QStringLiteral("送信の再開");

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

    tessaly::RunPrompts& prompts = *this;
    runner_ = std::make_unique<SendRunner>(*SmtpClient1, prompts);
    SendRunner* runner = runner_.get();
    connect(runner, &SendRunner::statusChanged, this, &TTSY_MainF::setStatus);
    connect(runner, &SendRunner::stateChanged, this, &TTSY_MainF::runStateChanged);
    connect(runner, &SendRunner::progressChanged, StatusBar1, &tessaly::RunStatusBar::setProgress);
    connect(runner, &SendRunner::bodyLinesAdded, this, [this](const QStringList& lines) {
        for (const QString& line : lines)
            appendBodyLine(line);
    });
    connect(runner, &SendRunner::ended, this, &TTSY_MainF::runEnded);
}

void TTSY_MainF::setPasswords(tessaly::SmtpPasswords* passwords) {
    runner_->setPasswords(passwords);
}

void TTSY_MainF::buildSendMenu() {
    const auto whenSend = [this] { return TB_Send->isEnabled(); };
    // Files and a table are taken whenever no run is going: a table while the list is still
    // empty too, when TB_Send is not yet enabled. The guide, whether or not a run could start.
    const auto whenIdle = [this] { return !runner_->running(); };
    tessaly::AddSendMenu(
        TB_Send, this, dialogs_,
        {{"Act_Preview", QStringLiteral("プレビュー..."), QKeySequence(Qt::CTRL | Qt::Key_P), whenSend,
          [this] { TB_PreviewClick(); }},
         {"Act_TestSend", QStringLiteral("テスト送信（自分宛て）"), QKeySequence(Qt::CTRL | Qt::Key_T), whenSend,
          [this] { TB_TestSendClick(); }},
         {"Act_Attach", QStringLiteral("添付ファイル..."), {}, whenIdle, [this] { TB_AttachClick(); }},
         {"Act_MergeOpen", QStringLiteral("差し込みデータを開く..."), QKeySequence(Qt::CTRL | Qt::Key_M), whenIdle,
          [this] { TB_MergeOpenClick(); }},
         {"Act_Guide", tessaly::GuideWindow::commandName(), QKeySequence::HelpContents, {},
          [this] { tessaly::showGuide(QStringLiteral("メイン画面の見方"), this); }, true}});
    // Files dropped on the window are attached, as from the menu.
    setAcceptDrops(true);
}

// ---- What the run is given ----

// The mail as Shift-JIS; a character code page 932 cannot hold is refused here, naming it.
tessaly::RunMail TTSY_MainF::takeMail() const {
    tessaly::RunMail mail;
    mail.subjectSjis = tessaly::toSjis(Edt_Subject->text(), QStringLiteral("件名"));
    int number = 0;
    for (QTextBlock block = Memo_Sjis->document()->begin(); block.isValid(); block = block.next())
        mail.bodyLinesSjis.push_back(
            tessaly::toSjis(block.text(), QStringLiteral("本文 %1 行目").arg(++number)));
    mail.bodyShownSjis = bodyLinesSjis(displayedBodyLines());
    mail.recipientsSjis = recipientsSjis();
    mail.recipientSources = recipientSources();
    if (attachWindow_)
        mail.attachments = attachWindow_->files();
    // With a table the rows are the recipients, each with its own message.
    // Without a table, the address book's fields are each recipient's own.
    if (mergeWindow_ && mergeWindow_->loaded())
        mergeWindow_->applyTo(mail);
    else
        mail.own = tessaly::FillAddressBookFields(mail.subjectSjis, mail.bodyShownSjis,
                                                  mail.recipientsSjis, recipientPlaces());
    return mail;
}

void TTSY_MainF::TB_MergeOpenClick() {
    tessaly::FileDialogOptions options;
    options.title = QStringLiteral("差し込みデータを開く");
    options.filter = QStringLiteral("差し込みデータ (*.csv *.xlsx);;全てのファイル (*)");
    options.initialDir = openDialogFolder_;
    const QString path = dialogs_.openFile(this, options);
    if (path.isEmpty())
        return;
    if (!mergeWindow_) {
        mergeWindow_ = std::make_unique<TTSY_MergeF>(this);
        connect(mergeWindow_.get(), &TTSY_MergeF::fieldChosen, this,
                [this](const QString& field) { Memo_Sjis->insertPlainText(field); });
        connect(mergeWindow_.get(), &TTSY_MergeF::tableChanged, this, [this](bool loaded) {
            setStatus(loaded ? mergeWindow_->statusText()
                             : QStringLiteral("差し込みをやめました。宛先リストに送信します"));
            if (!runner_->running())
                TB_Send->setEnabled(loaded || List_To->count() > 0);
        });
    }
    mergeWindow_->open(path);
    mergeWindow_->showTable();
}

// The settings window's fields as they stand, the rest as the record holds it.
tessaly::RunSettings TTSY_MainF::takeRunSettings() const {
    const Settings values = settei_ ? settei_->runFieldsOver(settings_) : settings_;
    // The host is not checked on the one system version that could not resolve names then.
    return tessaly::RunSettingsOf(values, startDirectory_,
                                  !(osMajorVersion_ == 4 && osMinorVersion_ == 0));
}

// ---- Commands ----

TTSY_AttachF& TTSY_MainF::attachWindow() {
    if (!attachWindow_) {
        attachWindow_ = std::make_unique<TTSY_AttachF>(dialogs_, this);
        connect(attachWindow_.get(), &TTSY_AttachF::filesChanged, this, &TTSY_MainF::showAttachments);
    }
    return *attachWindow_;
}

void TTSY_MainF::TB_AttachClick() { attachWindow().showList(); }

void TTSY_MainF::showAttachments() {
    const bool any = attachWindow_ && !attachWindow_->files().empty();
    StatusBar1->setAttachments(any ? tessaly::AttachmentSummary(attachWindow_->files()) : QString());
}

void TTSY_MainF::dragEnterEvent(QDragEnterEvent* event) {
    if (!runner_->running() && !TTSY_AttachF::droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TTSY_MainF::dropEvent(QDropEvent* event) {
    const QStringList paths = TTSY_AttachF::droppedFiles(event->mimeData());
    if (paths.isEmpty() || runner_->running())
        return;
    event->acceptProposedAction();
    tessaly::guarded(dialogs_, this, [&] { attachWindow().addPaths(paths); });
}

void TTSY_MainF::TB_SendClick() { startRun(&SendRunner::send); }

void TTSY_MainF::TB_TestSendClick() { startRun(&SendRunner::testSend); }

void TTSY_MainF::TB_StopClick() { runner_->requestStop(); }

void TTSY_MainF::startRun(void (SendRunner::*run)(const tessaly::RunMail&, tessaly::RunSettings)) {
    if (runner_->running())
        return;
    if (const QString refusal = tessaly::SubjectRefusal(Edt_Subject->text()); !refusal.isEmpty()) {
        dialogs_.message(this, refusal);
        return;
    }
    const tessaly::RunMail mail = takeMail();
    const tessaly::RunSettings settings = takeRunSettings();
    if (run == &SendRunner::send && settings_.ConfirmSend) {
        QStringList attachmentNames;
        for (const tessaly::AttachedFile& file : mail.attachments)
            attachmentNames << tessaly::fromSjis(tessaly::AttachmentNameOf(file.pathSjis));
        if (!dialogs_.askYesNoDefaultNo(this, QStringLiteral("送信の確認"),
                                        tessaly::SendConfirmQuestionText(mail.recipientsSjis.size(),
                                                                         settings.hostSjis, settings.port,
                                                                         attachmentNames)))
            return;
    }
    clientFailure_.clear();
    clientFailureBox_.clear();
    // One box for a failed run: the client's event says what it says in the run's box, between
    // the sentence that names the step and the server's reply.
    tessaly::guarded(dialogs_, this, [&] {
        try {
            (runner_.get()->*run)(mail, settings);
        } catch (const tessaly::RunFailure& failure) {
            throw tessaly::Error(failure.boxText(std::exchange(clientFailureBox_, {})).toStdString());
        } catch (const tessaly::Error& e) {
            if (clientFailureBox_.isEmpty())
                throw;
            throw tessaly::Error(std::exchange(clientFailureBox_, {}).toStdString() + "\r\n" + e.what());
        }
    });
    if (!clientFailureBox_.isEmpty())
        dialogs_.error(this, std::exchange(clientFailureBox_, {}));
    if (closeAfterRun_) {
        closeAfterRun_ = false;
        close();
    }
}

void TTSY_MainF::TB_PreviewClick() {
    if (runner_->running() || preview_)
        return;
    QString refusal = tessaly::SubjectRefusal(Edt_Subject->text());
    tessaly::RunPreview preview;
    try {
        preview = tessaly::PreviewOfRun(takeMail(), takeRunSettings(), refusal, tessaly::localNow());
    } catch (const tessaly::Error& e) {
        // A character the program cannot hold: the preview says so instead of an error box.
        preview.refusal = refusal.isEmpty() ? QString::fromUtf8(e.what()) : refusal;
    }
    auto* window = new tessaly::TTSY_PreviewF(std::move(preview), this);
    preview_ = window;
    window->show();
}

// ---- What the run shows ----

void TTSY_MainF::runStateChanged(RunState state) {
    // The end is runEnded's.
    if (state == RunState::Connecting) {
        TB_Send->setEnabled(false);
        TB_Clear->setEnabled(false);
        TB_Stop->setEnabled(true);
    } else if (state == RunState::Sending || state == RunState::Pausing || state == RunState::WaitingToRetry) {
        StatusBar1->setThrottled(true);
    }
}

void TTSY_MainF::runEnded(const tessaly::RunEnd& end) {
    StatusBar1->setThrottled(false);
    if (end.outcome == tessaly::RunOutcome::Failed) {
        // Send works again at once: the run's journal makes the next send continue this run, so
        // that nobody is sent the mail twice and the user need not touch the list. TB_Clear
        // stays off until a run completes. The status says how far the run got and what next.
        const QString reason = !end.failureReason.isEmpty() ? end.failureReason
                               : !clientFailure_.isEmpty()  ? clientFailure_
                                                            : QStringLiteral("送信エラー");
        setStatus(QStringLiteral("%1（%2件送信済みで中断）。原因を直して「メール送信開始」を押すと、"
                                 "続きを送ります")
                      .arg(reason)
                      .arg(end.sent));
        TB_Send->setEnabled(true);
        TB_Stop->setEnabled(false);
        return;
    }
    TB_Send->setEnabled(true);
    TB_Stop->setEnabled(false);
    TB_Clear->setEnabled(true);
    if (!end.refused.empty()) {
        if (!refusedWindow_)
            refusedWindow_ = std::make_unique<TTSY_RefusedF>(this);
        refusedWindow_->showRefused(end.refused);
    }
}

// ---- The SMTP client's events ----

void TTSY_MainF::reportClientFailure(const QString& errorText, const QString& statusText) {
    if (runner_->running())
        clientFailureBox_ = errorText; // the run's own box shows it
    else
        dialogs_.error(this, errorText);
    TB_Send->setEnabled(false);
    TB_Stop->setEnabled(false);
    setStatus(statusText);
    clientFailure_ = statusText;
}

void TTSY_MainF::SmtpClient1InvalidHost(bool& handled) {
    handled = false; // no second lookup: the connect fails
    const QString text = QStringLiteral("指定されたホストが存在しません。");
    reportClientFailure(text, text);
}

void TTSY_MainF::SmtpClient1ConnectionFailed() {
    if (runner_->state() == RunState::Stopping)
        return; // the user ended it: no failure to report
    const QString text = QStringLiteral("ホスト接続に失敗しました。");
    reportClientFailure(text, text);
}

void TTSY_MainF::SmtpClient1Failure() {
    reportClientFailure(QStringLiteral("メール送信中にエラーが発生しました。"),
                        QStringLiteral("メール送信中エラー！"));
}

// ---- What the runner asks ----

void TTSY_MainF::inform(const QString& text) { dialogs_.message(this, text); }

std::optional<std::string> TTSY_MainF::askPassword(const QString& question) {
    std::optional<QString> typed = dialogs_.askPassword(this, QStringLiteral("SMTP 認証"), question);
    if (!typed)
        return std::nullopt;
    QByteArray bytes = typed->toUtf8();
    std::string password = bytes.toStdString();
    bytes.fill('\0');
    typed->fill(QLatin1Char('\0'));
    return password;
}

// On yes the certificate is stored for this host and port, and TSY2.ini is saved at once: the
// user's decision must not be lost to a later Cancel of the settings window (which reloads the
// file) or to a program that does not end normally.
bool TTSY_MainF::trustCertificate(const tessaly::CertificateQuestion& question) {
    // はい lowers the security of every later run: Enter alone must not give it.
    if (!dialogs_.askYesNoDefaultNo(this, QStringLiteral("証明書の確認"), question.text))
        return false;
    tessaly::setTrustedFingerprint(settings_, question.hostSjis, question.port, question.fingerprint);
    Settings_Save(settings_, startDirectory_);
    return true;
}

tessaly::Choice TTSY_MainF::askResume(const QString& question) {
    return dialogs_.askYesNoCancel(this, kResumeTitle, question);
}

// Both send a second copy to someone who may have the mail already: いいえ is the default.
bool TTSY_MainF::confirmSendToEveryone(const QString& question) {
    return dialogs_.askYesNoDefaultNo(this, kResumeTitle, question);
}

bool TTSY_MainF::confirmResendInFlight(const QString& question) {
    return dialogs_.askYesNoDefaultNo(this, kResumeTitle, question);
}

bool TTSY_MainF::confirmLargeMessage(const QString& question) {
    return dialogs_.askYesNo(this, QStringLiteral("添付ファイル"), question);
}

void TTSY_MainF::openSignInPage(const QUrl& url) {
    if (openUrl_)
        openUrl_(url);
    else
        QDesktopServices::openUrl(url);
}
