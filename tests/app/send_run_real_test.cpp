// Whole send runs against the real SMTP server; the checks read what the server stored.
#include "app_harness.h"

#include "fixtures/fixtures_dir.h"
#include "fixtures/smtp_real_server.h"
#include "jconvert/jconvert.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <QDateTime>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>

namespace {

using apptest::App;
using apptest::IniValues;
using tessaly::test::RealSmtpServer;
using tessaly::test::StoredMessage;

QString fromJis(const QByteArray& jis) {
    return tessaly::fromSjis(jconvert::JisToSjis(jis.toStdString()));
}

// A stored message cut into header lines (folded lines joined) and body lines.
struct Parsed {
    QList<QByteArray> header;
    QList<QByteArray> body;

    QByteArray field(const QByteArray& name) const {
        for (const QByteArray& line : header)
            if (line.startsWith(name + ": "))
                return line.mid(name.size() + 2);
        return {};
    }
    // The Unicode text of a header of encoded words.
    QString decoded(const QByteArray& name) const {
        static const QRegularExpression word(
            QStringLiteral("=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/=]*)\\?="));
        QString text;
        auto it = word.globalMatch(QString::fromLatin1(field(name)));
        while (it.hasNext())
            text += fromJis(QByteArray::fromBase64(it.next().captured(1).toLatin1()));
        return text;
    }
    QStringList bodyText() const {
        QStringList lines;
        for (const QByteArray& line : body)
            lines << fromJis(line);
        return lines;
    }
};

Parsed parse(const QByteArray& data, QList<QByteArray>* rawHeader = nullptr) {
    Parsed parsed;
    const qsizetype end = data.indexOf("\r\n\r\n");
    EXPECT_GE(end, 0);
    for (const QByteArray& line : data.left(end).split('\n')) {
        const QByteArray clean = line.endsWith('\r') ? line.chopped(1) : line;
        if (rawHeader)
            rawHeader->append(clean);
        if (clean.startsWith(' ') && !parsed.header.isEmpty())
            parsed.header.last() += clean.mid(1); // unfold (the blank was folding, not text)
        else
            parsed.header.append(clean);
    }
    QByteArray body = data.mid(end + 4);
    EXPECT_TRUE(body.endsWith("\r\n"));
    body.chop(2);
    parsed.body = body.split('\n');
    for (QByteArray& line : parsed.body)
        if (line.endsWith('\r'))
            line.chop(1);
    return parsed;
}

// The continuation lines of a raw header. Every line keeps to 78 characters, but the sender's:
// its address cannot be broken.
int foldedLines(const QList<QByteArray>& rawHeader, const QString& sender) {
    int continuation = 0;
    for (const QByteArray& line : rawHeader) {
        continuation += line.startsWith(' ');
        if (!line.contains(sender.toLatin1())) {
            EXPECT_LE(line.size(), 78) << line.toStdString();
        }
    }
    return continuation;
}

// A sender address no other test and no earlier run of this test uses: the server is shared.
QString uniqueSender(const QString& name) {
    return QStringLiteral("%1-%2-%3@tessaly.test")
        .arg(name)
        .arg(QCoreApplication::applicationPid())
        .arg(QDateTime::currentMSecsSinceEpoch());
}

// The settings of a run: the real server, a sender no other test uses, logging and saving on.
IniValues runSettings(const QString& sender, const IniValues& more = {}) {
    IniValues values = {{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
                        {QStringLiteral("Port"), QString::number(RealSmtpServer::port())},
                        {QStringLiteral("User"), QStringLiteral("pc01")},
                        {QStringLiteral("From"), sender},
                        {QStringLiteral("Reply"), QStringLiteral("reply@tessaly.test")},
                        {QStringLiteral("UserMei"), QStringLiteral("山田太郎")},
                        {QStringLiteral("ChkBox_Log"), QStringLiteral("1")},
                        {QStringLiteral("ChkBox_SendData"), QStringLiteral("1")}};
    for (const auto& [key, value] : more) {
        auto same = std::find_if(values.begin(), values.end(),
                                 [&](const auto& kv) { return kv.first == key; });
        if (same != values.end())
            same->second = value;
        else
            values.emplace_back(key, value);
    }
    return values;
}

// What a mail reader makes of a stored message: Python's email package run on its bytes (see
// tests/fixtures/decode_mail.py for the keys). With `cp932` the JIS pairs are read as code page
// 932 reads them, as Windows and web mail readers do; otherwise with Python's own codec.
QJsonObject readAsMailReader(const QByteArray& data, bool cp932 = false) {
    QTemporaryDir tmp;
    const QString file = tmp.filePath(QStringLiteral("message.eml"));
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(data) != data.size()) {
        ADD_FAILURE() << "cannot write " << file.toStdString();
        return {};
    }
    out.close();
    const QString script = fixturesDir() + QStringLiteral("/decode_mail.py");
    QStringList args = {script, file};
    if (cp932)
        args << QStringLiteral("--cp932");
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"), args);
    if (!python.waitForFinished(30000)) {
        python.kill();
        python.waitForFinished(5000);
        ADD_FAILURE() << "decode_mail.py did not finish";
        return {};
    }
    EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
    QJsonParseError error{};
    const QJsonDocument json = QJsonDocument::fromJson(python.readAllStandardOutput(), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    return json.object();
}

QStringList strings(const QJsonValue& array) {
    QStringList list;
    for (const QJsonValue& v : array.toArray())
        list << v.toString();
    return list;
}

void expectIdleAfterRun(App& app) {
    EXPECT_EQ(app.main().statusText(), QStringLiteral("メッセージ送信完了！"));
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_TRUE(app.tool("TB_Clear")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    EXPECT_EQ(app.dialogs.count(FakeDialogs::Kind::Error), 0) << app.dialogs.lastText().toStdString();
}

// Puts the lines into the body field (none may wrap there), runs, and returns what the server
// stored for the sender.
std::vector<StoredMessage> sendLines(App& app, const QStringList& lines, const QString& sender) {
    app.setBody(lines.join(QLatin1Char('\n')));
    EXPECT_EQ(app.main().displayedBodyLines(), lines);
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);
    return RealSmtpServer::messagesFrom(sender);
}

class ThreeRecipients : public ::testing::TestWithParam<bool> {};

TEST_P(ThreeRecipients, EachGetsItsOwnMessage) {
    const bool atesaki = GetParam();
    const QString sender = uniqueSender(QStringLiteral("three-%1").arg(atesaki));
    App app(runSettings(sender, {{QStringLiteral("Keisyou"), QStringLiteral("殿")},
                                 {QStringLiteral("ChkBox_Atesaki"), atesaki ? "1" : "0"}}));
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    app.main().addRecipients({sjis(QStringLiteral("山田 花子 <hanako@example.jp>")).toStdString(),
                              "jiro@example.jp"});
    app.edit("Edt_Subject")->setText(QStringLiteral("会議のお知らせ"));
    app.setBody(QStringLiteral("各位\n\n明日の会議は１０時からです。"));
    QStringList statusWhileSending;
    app.main().smtpClient().OnSuccess = [&](QObject*) { statusWhileSending << app.main().statusText(); };
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);
    // A bare address is named by the part before "@". (An entry without "@" never reaches a
    // run: it is no mailbox, and the run is refused before it connects.)
    EXPECT_EQ(statusWhileSending,
              (QStringList{QStringLiteral("1件目を送信中(taro)"), QStringLiteral("2件目を送信中(山田 花子)"),
                           QStringLiteral("3件目を送信中(jiro)")}));

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 3u);
    const QStringList rcpt = {QStringLiteral("taro@example.jp"), QStringLiteral("hanako@example.jp"),
                              QStringLiteral("jiro@example.jp")};
    const QStringList names = {QStringLiteral("taro"), QStringLiteral("山田 花子"), QStringLiteral("jiro")};
    for (int i = 0; i < 3; ++i) {
        const StoredMessage& m = stored[std::size_t(i)];
        EXPECT_EQ(m.helo, QStringLiteral("pc01"));
        EXPECT_EQ(m.rcptTos, QStringList{rcpt[i]});
        const Parsed p = parse(m.data);
        EXPECT_TRUE(p.header[0].startsWith("From: =?ISO-2022-JP?B?"));
        EXPECT_TRUE(p.header[0].endsWith("?=<" + sender.toLatin1() + ">"));
        EXPECT_EQ(p.decoded("From"), QStringLiteral("山田太郎"));
        EXPECT_EQ(p.decoded("Subject"), QStringLiteral("会議のお知らせ"));
        EXPECT_EQ(p.field("X-Mailer"), "Tessaly27S");
        EXPECT_EQ(p.field("Reply-To"), "reply@tessaly.test");
        EXPECT_EQ(p.field("Mime-Version"), "1.0");
        EXPECT_EQ(p.field("Content-Type"), "text/plain; charset=iso-2022-jp");
        EXPECT_TRUE(QRegularExpression(QStringLiteral(
                        "^[A-Z][a-z]{2}, \\d{2} [A-Z][a-z]{2} \\d{4} \\d{2}:\\d{2}:\\d{2} [+-]\\d{4}$"))
                        .match(QString::fromLatin1(p.field("Date")))
                        .hasMatch())
            << p.field("Date").toStdString();
        EXPECT_TRUE(p.field("Message-ID").startsWith('<') && p.field("Message-ID").endsWith(">"));
        QStringList expectedBody = {QString()}; // the client's empty line after the header
        if (atesaki)
            expectedBody << names[i] + QStringLiteral(" 殿");
        expectedBody << QStringLiteral("各位") << QString() << QStringLiteral("明日の会議は１０時からです。");
        EXPECT_EQ(p.bodyText(), expectedBody);
    }
    EXPECT_NE(parse(stored[0].data).field("Message-ID"), parse(stored[1].data).field("Message-ID"));
    EXPECT_EQ(parse(stored[1].data).field("To"), "hanako@example.jp");

