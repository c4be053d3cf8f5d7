// What goes out after DATA: header lines, body, attachments; and the texts that are refused.
#include "smtp_test_support.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

using namespace tessaly;
using namespace tessaly::test;

namespace {

TEST_F(SmtpClientTest, MessageAsTheProgramSendsItArrivesByteForByte) {
    server.greet().mail().quit();
    client.PostMessage.FromName = "=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=";
    client.PostMessage.ToAddress = {"taro@example.jp"};
    client.PostMessage.Subject = "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=";
    client.PostMessage.ReplyTo = "reply@example.jp";
    client.PostMessage.Body = {"", "\x1b$B$3$s$K$A$O\x1b(B", ".", "..", ".x", "a.b"};
    client.OnSendStart = [&](QObject*) {
        client.FinalHeader.SetHeaderValue("Content-Type", "text/plain; charset=iso-2022-jp");
    };
    client.Connect();
    client.SendMail();
    client.Disconnect();
    ASSERT_TRUE(server.played());
    EXPECT_EQ(server.messages().value(0).toStdString(), std::string("From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=<sender@example.jp>\r\n"
                                                     "To: taro@example.jp\r\n"
                                                     "Subject: =?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTxsoQg==?=\r\n"
                                                     "X-Mailer: Tessaly27S\r\n"
                                                     "Reply-To: reply@example.jp\r\n"
                                                     "Mime-Version: 1.0\r\n"
                                                     "Content-Type: text/plain; charset=iso-2022-jp\r\n"
                                                     "\r\n"
                                                     "\r\n"
                                                     "\r\n"
                                                     "\x1b$B$3$s$K$A$O\x1b(B\r\n"
                                                     "..\r\n"
                                                     "...\r\n"
                                                     "..x\r\n"
                                                     "a.b\r\n"));
}

// A message from the message builder goes out as built, dot-stuffed, after the handler's say;
// the envelope still comes from the record.
TEST_F(SmtpClientTest, PreparedMessageGoesOutAsBuiltAndTheHandlerMayChangeIt) {
    server.greet().mail().quit();
    client.PostMessage.ToAddress = {"taro@example.jp"};
    client.PostMessage.Subject = "ignored while a prepared message is set";
    client.PreparedMessage = WireMessage{
        true,
        {"From: <sender@example.jp>", "Subject: =?UTF-8?B?YQ==?=", " =?UTF-8?B?Yg==?=",
         "Content-Type: text/plain; charset=UTF-8"},
        {"QUJD", ".x"},
        {},
        {}};
    client.OnSendStart = [&](QObject*) { client.FinalHeader.SetHeaderValue("X-Extra", "1"); };
    client.Connect();
    client.SendMail();
    client.Disconnect();
    ASSERT_TRUE(server.played());
    EXPECT_EQ(server.messages().value(0).toStdString(),
              std::string("From: <sender@example.jp>\r\n"
                          "Subject: =?UTF-8?B?YQ==?=\r\n"
                          " =?UTF-8?B?Yg==?=\r\n"
                          "Content-Type: text/plain; charset=UTF-8\r\n"
                          "X-Extra: 1\r\n"
                          "\r\n"
                          "\r\n"
                          "QUJD\r\n"
                          "..x\r\n"));
}

struct HeaderCase {
    const char* name;
    std::function<void(TPostMessage&)> fill;
    std::vector<std::string> header;
};

class HeaderTable : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTable, LinesInOrder) {
    TSmtpClient client;
    client.PostMessage.FromAddress = "a@example.jp";
    GetParam().fill(client.PostMessage);
    client.BuildHeaderAndBody();
    EXPECT_EQ(client.FinalHeader.Lines(), GetParam().header);
    EXPECT_TRUE(client.BodyStream().isEmpty()); // no body lines, no attachment: nothing at all
}

const std::string kPlain = "Content-Type: text/plain;                        charset=us-ascii";

