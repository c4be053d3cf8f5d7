// Runs with attached files against the real SMTP server, each stored message read back as a mail
// reader reads it (Python's email package, policy=default).
#include "app_harness.h"

#include "app/attachment_window.h"
#include "fixtures/fixtures_dir.h"
#include "fixtures/smtp_real_server.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

namespace {

using apptest::App;
using apptest::decodedMessage;
using tessaly::test::RealSmtpServer;

struct File {
    QString name;
    QByteArray bytes;
};

QByteArray randomBytes(qsizetype size) {
    QByteArray bytes(size, '\0');
    QRandomGenerator random(20);
    for (char& c : bytes)
        c = static_cast<char>(random.bounded(256));
    return bytes;
}


class AttachedRun : public ::testing::TestWithParam<int> {};

// Three files to three recipients, then the same mail without them: every file arrives whole
// under its own name, and the text part reads exactly as the message without files.
TEST_P(AttachedRun, EveryFileArrivesWholeUnderItsNameBesideTheSameText) {
    const int charset = GetParam();
    const QString sender = QStringLiteral("attach-%1-%2-%3@tessaly.test")
                               .arg(charset)
                               .arg(QCoreApplication::applicationPid())
                               .arg(QDateTime::currentMSecsSinceEpoch());
    QTemporaryDir folder;
    const std::vector<File> files = {
        {QStringLiteral("report.pdf"), "%PDF-1.4\n" + randomBytes(300000)},
        {QStringLiteral("会議資料（第3回）.xlsx"), "PK\x03\x04" + randomBytes(4000)},
        {QStringLiteral("髙橋さんの見積書.txt"), {}},
    };
    QStringList paths;
    for (const File& f : files) {
        QFile out(folder.filePath(f.name));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(f.bytes);
        paths << out.fileName();
    }

    const auto run = [&](bool withFiles) {
        App app(TestIni()
                    .settei(QStringLiteral("Host"), QStringLiteral("127.0.0.1"))
                    .settei(QStringLiteral("Port"), QString::number(RealSmtpServer::port()))
                    .settei(QStringLiteral("User"), QStringLiteral("pc01"))
                    .settei(QStringLiteral("From"), sender)
                    .settei(QStringLiteral("UserMei"), QStringLiteral("山田太郎"))
                    .settei(QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")));
        app.program->settings().Charset = charset;
        app.main().addRecipients({"taro@example.jp",
                                  sjis(QStringLiteral("山田 花子 <hanako@example.jp>")).toStdString(),
                                  "jiro@example.jp"});
        app.edit("Edt_Subject")->setText(QStringLiteral("資料送付"));
        app.setBody(QStringLiteral("各位\n資料を添付いたします。\n.以上"));
        if (withFiles) {
            app.main().attachWindow().addPaths(paths);
            const auto* shown = app.child<QLabel>("StatusBar1_Attachments");
            ASSERT_NE(shown, nullptr);
            EXPECT_EQ(shown->text(), QStringLiteral("添付ファイル 3 個（304.0 KB）"));
        }
        app.tool("TB_Send")->click();
        EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
        EXPECT_EQ(app.dialogs.count(FakeDialogs::Kind::Error), 0) << app.dialogs.lastText().toStdString();
    };
    run(true);
    run(false);

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 6U);
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject mixed = decodedMessage(stored[i].data);
        const QJsonObject plain = decodedMessage(stored[i + 3].data);
        EXPECT_TRUE(mixed[QStringLiteral("multipart")].toBool());
        EXPECT_FALSE(plain[QStringLiteral("multipart")].toBool());
        EXPECT_EQ(mixed[QStringLiteral("text")].toString(), plain[QStringLiteral("text")].toString());
        EXPECT_TRUE(mixed[QStringLiteral("defects")].toArray().isEmpty());
        const QJsonArray parts = mixed[QStringLiteral("files")].toArray();
        ASSERT_EQ(parts.size(), 3);
        for (qsizetype k = 0; k < 3; ++k) {
            const QJsonObject part = parts[k].toObject();
            const File& f = files[static_cast<std::size_t>(k)];
            EXPECT_EQ(part[QStringLiteral("filename")].toString(), f.name);
            EXPECT_EQ(part[QStringLiteral("name")].toString(), f.name);
            EXPECT_EQ(part[QStringLiteral("sha256")].toString().toLatin1(),
                      QCryptographicHash::hash(f.bytes, QCryptographicHash::Sha256).toHex());
        }
        EXPECT_EQ(parts[0].toObject()[QStringLiteral("content_type")].toString(),
                  QStringLiteral("application/pdf"));
    }
    // The name with 髙 has no ISO-2022-JP form: it goes as UTF-8 whatever the message's code.
    EXPECT_TRUE(stored[0].data.contains("filename*0*=UTF-8''%E9%AB%99"));
}

INSTANTIATE_TEST_SUITE_P(Charsets, AttachedRun, ::testing::Values(0, 2),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == 0 ? std::string("Iso2022Jp") : std::string("Utf8");
                         });

} // namespace