    // The send log holds one record per recipient, with its name; the sent-data file the body.
    const QList<QByteArray> log = app.dir.read(QStringLiteral("Log.txt")).split('\n');
    ASSERT_EQ(log.size(), 4); // three lines and the empty rest after the last CR LF
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(log[i].endsWith(",\"" + sjis(QStringLiteral("会議のお知らせ")) + "\",\"" +
                                    sjis(names[i]) + "\"\r"))
            << log[i].toStdString();
    }
    EXPECT_EQ(app.dir.read(QStringLiteral("SendData.txt")),
              sjis(QStringLiteral("各位\r\n\r\n明日の会議は１０時からです。\r\n")));
    EXPECT_EQ(app.child<QProgressBar>("ProgressBar1")->value(), 0);
}

INSTANTIATE_TEST_SUITE_P(AddresseeLine, ThreeRecipients, ::testing::Bool());

TEST(SendRun, NotifyCopyListsTheRecipientsWithTheNote) {
    const QString sender = uniqueSender(QStringLiteral("notify"));
    App app(runSettings(sender, {{QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")},
                                 {QStringLiteral("EverySend"), QStringLiteral(" boss@example.jp ")},
                                 {QStringLiteral("ChkBox_EverySend"), QStringLiteral("1")}}));
    app.typeRecipient(QStringLiteral("a@example.jp"));
    app.main().addRecipients({sjis(QStringLiteral("佐藤 <b@example.jp>")).toStdString()});
    app.edit("Edt_Subject")->setText(QStringLiteral("お知らせ"));
    app.setBody(QStringLiteral("本文です。"));
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[2].rcptTos, QStringList{QStringLiteral("boss@example.jp")});
    const Parsed notify = parse(stored[2].data);
    EXPECT_EQ(notify.decoded("Subject"), QStringLiteral("お知らせ（毎回通知）"));
    EXPECT_EQ(notify.bodyText(),
              (QStringList{QString(), QStringLiteral("本文です。"),
                           QStringLiteral("----------------------------------------"),
                           QStringLiteral("<○○　様>で宛先編集されました。"),
                           QStringLiteral("a@example.jp"), QStringLiteral("佐藤 <b@example.jp>")}));
    // The body field shows the same lines now, and that is what the sent-data file got.
    const QString after = QStringLiteral("本文です。\n----------------------------------------\n"
                                         "<○○　様>で宛先編集されました。\na@example.jp\n"
                                         "佐藤 <b@example.jp>\n");
    EXPECT_EQ(app.body()->toPlainText(), after);
    QString saved = after;
    EXPECT_EQ(app.dir.read(QStringLiteral("SendData.txt")),
              sjis(saved.replace(QStringLiteral("\n"), QStringLiteral("\r\n"))));
    // No log record for the notify copy.
    EXPECT_EQ(app.dir.read(QStringLiteral("Log.txt")).count('\n'), 2);

    // A second run without clearing sends those lines as body and lists the recipients again.
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);
    const auto again = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(again.size(), 6u);
    const QStringList firstBody = QStringList{QString(), QStringLiteral("a 様")} +
                                  after.chopped(1).split(QLatin1Char('\n'));
    EXPECT_EQ(parse(again[3].data).bodyText(), firstBody);
    const QString twice = after + QStringLiteral("----------------------------------------\n"
                                                 "<○○　様>で宛先編集されました。\na@example.jp\n"
                                                 "佐藤 <b@example.jp>\n");
    EXPECT_EQ(app.body()->toPlainText(), twice);
    EXPECT_EQ(parse(again[5].data).bodyText(),
              QStringList{QString()} + twice.chopped(1).split(QLatin1Char('\n')));
}