INSTANTIATE_TEST_SUITE_P(
    Smtp, HeaderTable,
    ::testing::Values(
        HeaderCase{"EmptyFieldsGiveNoLines", [](TPostMessage&) {},
                   {"From: <a@example.jp>", "Mime-Version: 1.0", kPlain}},
        HeaderCase{"EveryField",
                   [](TPostMessage& m) {
                       m.FromName = "Me";
                       m.ToAddress = {"Taro <t@example.jp>", "j@example.jp"};
                       m.ToCarbonCopy = {"c@example.jp"};
                       m.ToBlindCarbonCopy = {"hidden@example.jp"};
                       m.Subject = "S";
                       m.LocalProgram = "P";
                       m.ReplyTo = "r@example.jp";
                       m.Date = "Mon, 7 Dec 2026 10:00:00 +0900";
                   },
                   {"From: Me<a@example.jp>", "To: Taro <t@example.jp>,j@example.jp", "CC: c@example.jp", "Subject: S",
                    "X-Mailer: P", "Reply-To: r@example.jp", "Date: Mon, 7 Dec 2026 10:00:00 +0900",
                    "Mime-Version: 1.0", kPlain}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TExStringList, FindAndSetIgnoreCaseAndWorkSorted) {
    for (bool sorted : {false, true}) {
        TExStringList h;
        h.SetSorted(sorted);
        for (const char* line : {"From: a", "Subject: s", "NoColon", "X-Mailer: m", "Content-Type: text/plain"})
            h.Add(line);
        EXPECT_EQ(h[h.FindHeader("SUBJECT")], "Subject: s") << sorted;
        EXPECT_EQ(h.FindHeader("NoColon"), -1);
        EXPECT_EQ(h.FindHeader("Subject "), -1);
        EXPECT_EQ(h.FindHeader("Date"), -1);
        const int at = h.FindHeader("Content-Type");
        h.SetHeaderValue("content-type", "text/plain; charset=iso-2022-jp");
        EXPECT_EQ(h[at], "content-type: text/plain; charset=iso-2022-jp");
        h.SetHeaderValue("Subject", "");
        EXPECT_EQ(h.FindHeader("Subject"), -1);
        EXPECT_EQ(h.Count(), 4);
        h.SetHeaderValue("Date", "today");
        EXPECT_EQ(h[h.FindHeader("date")], "Date: today");
        h.SetHeaderValue("Nothing", "");
        EXPECT_EQ(h.Count(), 5);
    }
    EXPECT_EQ(TExStringList().FindHeader("x"), -1);
}

TEST(TAttachmentEncoder, EncodesBlocksOf45BytesPerLine) {
    struct Row {
        UUMethods method;
        QByteArray input;
        QByteArray output;
    };
    const QByteArray b46 = QByteArray(45, 'A') + 'B';
    const Row rows[] = {
        {uuMime, "", ""},
        {uuMime, "M", "TQ==\r\n"},
        {uuMime, "Ma", "TWE=\r\n"},
        {uuMime, b46, QByteArray("QUFB").repeated(15) + "\r\nQg==\r\n"},
        {uuCode, "Cat", "#0V%T\r\n`\r\n"},
        {uuCode, QByteArray(3, '\0'), "#````\r\n`\r\n"},
        {uuCode, "", "`\r\n"},
    };
    for (const Row& r : rows) {
        QByteArray in = r.input, out;
        QBuffer inBuf(&in), outBuf(&out);
        inBuf.open(QIODevice::ReadOnly);
        outBuf.open(QIODevice::WriteOnly);
        TAttachmentEncoder e;
        e.Method = r.method;
        int begun = 0, ended = 0;
        e.OnBeginEncode = [&](QObject*) { ++begun; };
        e.OnEndEncode = [&](QObject*) { ++ended; };
        e.InputStream = &inBuf;
        e.OutputStream = &outBuf;
        e.Encode();
        EXPECT_EQ(out, r.output) << r.input.toStdString();
        EXPECT_EQ(begun + ended, 2);
    }
}

TEST(SmtpClientAssembly, AttachmentBecomesAMultipartMessage) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data.bin"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(45, 'A') + 'B');
    f.close();

    TSmtpClient client;
    client.PostMessage.FromAddress = "a@example.jp";
    client.PostMessage.Body = {".dot"};
    client.PostMessage.Attachments = {path.toStdString()};
    std::vector<std::string> events;
    client.OnEncodeStart = [&](const std::string& p) { events.push_back("start " + p); };
    client.OnEncodeEnd = [&](const std::string& p) { events.push_back("end " + p); };
    client.BuildHeaderAndBody();

    const std::string b = client.Boundary();
    EXPECT_TRUE(b.starts_with("====================54535") && b.ends_with("====") && b.size() == 37) << b;
    EXPECT_EQ(client.FinalHeader.Lines().back(), "Content-Type: multipart/mixed;                   boundary=\"" + b + "\"");
    EXPECT_EQ(events, (std::vector<std::string>{"start " + path.toStdString(), "end " + path.toStdString()}));
    // The name is what follows the last "/" (or "\\" or ":"), never the folder.
    const QByteArray expected = QByteArray::fromStdString(
        "--" + b + "\r\n" + kPlain + "\r\n\r\n..dot\r\n" +
        "--" + b + "\r\n" +
        "Content-Type: application/octet-stream;          name=\"data.bin\"\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment;                 filename=\"data.bin\"\r\n\r\n" +
        QByteArray("QUFB").repeated(15).toStdString() + "\r\nQg==\r\n" +
        "--" + b + "--\r\n");
    EXPECT_EQ(client.BodyStream(), expected);

    // uuencode goes into the same part, which still names base64.
    client.EncodeType = uuCode;
    client.BuildHeaderAndBody();
    const QByteArray uu = client.BodyStream();
    EXPECT_TRUE(uu.contains("Content-Transfer-Encoding: base64\r\n")) << uu.toStdString();
    EXPECT_TRUE(uu.contains("\r\n\r\nM" + QByteArray("04%!").repeated(15) + "\r\n!0@\r\n`\r\n--")) << uu.toStdString();
}

TEST(SmtpClientAssembly, MissingAttachmentIsReportedAndRaised) {
    TSmtpClient client;
    client.PostMessage.FromAddress = "a@example.jp";
    client.PostMessage.Attachments = {"/nonexistent/folder/gone.txt"};
    std::string notFound;
    client.OnAttachmentNotFound = [&](const std::string& p) { notFound = p; };
    EXPECT_EQ(thrown<FileError>([&] { client.BuildHeaderAndBody(); }),
              "ファイル /nonexistent/folder/gone.txt は開けません");
    EXPECT_EQ(notFound, "/nonexistent/folder/gone.txt");
}

TEST(SmtpClientAssembly, ExtractAddressTakesTheEnvelopeAddress) {
    const std::pair<const char*, const char*> rows[] = {
        {"Taro <taro@example.jp>", "taro@example.jp"},
        {"<taro@example.jp", "taro@example.jp"},
        {"a <b<c>", "b"},
        {"taro@example.jp", "taro@example.jp"},
        {" spaced@example.jp ", " spaced@example.jp "},
        {"To:taro@example.jp", "taro@example.jp"},
        {"x:y:z", "y"},
        {"Nobody <>", ""},
    };
    for (const auto& [entry, address] : rows)
        EXPECT_EQ(TSmtpClient::ExtractAddress(entry), address) << entry;
    EXPECT_EQ(ExtractField("a,b,,d", ',', 3), "");
    EXPECT_EQ(ExtractField("a,b,,d", ',', 4), "d");
    EXPECT_EQ(ExtractField("a,b", ',', 3), "");
}

// ---------------------------------------------------------------- unsafe texts

struct UnsafeCase {
    const char* name;
    std::function<void(TSmtpClient&)> spoil;
    std::string error;
};

class UnsafeTable : public SmtpClientTest, public ::testing::WithParamInterface<UnsafeCase> {};

TEST_P(UnsafeTable, RefusedBeforeAnyCommandOfTheMessage) {
    // The next command after HELO must be the NOOP sent after the refusal.
    server.greet().expect("NOOP").send("250 ok\r\n");
    client.Connect();
    GetParam().spoil(client);
    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), GetParam().error);
    EXPECT_FALSE(client.Busy());
    client.Transaction("NOOP");
    EXPECT_TRUE(server.played());
}

