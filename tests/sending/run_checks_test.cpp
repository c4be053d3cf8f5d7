// What the run refuses before anything is sent, in the words the user reads.
#include "sending/run_checks.h"

#include "fixtures/sjis.h"

#include <gtest/gtest.h>

namespace {

using namespace tessaly;

const QString kAdvice = QStringLiteral("「送信サーバーの詳細」の「文字コード」を自動か UTF-8 に"
                                       "すると、UTF-8 で送れます。");

TEST(RunChecks, SubjectRefusals) {
    const QString empty = QStringLiteral("Subjectが入力されていません");
    const QString quote = QStringLiteral("Subjectには ”は使用できません\r\n（制限文字です）");
    const QString comma = QStringLiteral("Subjectには ，は使用できません\r\n（制限文字です）");
    const std::pair<QString, QString> rows[] = {
        {QString(), empty},          {QStringLiteral("無題"), empty},
        {QStringLiteral("   "), {}}, {QStringLiteral("a\"b"), quote},
        {QStringLiteral("a,b"), comma}, {QStringLiteral("a,b\"c"), quote},
        {QStringLiteral("全角，カンマ"), {}}, {QStringLiteral("全角”引用符"), {}},
    };
    for (const auto& [subject, refusal] : rows)
        EXPECT_EQ(SubjectRefusal(subject), refusal) << subject.toStdString();
}

// ISO-2022-JP has no form for the IBM extensions (under both their codes) and user-defined
// characters; UTF-8 carries every character but no byte that is none. The first refusal names
// its field, character and column.
TEST(RunChecks, TextsTheChosenCodeCannotCarry) {
    RunMail mail;
    mail.subjectSjis = sjis("あ漢字①㈱ｱ");
    mail.bodyLinesSjis = {sjis("一行目"), sjis("ab\u2170c")}; // ⅰ: FA 40
    mail.recipientsSjis = {"a@example.jp", "\xED\x40 <b@example.jp>"}; // the NEC-selected 纊
    RunSettings settings;
    EXPECT_EQ(SendRefusal(mail, settings),
              QStringLiteral("本文 2 行目の 3 文字目の「ⅰ」(U+2170)はメールでは送れない文字です"
                             "（ISO-2022-JP にありません）。") + kAdvice);
    mail.bodyLinesSjis.pop_back();
    EXPECT_EQ(SendRefusal(mail, settings),
              QStringLiteral("宛先 2 件目の 1 文字目の「纊」(U+7E8A)はメールでは送れない文字です"
                             "（ISO-2022-JP にありません）。") + kAdvice);
    settings.userMeiSjis = "\xF0\x40"; // user-defined
    EXPECT_TRUE(SendRefusal(mail, settings).startsWith(QStringLiteral("発信者名の 1 文字目の")));

    for (const MessageCharset charset : {MessageCharset::Auto, MessageCharset::Utf8}) {
        settings.charset = charset;
        EXPECT_TRUE(SendRefusal(mail, settings).isEmpty());
        mail.recipientsSjis.push_back("a\x85\x40");
        EXPECT_EQ(SendRefusal(mail, settings),
                  QStringLiteral("宛先 3 件目に Shift-JIS の文字として読めないバイトがあります。"
                                 "ファイルの内容を確かめてください。"));
        mail.recipientsSjis.pop_back();
    }
}

TEST(RunChecks, APortThatIsNoNumber) {
    RunSettings settings;
    settings.portSjis = "";
    EXPECT_EQ(PortRefusal(settings), QStringLiteral("'' は正しい整数値ではありません。"));
    settings.port = 25;
    EXPECT_TRUE(PortRefusal(settings).isEmpty());
}

// The addresses a server may be given in MAIL and RCPT; anything else would change the command
// or go nowhere.
TEST(RunChecks, Mailboxes) {
    const char* const sound[] = {"a@example.jp", "first.last+tag@mail.example.co.jp",
                                 "o'neil@example.com", "\"quoted local\"@example.jp",
                                 "x@[192.0.2.1]", "x@[IPv6:2001:db8::1]"};
    for (const char* address : sound)
        EXPECT_TRUE(MailboxFault(address).isEmpty()) << address;
    const std::pair<std::string, QString> faulty[] = {
        {"", QStringLiteral("アドレスがありません")},
        {"inj x@example.com", QStringLiteral("空白があります")},
        {"inj<>@example.com", QStringLiteral("「<」か「>」があります")},
        {"x@example.com> NOTIFY=SUCCESS", QStringLiteral("空白があります")},
        {"x@example.com>", QStringLiteral("「<」か「>」があります")},
        {"a\tb@example.jp", QStringLiteral("改行などの制御文字があります")},
        {std::string("a\0b@example.jp", 14), QStringLiteral("改行などの制御文字があります")},
        {"example.jp", QStringLiteral("「@」がありません")},
        {"a@b@example.jp", QStringLiteral("「@」が二つ以上あります")},
        {"\"injrcpt@example.com", QStringLiteral("「@」の前に、アドレスに使えない書き方があります")},
        {"a..b@example.jp", QStringLiteral("「@」の前に、アドレスに使えない書き方があります")},
        {".a@example.jp", QStringLiteral("「@」の前に、アドレスに使えない書き方があります")},
        {"a@", QStringLiteral("「@」の後にドメインがありません")},
        {"a@localhost", QStringLiteral("「@」の後が「example.jp」のようなドメインではありません")},
        {"a@example.jp.", QStringLiteral("「@」の後が「example.jp」のようなドメインではありません")},
        {"a@-x.example.jp", QStringLiteral("「@」の後が「example.jp」のようなドメインではありません")},
        {"a@exa_mple.jp", QStringLiteral("「@」の後が「example.jp」のようなドメインではありません")},
        {sjis("あ@example.jp"), QStringLiteral("全角文字など、アドレスに使えない文字があります")},
        {std::string(65, 'a') + "@example.jp", QStringLiteral("長すぎます")},
    };
    for (const auto& [address, fault] : faulty)
        EXPECT_EQ(MailboxFault(address), fault) << address;
}

// One message for the whole list, each bad entry with its number and source; the addressee name
// becomes the body's first line, so a break in it is refused naming the entry.
TEST(RunChecks, EveryBadRecipientInOneMessage) {
    RunMail mail;
    mail.recipientsSjis = {"ok@example.jp", "inj x@example.com", sjis("山田 <yamada@example.jp>"),
                           sjis("名前\n続き <n@example.jp>"), "<x@example.com> NOTIFY=SUCCESS",
                           "last@example"};
    mail.recipientSources = {QStringLiteral("手入力"), QStringLiteral("アドレス帳"), {},
                             QStringLiteral("ファイル list.txt")};
    EXPECT_EQ(SendRefusal(mail, RunSettings()),
              QStringLiteral("次の宛先はメールアドレスとして正しくないため、送信を始めませんでした。"
                             "直すか宛先一覧から削除してから、もう一度送信してください。\r\n"
                             "・2件目（アドレス帳）：inj x@example.com　… 空白があります\r\n"
                             "・4件目（ファイル list.txt）：名前 続き <n@example.jp>　… 宛名に改行があります\r\n"
                             "・5件目（宛先一覧）：<x@example.com> NOTIFY=SUCCESS　… 「>」の後に文字があります\r\n"
                             "・6件目（宛先一覧）：last@example　… 「@」の後が「example.jp」のようなドメインではありません"));
    // A later run that takes its recipients from elsewhere names its own sources.
    EXPECT_EQ(RecipientsRefusal({"a b@example.jp"}, [](std::size_t i) {
                  return QStringLiteral("表 %1 行目").arg(i + 2);
              }).section(QStringLiteral("\r\n"), 1),
              QStringLiteral("・1件目（表 2 行目）：a b@example.jp　… 空白があります"));
}

// A Subject is one header line: a break in it would start a header of its own.
TEST(RunChecks, SubjectWithALineBreak) {
    RunMail mail;
    mail.recipientsSjis = {"a@example.jp"};
    for (const char* subject : {"件名\r\nBcc: x@evil.test", "a\nb", "a\rb"}) {
        mail.subjectSjis = sjis(subject);
        EXPECT_EQ(SendRefusal(mail, RunSettings()),
                  QStringLiteral("件名に改行があります。件名を1行にしてから、もう一度送信してください。"));
    }
}

} // namespace