TEST(SendRun, EmptyListStillConnectsAndSendsTheNotifyCopy) {
    const QString sender = uniqueSender(QStringLiteral("empty-list"));
    App app(runSettings(sender, {{QStringLiteral("EverySend"), QStringLiteral("boss@example.jp")},
                                 {QStringLiteral("ChkBox_EverySend"), QStringLiteral("1")}}));
    app.edit("Edt_Subject")->setText(QStringLiteral("空"));
    app.main().TB_SendClick(); // the button is disabled with an empty list
    expectIdleAfterRun(app);
    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].rcptTos, QStringList{QStringLiteral("boss@example.jp")});
    EXPECT_EQ(parse(stored[0].data).bodyText(),
              (QStringList{QString(), QStringLiteral("----------------------------------------")}));
}

TEST(SendRun, TextFormsOfSubjectSenderAndBody) {
    const QString sender = uniqueSender(QStringLiteral("forms"));
    App app(runSettings(sender, {{QStringLiteral("UserMei"), QString()}}));
    app.typeRecipient(QStringLiteral("a@example.jp"));
    app.edit("Edt_Subject")->setText(QStringLiteral("Hello"));
    const QString longLine = QString(120, QChar(0x3042)); // あ x 120 wraps in the field
    app.setBody(longLine + QStringLiteral("\n.\nｶﾞｲﾄﾞ\n..x"));
    const QStringList displayed = app.main().displayedBodyLines();
    ASSERT_GT(displayed.size(), 4); // the long line took several display lines
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u);
    const Parsed p = parse(stored[0].data);
    EXPECT_EQ(p.field("Subject"), "=?ISO-2022-JP?B?SGVsbG8=?=");
    EXPECT_EQ(p.header[0], "From: =?ISO-2022-JP?B?" "?=<" + sender.toLatin1() + ">");
    QStringList expected = {QString()};
    for (qsizetype i = 0; i < displayed.size() - 3; ++i)
        expected << displayed[i];
    expected << QStringLiteral(".") << QStringLiteral("ガイド") << QStringLiteral("..x");
    EXPECT_EQ(p.bodyText(), expected);
    EXPECT_EQ(expected.mid(1, displayed.size() - 3).join(QString()), longLine);
    // Nothing but 7-bit bytes went out.
    for (char c : stored[0].data)
        EXPECT_LT(static_cast<unsigned char>(c), 0x80);
}