const std::string kBreak = " must not contain a line break (CR, LF) or a zero byte";

INSTANTIATE_TEST_SUITE_P(
    Smtp, UnsafeTable,
    ::testing::Values(
        UnsafeCase{"FromAddress", [](TSmtpClient& c) { c.PostMessage.FromAddress = "a@b>\r\nRCPT TO:<x@y"; },
                   "FromAddress" + kBreak},
        UnsafeCase{"Recipient", [](TSmtpClient& c) { c.PostMessage.ToAddress = {"t@example.jp\nDATA"}; },
                   "Recipient" + kBreak},
        UnsafeCase{"CarbonCopy", [](TSmtpClient& c) { c.PostMessage.ToCarbonCopy = {"c@example.jp\r"}; },
                   "Recipient" + kBreak},
        UnsafeCase{"BlindCopy", [](TSmtpClient& c) { c.PostMessage.ToBlindCarbonCopy = {std::string("b@x\0y", 5)}; },
                   "Recipient" + kBreak},
        UnsafeCase{"Subject", [](TSmtpClient& c) { c.PostMessage.Subject = "Hi\r\nBcc: all@example.jp"; },
                   "Subject" + kBreak},
        UnsafeCase{"FromName", [](TSmtpClient& c) { c.PostMessage.FromName = "Me\n"; }, "FromName" + kBreak},
        UnsafeCase{"ReplyTo", [](TSmtpClient& c) { c.PostMessage.ReplyTo = "r@x\r\n"; }, "ReplyTo" + kBreak},
        UnsafeCase{"Date", [](TSmtpClient& c) { c.PostMessage.Date = "today\r\n"; }, "Date" + kBreak},
        UnsafeCase{"LocalProgram", [](TSmtpClient& c) { c.PostMessage.LocalProgram = "P\r\n"; },
                   "LocalProgram" + kBreak},
        UnsafeCase{"AttachmentName", [](TSmtpClient& c) { c.PostMessage.Attachments = {"/tmp/a\r\nb"}; },
                   "Attachment name" + kBreak},
        UnsafeCase{"BodyLine", [](TSmtpClient& c) { c.PostMessage.Body = {"ok", "bad\r\n.\r\nMAIL FROM:<x>"}; },
                   "Body line" + kBreak},
        UnsafeCase{"HeaderValueInSendStart",
                   [](TSmtpClient& c) {
                       c.OnSendStart = [&c](QObject*) { c.FinalHeader.SetHeaderValue("X-Note", "a\r\nBcc: x"); };
                   },
                   "Header X-Note" + kBreak},
        UnsafeCase{"HeaderLineAddedInSendStart",
                   [](TSmtpClient& c) { c.OnSendStart = [&c](QObject*) { c.FinalHeader.Add("X-Raw: a\nb"); }; },
                   "Header X-Raw" + kBreak},
        UnsafeCase{"HeaderLineTooLong",
                   [](TSmtpClient& c) { c.PostMessage.Subject = std::string(990, 's'); },
                   "Header Subject is longer than 998 bytes"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SmtpClientTest, UnsafeUserIdIsRefusedBeforeConnecting) {
    client.UserID = "pc01\r\nMAIL FROM:<x>";
    EXPECT_EQ(thrown<Error>([&] { client.Connect(); }), "UserID" + kBreak);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(SmtpClientTest, LongHeaderGoesOutWhole) {
    // Many recipients: a header far beyond one write of 16384 bytes, every line within 998.
    server.greet();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    client.PostMessage.ToAddress.clear();
    for (int i = 0; i < 30; ++i)
        client.PostMessage.ToCarbonCopy.push_back("r" + std::to_string(i) + "@example.jp");
    for (int i = 0; i < 30; ++i)
        server.expect("RCPT TO:<*").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").expectData().send("250 ok\r\n");
    client.OnSendStart = [&](QObject*) {
        for (int i = 0; i < 40; ++i)
            client.FinalHeader.Add("X-Filler-" + std::to_string(i) + ": " + std::string(900, 'f'));
    };
    client.Connect();
    client.SendMail();
    ASSERT_TRUE(server.played());
    const QByteArray message = server.messages().value(0);
    EXPECT_GT(message.size(), 36000);
    EXPECT_TRUE(message.contains("X-Filler-39: " + QByteArray(900, 'f') + "\r\n\r\n\r\nline 1\r\nline 2\r\n"));
}

} // namespace
