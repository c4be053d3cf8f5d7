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
    mail.recipientsSjis = {"a@example.jp", "\xED\x40@example.jp"}; // the NEC-selected 纊
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

} // namespace