TEST(SendRun, LongSubjectAndSenderNameFoldIntoSeveralEncodedWords) {
    const QString sender = uniqueSender(QStringLiteral("folding"));
    const QString name = QStringLiteral("株式会社テサリー総務部総務課事務局長代理補佐");
    App app(runSettings(sender, {{QStringLiteral("UserMei"), name}}));
    app.typeRecipient(QStringLiteral("a@example.jp"));
    const QString subject = QStringLiteral("令和八年度第三四半期における全社員向け安全衛生講習会の開催日程と会場変更のご案内");
    app.edit("Edt_Subject")->setText(subject);
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u);
    QList<QByteArray> raw;
    const Parsed p = parse(stored[0].data, &raw);
    EXPECT_EQ(p.decoded("Subject"), subject);
    EXPECT_EQ(p.decoded("From"), name);
    EXPECT_TRUE(p.field("From").endsWith("?=<" + sender.toLatin1() + ">"));
    EXPECT_GE(foldedLines(raw, sender), 2);
}

// The reader's checks of the raw form find what they are there to find.
TEST(MailReader, ReportsEveryFaultOfTheRawForm) {
    const QByteArray longWord =
        "=?ISO-2022-JP?B?" + QByteArray(64, 'Q').toBase64().left(64) + "?=";
    const QByteArray bad = "From: <a@example.jp>\r\n"
                           "Subject: " + longWord + "\r\n"
                           " \r\n"
                           "X-Open: =?ISO-2022-JP?B?GyRCOzNFRA==?=\r\n"
                           "no field name\r\n"
                           "\r\n"
                           "caf\xc3\xa9\n" + QByteArray(999, 'x') + "\r\n"
                           "\x1b$B;3ED\r\n";
    const QStringList problems = strings(readAsMailReader(bad)[QStringLiteral("problems")]);
    const QStringList expected = {QStringLiteral("8-bit byte in the message"),
                                  QStringLiteral("line 2: encoded word of 82 characters"),
                                  QStringLiteral("line 3: continuation of blanks only"),
                                  QStringLiteral("line 4: encoded word does not end in ASCII"),
                                  QStringLiteral("line 5: neither a field nor a continuation"),
                                  QStringLiteral("line 7: bare CR or LF"),
                                  QStringLiteral("line 7: 1005 bytes"),
                                  QStringLiteral("body line 8 does not end in ASCII")};
    for (const QString& want : expected)
        EXPECT_TRUE(std::any_of(problems.begin(), problems.end(),
                                [&](const QString& p) { return p.startsWith(want); }))
            << want.toStdString() << "\nfound: " << problems.join(QLatin1Char('\n')).toStdString();
}

