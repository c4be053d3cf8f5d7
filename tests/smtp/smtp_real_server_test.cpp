// Messages sent over one connection to a real SMTP server (aiosmtpd), read back from its store.
#include "fixtures/smtp_real_server.h"
#include "smtp/smtp_client.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tessaly;
using tessaly::test::RealSmtpServer;

namespace {

TEST(SmtpRealServer, SeveralMessagesOverOneConnectionArriveByteForByte) {
    const quint16 port = RealSmtpServer::port();
    ASSERT_NE(port, 0);
    // The server is shared with other tests running at the same time: this sender is ours alone.
    const std::string sender = "smtp-real-" + std::to_string(QCoreApplication::applicationPid()) + "@tessaly.test";

    QTemporaryDir dir;
    const QString attachment = dir.filePath(QStringLiteral("note.bin"));
    QFile f(attachment);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("\x00\x01\x02\xff attached\r\n.\r\n", 18));
    f.close();

    TSmtpClient client;
    client.Host = "127.0.0.1";
    client.Port = port;
    client.TimeOut = 10000;
    client.UserID = "pc01";
    client.PostMessage.FromAddress = sender;
    client.PostMessage.FromName = "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=";
    client.PostMessage.Subject = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
    client.PostMessage.LocalProgram = "Tessaly27S";
    client.PostMessage.Body = {"\x1b$B$3$s$K$A$O\x1b(B", ".", "..leading dots", "end"};
    client.OnSendStart = [&](QObject*) {
        client.FinalHeader.SetHeaderValue("Content-Type", "text/plain; charset=iso-2022-jp");
    };
    int successes = 0;
    client.OnSuccess = [&](QObject*) { ++successes; };

    client.Connect();
    client.PostMessage.ToAddress = {"Taro <taro@example.jp>"};
    client.SendMail();
    client.PostMessage.ToAddress = {"jiro@example.jp"};
    client.PostMessage.ToBlindCarbonCopy = {"hidden@example.jp"};
    client.SendMail();
    client.PostMessage.ToAddress = {"saburo@example.jp"};
    client.PostMessage.Attachments = {attachment.toStdString()};
    client.SendMail();
    const std::string boundary = client.Boundary();
    client.Disconnect();
    EXPECT_EQ(successes, 3);

    const auto stored = RealSmtpServer::messagesFrom(QString::fromStdString(sender));
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_NE(stored[0].peerPort, 0);
    EXPECT_EQ(stored[1].peerPort, stored[0].peerPort); // one connection for all three
    EXPECT_EQ(stored[2].peerPort, stored[0].peerPort);
    const std::string header = "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=<" + sender + ">\r\n";
    const std::string common = "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n"
                               "X-Mailer: Tessaly27S\r\n"
                               "Mime-Version: 1.0\r\n";
    const std::string body = "\r\n\r\n\x1b$B$3$s$K$A$O\x1b(B\r\n.\r\n..leading dots\r\nend\r\n";
    const std::string text = "Content-Type: text/plain; charset=iso-2022-jp\r\n";

    EXPECT_EQ(stored[0].helo, QStringLiteral("pc01"));
    EXPECT_EQ(stored[0].rcptTos, QStringList{QStringLiteral("taro@example.jp")});
    EXPECT_EQ(stored[0].data.toStdString(), header + "To: Taro <taro@example.jp>\r\n" + common + text + body);

    EXPECT_EQ(stored[1].rcptTos, (QStringList{QStringLiteral("jiro@example.jp"), QStringLiteral("hidden@example.jp")}));
    EXPECT_EQ(stored[1].data.toStdString(), header + "To: jiro@example.jp\r\n" + common + text + body);

    EXPECT_EQ(stored[2].rcptTos, QStringList{QStringLiteral("saburo@example.jp")});
    // The owner's Content-Type replaces the multipart line too: it has the same name.
    EXPECT_EQ(stored[2].data.toStdString(),
              header + "To: saburo@example.jp\r\n" + common + text + "\r\n\r\n" +
                  "--" + boundary + "\r\n"
                  "Content-Type: text/plain;                        charset=us-ascii\r\n\r\n"
                  "\x1b$B$3$s$K$A$O\x1b(B\r\n.\r\n..leading dots\r\nend\r\n"
                  "--" + boundary + "\r\n"
                  "Content-Type: application/octet-stream;          name=\"note.bin\"\r\n"
                  "Content-Transfer-Encoding: base64\r\n"
                  "Content-Disposition: attachment;                 filename=\"note.bin\"\r\n\r\n"
                  "AAEC/yBhdHRhY2hlZA0KLg0K\r\n"
                  "--" + boundary + "--\r\n");
}

} // namespace
