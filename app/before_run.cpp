// TB_Send's menu: the preview of a run and the test send to the user's own address. Both take
// the run's own checks, texts and message builder, so that what they show or send is what the
// run sends.
#include "app/mail_text.h"
#include "app/main_window.h"
#include "app/preview_window.h"

#include "address/address_book.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/errors.h"
#include "common/guide_window.h"
#include "common/text.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QToolButton>

void TTSY_MainF::buildSendMenu() {
    auto* menu = new QMenu(TB_Send);
    menu->setObjectName(QStringLiteral("Menu_Send"));
    menu->setAccessibleName(QStringLiteral("送信のメニュー"));
    const auto add = [&](const char* name, const QString& text, const QKeySequence& keys,
                         void (TTSY_MainF::*handler)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        // The shortcut works while the menu is closed too, and only when TB_Send would.
        addAction(action);
        connect(action, &QAction::triggered, this, [this, handler] {
            if (TB_Send->isEnabled())
                tessaly::guarded(dialogs_, this, [this, handler] { (this->*handler)(); });
        });
    };
    add("Act_Preview", QStringLiteral("プレビュー..."), QKeySequence(Qt::CTRL | Qt::Key_P),
        &TTSY_MainF::TB_PreviewClick);
    add("Act_TestSend", QStringLiteral("テスト送信（自分宛て）"),
        QKeySequence(Qt::CTRL | Qt::Key_T), &TTSY_MainF::TB_TestSendClick);
    // The guide, from the menu and with F1, whether or not a run could start now.
    menu->addSeparator();
    QAction* guide = menu->addAction(tessaly::GuideWindow::commandName());
    guide->setObjectName(QStringLiteral("Act_Guide"));
    guide->setShortcut(QKeySequence::HelpContents);
    guide->setShortcutContext(Qt::WindowShortcut);
    addAction(guide);
    connect(guide, &QAction::triggered, this,
            [this] { tessaly::showGuide(QStringLiteral("メイン画面の見方"), this); });
    TB_Send->setMenu(menu);
    TB_Send->setPopupMode(QToolButton::MenuButtonPopup);
}

// Every message the run would send now, and what it would refuse, without a connection.
tessaly::RunPreview TTSY_MainF::previewOfRun() const {
    tessaly::RunPreview preview;
    preview.refusal = subjectRefusal();
    PreparedRun run;
    try {
        run = prepareRun();
    } catch (const tessaly::Error& e) {
        // The texts cannot be sent as they are: nothing to build a message from.
        if (preview.refusal.isEmpty())
            preview.refusal = QString::fromUtf8(e.what());
        return preview;
    }
    QString server;
    try {
        const auto [host, port] = runServer();
        server = QStringLiteral("%1（ポート %2）").arg(tessaly::fromSjis(host)).arg(port);
    } catch (const tessaly::Error& e) {
        if (preview.refusal.isEmpty())
            preview.refusal = QString::fromUtf8(e.what());
    }

    const bool atesaki = settei_ && settei_->atesakiOn();
    const tessaly::MessageTexts texts = runTexts(run);
    const tessaly::MessageBuilder builder(texts, run.charset);
    for (int i = 0; i < List_To->count(); ++i) {
        const QListWidgetItem* item = List_To->item(i);
        const tessaly::RecipientParts parts =
            tessaly::SplitRecipient(item->data(Qt::UserRole).toByteArray().toStdString());
        tessaly::PreviewEntry entry{
            item->text(), builder.build(addresseeFor(parts, run, atesaki)), {}};
        if (!tessaly::MailAddress_Check(parts.address))
            entry.refusal = QStringLiteral("%1 件目の宛先のアドレスに誤りがあります。").arg(i + 1);
        preview.entries.push_back(std::move(entry));
    }
    if (settings_.ChkBox_EverySend) {
        const std::string everySend = notifyAddress();
        // As the run makes it: the notify copy has no addressee line.
        const tessaly::MessageAddressee addressee = addresseeFor({everySend, {}}, run, false);
        preview.entries.push_back(
            {QStringLiteral("毎回通知：%1").arg(tessaly::fromSjis(everySend)),
             tessaly::MessageBuilder(notifyTexts(texts, run, atesaki, nullptr), run.charset)
                 .build(addressee),
             {}});
    }
    preview.summary = QStringLiteral("送信するメッセージは %1 通です。送信サーバー：%2")
                          .arg(preview.entries.size())
                          .arg(server);
    return preview;
}

void TTSY_MainF::TB_PreviewClick() {
    if (running_ || preview_)
        return;
    auto* window = new tessaly::TTSY_PreviewF(previewOfRun(), this);
    preview_ = window;
    window->show();
}

void TTSY_MainF::TB_TestSendClick() {
    runChecked([this](const PreparedRun& run) { testSend(run); });
}

// The first recipient's message, headers and all, to the user's own address only: nothing is
// logged or saved, no notify copy goes, the body field stays as it is.
void TTSY_MainF::testSend(const PreparedRun& run) {
    tessaly::TSmtpClient& client = *SmtpClient1;
    if (!hostChecked())
        return;
    setStatus(QStringLiteral("文字コード変換中！"));
    const tessaly::MessageTexts texts = runTexts(run);
    const tessaly::MessageBuilder builder(texts, run.charset);
    const std::vector<std::string> recipients = recipientsSjis();
    dispatchPendingEvents();
    if (StopRequested || recipients.empty()) {
        runEnded();
        return;
    }
    aimClient();
    if (!openConnection())
        return;
    tessaly::TPostMessage& message = client.PostMessage;
    message.FromAddress = texts.fromAddress;
    message.ReplyTo = texts.replyTo;
    message.LocalProgram = texts.localProgram;
    message.ToAddress.assign(1, texts.fromAddress);
    dispatchPendingEvents();
    if (StopRequested) {
        client.Disconnect();
        runEnded();
        setStatus(QStringLiteral("テスト送信を中止しました"));
        return;
    }
    const bool atesaki = settei_ && settei_->atesakiOn();
    setStatus(QStringLiteral("テスト送信中！"));
    client.PreparedMessage =
        builder.build(addresseeFor(tessaly::SplitRecipient(recipients.front()), run, atesaki));
    client.SendMail();
    client.PreparedMessage.reset();
    client.Disconnect();
    runEnded();
    // Short enough for the status panel; the address is the user's own.
    setStatus(QStringLiteral("自分宛てにテスト送信しました"));
}