TEST(SendRun, MailReadersDecodeWhatWasTyped) {
    const QString sender = uniqueSender(QStringLiteral("reader"));
    App app(runSettings(sender, {{QStringLiteral("UserMei"), QStringLiteral("ﾃｻﾘｰ商事　総務部")},
                                 {QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")},
                                 {QStringLiteral("Keisyou"), QStringLiteral("様")}}));
    app.main().addRecipients({sjis(QStringLiteral("山田 花子 <hanako@example.jp>")).toStdString()});
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    // Long enough to fold; half-width katakana, full-width symbols and a blank in it.
    const QString subject = QStringLiteral("【重要】ｶﾞｲﾄﾞﾗｲﾝ改訂～第２版－のお知らせ："
                                           "令和八年度 全社安全衛生講習会の日程と会場のご案内");
    app.edit("Edt_Subject")->setText(subject);
    const QStringList typed = {QStringLiteral("Dear all,"), QStringLiteral("各位"),
                               QStringLiteral("ﾊﾝｶｸｶﾀｶﾅﾃﾞｽ｡ﾊﾟﾋﾟﾌﾟ｢ｳﾞｱﾞｶﾟ､･｣"), QStringLiteral("."),
                               QStringLiteral(".hidden?"), QString(), QStringLiteral("..two"),
                               QStringLiteral("以上～－")};
    const auto stored = sendLines(app, typed, sender);
    ASSERT_EQ(stored.size(), 2u);
    // Half-width katakana arrive full-width. Python reads the JIS pairs of "～" and "－" as
    // WAVE DASH and MINUS SIGN (the JIS meaning); Windows readers show them as typed.
    const auto asJisReads = [](QString text) {
        return text.replace(QChar(0xFF5E), QChar(0x301C)).replace(QChar(0xFF0D), QChar(0x2212));
    };
    const QString expectedSubject =
        asJisReads(QStringLiteral("【重要】ガイドライン改訂～第２版－のお知らせ："
                                  "令和八年度 全社安全衛生講習会の日程と会場のご案内"));
    const QStringList to = {QStringLiteral("hanako@example.jp"), QStringLiteral("taro@example.jp")};
    const QStringList names = {QStringLiteral("山田 花子"), QStringLiteral("taro")};
    QStringList ids;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject mail = readAsMailReader(stored[std::size_t(i)].data);
        EXPECT_EQ(strings(mail[QStringLiteral("problems")]), QStringList());
        // The only complaint: the client puts "<" right after the sender's encoded name, and
        // readers decode it all the same.
        for (const QString& defect : strings(mail[QStringLiteral("defects")]))
            EXPECT_EQ(defect, QStringLiteral("From: missing trailing whitespace after encoded-word"));
        EXPECT_EQ(mail[QStringLiteral("subject")].toString(), expectedSubject);
        EXPECT_EQ(mail[QStringLiteral("from_name")].toString(), QStringLiteral("テサリー商事　総務部"));
        EXPECT_EQ(mail[QStringLiteral("from_address")].toString(), sender);
        EXPECT_EQ(strings(mail[QStringLiteral("to")]), QStringList{to[i]});
        EXPECT_EQ(mail[QStringLiteral("content_type")].toString(), QStringLiteral("text/plain"));
        EXPECT_EQ(mail[QStringLiteral("charset")].toString(), QStringLiteral("iso-2022-jp"));
        const QDateTime date =
            QDateTime::fromString(mail[QStringLiteral("date")].toString(), Qt::ISODate);
        EXPECT_TRUE(date.isValid());
        EXPECT_LE(std::abs(date.secsTo(QDateTime::currentDateTime())), 600);
        const QString id = mail[QStringLiteral("message_id")].toString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^<[^<>@\\s]+@[^<>@\\s]+>$")).match(id).hasMatch())
            << id.toStdString();
        ids << id;
        // The client's empty line, the addressee line, then the body as typed, dots and all.
        QStringList body = {QString(), names[i] + QStringLiteral(" 様"), typed[0], typed[1],
                            QStringLiteral("ハンカクカタカナデス。パピプ「ヴア゛カ゜、・」")};
        body << typed.mid(3, 4) << asJisReads(typed[7]);
        EXPECT_EQ(mail[QStringLiteral("body")].toString(), body.join(QLatin1Char('\n')) + QLatin1Char('\n'));
    }
    EXPECT_NE(ids[0], ids[1]);
    // The Subject needed folding: more than one encoded word, on more than one line.
    EXPECT_TRUE(stored[0].data.contains("\r\n =?ISO-2022-JP?B?"));
}

