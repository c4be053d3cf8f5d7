// The preview and the test send against the real SMTP server: what the preview shows is what the
// server stores, and a test send goes to the sender alone.
#include "app_harness.h"

#include "app/preview_window.h"
#include "fixtures/smtp_real_server.h"

#include <QAction>
#include <QDateTime>
#include <QDirIterator>
#include <QListWidget>
#include <QMenu>
#include <QRegularExpression>

namespace {

using apptest::App;
using apptest::IniValues;
using tessaly::test::RealSmtpServer;

QString uniqueSender(const QString& name) {
    return QStringLiteral("%1-%2-%3@tessaly.test")
        .arg(name)
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch());
}

IniValues settingsFor(const QString& sender) {
    return {{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("Port"), QString::number(RealSmtpServer::port())},
            {QStringLiteral("User"), QStringLiteral("pc01")},
            {QStringLiteral("From"), sender},
            {QStringLiteral("Reply"), QStringLiteral("reply@tessaly.test")},
            {QStringLiteral("UserMei"), QStringLiteral("山田太郎")},
            {QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")},
            {QStringLiteral("Keisyou"), QStringLiteral("様")},
            {QStringLiteral("ChkBox_EverySend"), QStringLiteral("1")},
            {QStringLiteral("EverySend"), QStringLiteral("boss@tessaly.test")},
            {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
            {QStringLiteral("ChkBox_SendData"), QStringLiteral("1")}};
}

void writeCircular(App& app) {
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    app.main().addRecipients({sjis(QStringLiteral("山田 花子 <hanako@example.jp>")).toStdString()});
    app.edit("Edt_Subject")
        ->setText(QStringLiteral(
            "【ご案内】年末の大掃除と忘年会の日程と会場と会費についてのお知らせです"));
    app.setBody(QStringLiteral("各位\n\n明日の会議は１０時からです。\n半角ｶﾅも入ります。"));
}

void trigger(App& app, const char* action) {
    app.tool("TB_Send")->menu()->findChild<QAction*>(QString::fromLatin1(action))->trigger();
}

// Date and Message-ID are made when a message goes out, so a preview cannot foresee them: they
// are the only lines left out of the comparison.
QByteArray withoutSendTimeLines(QByteArray data) {
    static const QRegularExpression sendTime(QStringLiteral("^(Date|Message-ID): [^\\r]*\\r\\n"),
                                             QRegularExpression::MultilineOption);
    return QString::fromLatin1(data).remove(sendTime).toLatin1();
}

// Every file of the folder with its bytes.
std::map<QString, QByteArray> filesIn(const QString& folder) {
    std::map<QString, QByteArray> files;
    for (QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
         it.hasNext();) {
        QFile file(it.next());
        files[file.fileName()] = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("?");
    }
    return files;
}

TEST(PreviewThenRun, TheSourceIsWhatTheServerStores) {
    const QString sender = uniqueSender(QStringLiteral("preview"));
    App app(settingsFor(sender));
    writeCircular(app);

    trigger(app, "Act_Preview");
    auto* preview = app.main().findChild<tessaly::TTSY_PreviewF*>(QStringLiteral("TTSY_PreviewF"));
    ASSERT_NE(preview, nullptr);
    auto* list = preview->findChild<QListWidget*>(QStringLiteral("List_Preview"));
    auto* source = preview->findChild<QPlainTextEdit*>(QStringLiteral("Memo_Source"));
    QList<QByteArray> shown;
    for (int row = 0; row < list->count(); ++row) {
        list->setCurrentRow(row);
        const QByteArray wire = source->property("wireBytes").toByteArray();
        // The tab shows these very bytes, with ESC written out.
        EXPECT_EQ(source->toPlainText().replace(QStringLiteral("<ESC>"), QChar(0x1B)).toLatin1(),
                  QByteArray(wire).replace("\r\n", "\n"));
        shown << wire;
    }
    preview->close();

    app.tool("TB_Send")->click();
    ASSERT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 3u);
    ASSERT_EQ(shown.size(), 3);
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(withoutSendTimeLines(shown[i]),
                  withoutSendTimeLines(stored[std::size_t(i)].data));
        EXPECT_NE(withoutSendTimeLines(shown[i]), shown[i]);
    }
}

TEST(TestSend, SendsTheFirstRecipientsMessageToTheSenderAlone) {
    const QString sender = uniqueSender(QStringLiteral("test-send"));
    App app(settingsFor(sender));
    writeCircular(app);
    const QString body = app.body()->toPlainText();
    const auto filesBefore = filesIn(app.dir.path());

    trigger(app, "Act_TestSend");
    EXPECT_EQ(app.main().statusText(), QStringLiteral("自分宛てにテスト送信しました"));
    // Whole in its panel, not cut off.
    const QLabel* panel = app.child<QLabel>("StatusBar1_Panel1");
    EXPECT_LE(panel->fontMetrics().horizontalAdvance(panel->text()), panel->contentsRect().width());
    EXPECT_TRUE(app.dialogs.texts().isEmpty()) << app.dialogs.lastText().toStdString();
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_TRUE(app.tool("TB_Clear")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u); // no notify copy
    EXPECT_EQ(stored[0].rcptTos, QStringList{sender});
    EXPECT_TRUE(stored[0].data.contains("\r\nTo: taro@example.jp\r\n"));
    EXPECT_TRUE(stored[0].data.contains("\r\n\r\n\x1b$B")) // the addressee line first
        << stored[0].data.toStdString();
    EXPECT_EQ(app.body()->toPlainText(), body);
    EXPECT_EQ(filesIn(app.dir.path()), filesBefore); // no send log, no sent data, no settings
}

} // namespace