// The NEC special characters (circled digits, "㈱", Roman numerals) are in code page 932 and go
// out as JIS row 13, as Windows mailers send them. Python's own codec stops at that row; readers
// that read ISO-2022-JP as code page 932 does get the text back.
TEST(SendRun, NecSpecialCharactersGoOutAsJisRow13) {
    const QString sender = uniqueSender(QStringLiteral("nec-row13"));
    App app(runSettings(sender, {{QStringLiteral("UserMei"), QStringLiteral("㈱テサリー")}}));
    app.typeRecipient(QStringLiteral("a@example.jp"));
    const QString subject = QStringLiteral("①㈱の会合～Ⅲ期～");
    app.edit("Edt_Subject")->setText(subject);
    app.setBody(QStringLiteral("①②③ ㈱ № ℡ Ⅰ\nｱｲｳ"));
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_TRUE(stored[0].data.contains("\x1b$B-!")); // "①" as JIS 2D21
    const QJsonObject mail = readAsMailReader(stored[0].data, true);
    EXPECT_EQ(strings(mail[QStringLiteral("problems")]), QStringList());
    EXPECT_EQ(mail[QStringLiteral("subject")].toString(), subject);
    EXPECT_EQ(mail[QStringLiteral("from_name")].toString(), QStringLiteral("㈱テサリー"));
    EXPECT_EQ(mail[QStringLiteral("body")].toString(), QStringLiteral("\n①②③ ㈱ № ℡ Ⅰ\nアイウ\n"));
}

// --- The charset setting ---

// The message without the two header lines that differ from send to send.
QByteArray withoutDateAndId(const QByteArray& data) {
    QList<QByteArray> lines = data.split('\n');
    lines.removeIf([](const QByteArray& line) {
        return line.startsWith("Date: ") || line.startsWith("Message-ID: ");
    });
    return lines.join('\n');
}

// Every character of NEC row 13 (87 40 .. 87 9C), in code order.
QString necRow13() {
    QString text;
    for (int trail = 0x40; trail <= 0x9C; ++trail) {
        // A pair that is no character reads as U+FFFD and the trail byte on its own.
        const QString c = tessaly::fromSjis(std::string{'\x87', static_cast<char>(trail)});
        if (c.size() == 1)
            text += c;
    }
    return text;
}

constexpr int kCharsetAuto = 1;
constexpr int kCharsetUtf8 = 2;

TEST(Charset, AutomaticSendsUtf8OnlyTheMessagesThatNeedIt) {
    const QString sender = uniqueSender(QStringLiteral("auto"));
    const IniValues settings =
        runSettings(sender, {{QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")},
                             {QStringLiteral("EverySend"), QStringLiteral("boss@example.jp")},
                             {QStringLiteral("ChkBox_EverySend"), QStringLiteral("1")}});
    const std::string hanako = sjis(QStringLiteral("山田 花子 <hanako@example.jp>")).toStdString();
    const QString takahashi = QStringLiteral("髙橋 一郎 <ichiro@example.jp>");
    const auto run = [&](int charset, const std::vector<std::string>& recipients) {
        App app(settings);
        app.program->settings().Charset = charset;
        app.main().addRecipients(recipients);
        app.edit("Edt_Subject")->setText(QStringLiteral("会議のお知らせ"));
        app.setBody(QStringLiteral("各位\n明日は①から。"));
        app.tool("TB_Send")->click();
        expectIdleAfterRun(app);
        // The send log keeps the name in code page 932, as ever.
        if (recipients.size() == 3) {
            EXPECT_TRUE(app.dir.read(QStringLiteral("Log.txt"))
                            .split('\n')[1]
                            .endsWith(",\"" + sjis(QStringLiteral("髙橋 一郎")) + "\"\r"));
        }
    };
    run(kCharsetAuto, {hanako, sjis(takahashi).toStdString(), "taro@example.jp"});
    run(0, {hanako, "taro@example.jp"}); // what ISO-2022-JP mode sends without 髙橋

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 7u);
    // Hanako's and Taro's messages are those of ISO-2022-JP mode, byte for byte (the circled
    // digit included, as JIS row 13).
    EXPECT_EQ(withoutDateAndId(stored[0].data), withoutDateAndId(stored[4].data));
    EXPECT_EQ(withoutDateAndId(stored[2].data), withoutDateAndId(stored[5].data));
    EXPECT_TRUE(stored[0].data.contains("charset=iso-2022-jp\r\n"));

    // Takahashi's message, and the notify copy that lists him, went whole as UTF-8.
    const struct {
        std::size_t index;
        QString subject;
        QString body;
    } utf8[] = {
        {1, QStringLiteral("会議のお知らせ"),
         QStringLiteral("\n髙橋 一郎 様\n各位\n明日は①から。\n")},
        {3, QStringLiteral("会議のお知らせ（毎回通知）"),
         QStringLiteral("\n各位\n明日は①から。\n----------------------------------------\n"
                        "<○○　様>で宛先編集されました。\n") +
             tessaly::fromSjis(hanako) + QStringLiteral("\n") + takahashi +
             QStringLiteral("\ntaro@example.jp\n")},
    };
    for (const auto& want : utf8) {
        SCOPED_TRACE(want.index);
        const QJsonObject mail = readAsMailReader(stored[want.index].data);
        EXPECT_EQ(strings(mail[QStringLiteral("problems")]), QStringList());
        EXPECT_EQ(strings(mail[QStringLiteral("defects")]), QStringList());
        EXPECT_EQ(mail[QStringLiteral("charset")].toString(), QStringLiteral("utf-8"));
        EXPECT_EQ(mail[QStringLiteral("transfer_encoding")].toString(), QStringLiteral("base64"));
        EXPECT_EQ(mail[QStringLiteral("subject")].toString(), want.subject);
        EXPECT_EQ(mail[QStringLiteral("from_name")].toString(), QStringLiteral("山田太郎"));
        EXPECT_EQ(mail[QStringLiteral("from_address")].toString(), sender);
        EXPECT_EQ(mail[QStringLiteral("body")].toString(), want.body);
    }
    EXPECT_EQ(stored[1].rcptTos, QStringList{QStringLiteral("ichiro@example.jp")});

    // Readers of the two forms of one run read the same lines: the client's empty line first
    // (a base64 body carries it inside), then the addressee line, then the body.
    const QStringList jisLines =
        readAsMailReader(stored[0].data, true)[QStringLiteral("body")].toString().split(QLatin1Char('\n'));
    const QStringList utf8Lines =
        readAsMailReader(stored[1].data)[QStringLiteral("body")].toString().split(QLatin1Char('\n'));
    ASSERT_EQ(jisLines.size(), utf8Lines.size()) << jisLines.join(QLatin1Char('|')).toStdString() << " / "
                                                 << utf8Lines.join(QLatin1Char('|')).toStdString();
    for (qsizetype i = 0; i < jisLines.size(); ++i) {
        SCOPED_TRACE(i);
        if (i == 1) {
            EXPECT_EQ(jisLines[i], QStringLiteral("山田 花子 様"));
            EXPECT_EQ(utf8Lines[i], QStringLiteral("髙橋 一郎 様"));
        } else {
            EXPECT_EQ(jisLines[i], utf8Lines[i]);
        }
    }
    EXPECT_EQ(jisLines[0], QString());
}

TEST(Charset, Utf8CarriesEveryCharacterOfTheCodePageAsTyped) {
    const QString sender = uniqueSender(QStringLiteral("utf8"));
    const QString name = QStringLiteral("髙﨑德 ㈱テサリー");
    App app(runSettings(sender, {{QStringLiteral("UserMei"), name},
                                 {QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")},
                                 {QStringLiteral("Keisyou"), QStringLiteral("様")}}));
    app.program->settings().Charset = kCharsetUtf8;
    app.main().addRecipients({sjis(QStringLiteral("德永 <toku@example.jp>")).toStdString()});
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    const QString subject = QStringLiteral("①②③㈱㍻髙﨑のご案内：令和八年度 全社安全衛生講習会の"
                                           "日程と会場について～ｶﾞｲﾄﾞ");
    app.edit("Edt_Subject")->setText(subject);
    QStringList typed = {QStringLiteral("①②③ ㈱ ㍻ 髙 﨑"), QStringLiteral("ｶﾞｲﾄﾞ ～－"),
                         QStringLiteral(".dot"), QString()};
    const QString row13 = necRow13();
    ASSERT_EQ(row13.size(), 83);
    for (qsizetype i = 0; i < row13.size(); i += 16)
        typed << row13.mid(i, 16);
    const auto stored = sendLines(app, typed, sender);
    ASSERT_EQ(stored.size(), 2u);
    const QStringList firstLines = {QStringLiteral("德永 様"), QStringLiteral("taro 様")};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const QJsonObject mail = readAsMailReader(stored[std::size_t(i)].data);
        EXPECT_EQ(strings(mail[QStringLiteral("problems")]), QStringList());
        EXPECT_EQ(strings(mail[QStringLiteral("defects")]), QStringList());
        EXPECT_EQ(mail[QStringLiteral("charset")].toString(), QStringLiteral("utf-8"));
        EXPECT_EQ(mail[QStringLiteral("subject")].toString(), subject);
        EXPECT_EQ(mail[QStringLiteral("from_name")].toString(), name);
        EXPECT_EQ(mail[QStringLiteral("body")].toString(),
                  QLatin1Char('\n') + firstLines[i] + QLatin1Char('\n') + typed.join(QLatin1Char('\n')) +
                      QLatin1Char('\n'));
        // The Subject folded over several lines of at most 78 characters.
        QList<QByteArray> raw;
        parse(stored[std::size_t(i)].data, &raw);
        EXPECT_GE(foldedLines(raw, sender), 2);
        for (char c : stored[std::size_t(i)].data)
            EXPECT_LT(static_cast<unsigned char>(c), 0x80);
    }
    // The stored files stay in code page 932.
    EXPECT_EQ(app.dir.read(QStringLiteral("SendData.txt")),
              sjis(typed.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")));
    EXPECT_TRUE(app.dir.read(QStringLiteral("Log.txt")).contains(sjis(subject)));
}

// Code page 932 writes the IBM extensions under two codes; the NEC-selected one (lead bytes ED,
// EE) comes only from files, such as an address book written on Windows.
TEST(Charset, NecSelectedIbmCodesFromTheAddressBook) {
    const QString sender = uniqueSender(QStringLiteral("nec-selected"));
    const QByteArray book = sjis(QStringLiteral("\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                                "\"G\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                                "\"G\",\"M\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                                "\"G\",\"M\",\"")) +
                            "\xED\x40" + sjis(QStringLiteral("田 花子\",\"hanako@example.jp\",\"0\"\r\n"));
    App app(runSettings(sender, {{QStringLiteral("ChkBox_Atesaki"), QStringLiteral("1")}}), book);
    app.typeRecipient(QStringLiteral("花子"));
    ASSERT_EQ(app.recipientTexts(), QStringList{QStringLiteral("纊田 花子 <hanako@example.jp>")});
    app.edit("Edt_Subject")->setText(QStringLiteral("お知らせ"));
    app.setBody(QStringLiteral("本文"));

    // ISO-2022-JP has no code for it: refused before anything is sent, and the user is told how
    // to send it all the same.
    app.tool("TB_Send")->click();
    EXPECT_EQ(app.dialogs.texts(),
              QStringList{QStringLiteral("宛先 1 件目の 1 文字目の「纊」(U+7E8A)はメールでは送れない"
                                         "文字です（ISO-2022-JP にありません）。「送信サーバーの詳細」"
                                         "の「文字コード」を自動か UTF-8 にすると、UTF-8 で送れます。")});
    EXPECT_TRUE(RealSmtpServer::messagesFrom(sender).empty());
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());

    app.dialogs.clear();
    app.program->settings().Charset = kCharsetAuto;
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);
    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u);
    const QJsonObject mail = readAsMailReader(stored[0].data);
    EXPECT_EQ(strings(mail[QStringLiteral("problems")]), QStringList());
    EXPECT_EQ(mail[QStringLiteral("charset")].toString(), QStringLiteral("utf-8"));
    EXPECT_EQ(mail[QStringLiteral("body")].toString(), QStringLiteral("\n纊田 花子 様\n本文\n"));
}

TEST(SendRun, StopDuringTheLoopFinishesTheCurrentMessageOnly) {
    const QString sender = uniqueSender(QStringLiteral("stop"));
    App app(runSettings(sender, {{QStringLiteral("EverySend"), QStringLiteral("boss@example.jp")},
                                 {QStringLiteral("ChkBox_EverySend"), QStringLiteral("1")}}));
    for (const char* to : {"a@example.jp", "b@example.jp", "c@example.jp"})
        app.typeRecipient(QString::fromLatin1(to));
    app.edit("Edt_Subject")->setText(QStringLiteral("停止"));
    app.setBody(QStringLiteral("本文"));
    // The user presses stop while the first message is on its way.
    app.main().smtpClient().OnSuccess = [&](QObject*) { app.tool("TB_Stop")->click(); };
    app.tool("TB_Send")->click();
    expectIdleAfterRun(app);

    const auto stored = RealSmtpServer::messagesFrom(sender);
    ASSERT_EQ(stored.size(), 1u); // no further recipient, no notify copy
    EXPECT_EQ(stored[0].rcptTos, QStringList{QStringLiteral("a@example.jp")});
    EXPECT_EQ(app.dir.read(QStringLiteral("SendData.txt")), sjis(QStringLiteral("本文\r\n")));
    EXPECT_EQ(app.dir.read(QStringLiteral("Log.txt")).count('\n'), 1);
}

TEST(SendRun, StopDuringTheConversionEndsBeforeConnecting) {
    const QString sender = uniqueSender(QStringLiteral("stop-early"));
    App app(runSettings(sender));
    app.main().setOsVersion(4, 0); // no host check: the first dispatch is after the conversion
    app.typeRecipient(QStringLiteral("a@example.jp"));
    app.edit("Edt_Subject")->setText(QStringLiteral("停止"));
    QTimer::singleShot(0, app.tool("TB_Stop"), [&] { app.tool("TB_Stop")->click(); });
    app.tool("TB_Send")->click();
    EXPECT_TRUE(RealSmtpServer::messagesFrom(sender).empty());
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_TRUE(app.tool("TB_Clear")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    EXPECT_EQ(app.main().statusText(), QStringLiteral("文字コード変換中！"));
    EXPECT_TRUE(app.dir.read(QStringLiteral("SendData.txt")).isEmpty());
}

} // namespace
