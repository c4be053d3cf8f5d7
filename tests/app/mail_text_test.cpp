#include "app/mail_text.h"

#include "common/errors.h"
#include "common/text.h"
#include "jconvert/jconvert.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <set>

namespace {

std::string sjis(const char* utf8) { return tessaly::toSjis(QString::fromUtf8(utf8), QString()); }

// Decodes the encoded words of a (possibly folded) header value back to Unicode.
QString decodeWords(const std::string& value, std::vector<std::string>* words = nullptr) {
    QString text;
    const QRegularExpression word(QStringLiteral("=\\?ISO-2022-JP\\?B\\?([A-Za-z0-9+/=]*)\\?="));
    auto it = word.globalMatch(QString::fromLatin1(value.data(), qsizetype(value.size())));
    while (it.hasNext()) {
        const auto m = it.next();
        if (words)
            words->push_back(m.captured(0).toStdString());
        const QByteArray jis = QByteArray::fromBase64(m.captured(1).toLatin1());
        text += tessaly::fromSjis(jconvert::JisToSjis(jis.toStdString()));
    }
    return text;
}

TEST(ToJisLine, ConvertsOneLineAndEndsInAscii) {
    EXPECT_EQ(tessaly::ToJisLine("ABC"), "ABC");
    EXPECT_EQ(tessaly::ToJisLine(""), "");
    EXPECT_EQ(tessaly::ToJisLine(sjis("あ")), "\x1b$B$\"\x1b(B");
    EXPECT_EQ(tessaly::ToJisLine(sjis("aあb")), "a\x1b$B$\"\x1b(Bb");
}

TEST(ToJisLine, HalfWidthKanaAloneIsConvertedNotSentAsShiftJis) {
    // A line of half-width katakana alone cannot be told from EUC-JP by looking at it; it is
    // Shift-JIS here, and must go out as full-width JIS characters.
    EXPECT_EQ(tessaly::ToJisLine(sjis("ｶﾞｲﾄﾞ")), "\x1b$B%,%$%I\x1b(B");
}

TEST(EncodedWord, FramesBase64OfTheJisText) {
    EXPECT_EQ(tessaly::EncodedWord(""), "=?ISO-2022-JP?B?" "?=");
    EXPECT_EQ(tessaly::EncodedWord("abc"), "=?ISO-2022-JP?B?YWJj?=");
    EXPECT_EQ(tessaly::EncodedWord(sjis("あ")), "=?ISO-2022-JP?B?GyRCJCIbKEI=?=");
}

TEST(EncodedHeaderValue, ShortValueIsTheSingleWord) {
    const std::string subject = sjis("会議のお知らせ");
    EXPECT_EQ(tessaly::EncodedHeaderValue(subject, 9), tessaly::EncodedWord(subject));
}

TEST(EncodedHeaderValue, LongValueFoldsIntoWholeWordsOfAtMost75) {
    const QString text = QStringLiteral("令和八年度第三四半期における全社員向け安全衛生講習会の開催日程と"
                                        "会場変更についてのご案内ガイド付き ABC-123");
    const std::string value = tessaly::EncodedHeaderValue(tessaly::toSjis(text, QString()), 9);
    std::vector<std::string> words;
    EXPECT_EQ(decodeWords(value, &words), text);
    ASSERT_GT(words.size(), 2u);

    // Lines: "Subject: " + first word, then CR LF blank + each further word.
    std::size_t start = 0;
    int lineNo = 0;
    for (;;) {
        const std::size_t end = value.find("\r\n", start);
        const std::string line = value.substr(start, end == std::string::npos ? end : end - start);
        const std::size_t length = line.size() + (lineNo == 0 ? 9 : 0);
        EXPECT_LE(length, 78u) << line;
        if (lineNo > 0) {
            EXPECT_EQ(line[0], ' ');
        }
        ++lineNo;
        if (end == std::string::npos)
            break;
        start = end + 2;
    }
    for (const std::string& word : words) {
        EXPECT_LE(word.size(), 75u);
        // Each word is a whole ISO-2022-JP text: its last escape returns to ASCII.
        const QByteArray jis = QByteArray::fromBase64(
            QByteArray::fromStdString(word.substr(16, word.size() - 18)));
        const qsizetype lastEscape = jis.lastIndexOf('\x1b');
        if (lastEscape >= 0) {
            EXPECT_EQ(jis.mid(lastEscape, 3), QByteArray("\x1b(B")) << word;
        }
    }
}

TEST(SplitRecipient, TakesNameAndAddressApart) {
    struct Row {
        const char* entry;
        const char* address;
        const char* name;
    };
    const Row rows[] = {
        {"taro@example.jp", "taro@example.jp", "taro"},
        {"  taro@example.jp \t", "taro@example.jp", "taro"},
        {"nobody", "nobody", ""},
        {"山田太郎 <taro@example.jp>", "taro@example.jp", "山田太郎"},
        {"  山田 太郎  <taro@example.jp>  ", "taro@example.jp", "山田 太郎"},
        {"Taro <taro@example.jp", "taro@example.jp", "Taro"},
        {"ァ@x <a@b>", "a@b", "ァ@x"}, // 0x40 as a second byte is no "@"
    };
    for (const Row& row : rows) {
        const tessaly::RecipientParts parts = tessaly::SplitRecipient(sjis(row.entry));
        EXPECT_EQ(parts.address, sjis(row.address)) << row.entry;
        EXPECT_EQ(parts.addresseeName, sjis(row.name)) << row.entry;
    }
}

TEST(CheckJisSendable, RefusesCharactersWithoutSevenBitForm) {
    // NEC special characters and JIS X 0208 are fine.
    for (const char* ok : {"あ漢字①㈱ｱ", "ABC", ""})
        EXPECT_NO_THROW(tessaly::CheckJisSendable(sjis(ok), QString::fromUtf8(ok), QStringLiteral("件名")));

    // IBM extension (FA 40 and on) and user-defined characters have none.
    const QString ibm = QStringLiteral("ab\u2170c");   // ⅰ small roman numeral: FA 40
    try {
        tessaly::CheckJisSendable(tessaly::toSjis(ibm, QString()), ibm, QStringLiteral("件名"));
        FAIL() << "accepted";
    } catch (const tessaly::Error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("件名の 3 文字目の「ⅰ」(U+2170)はメールでは送れない文字です（ISO-2022-JP にありません）。"));
    }
    const std::string userDefined = "\xF0\x40";
    EXPECT_THROW(tessaly::CheckJisSendable(userDefined, tessaly::fromSjis(userDefined),
                                           QStringLiteral("本文")),
                 tessaly::Error);
}

// UTF-8 mail carries every character of code page 932, but no byte that is none.
TEST(CheckCp932Text, RefusesBytesThatAreNoCharacter) {
    for (const std::string& ok : {sjis("髙﨑①ｱ"), std::string("\xED\x40\xF0\x40"), std::string()})
        EXPECT_NO_THROW(tessaly::CheckCp932Text(ok, QStringLiteral("宛先 1 件目")));
    try {
        tessaly::CheckCp932Text("a\x85\x40", QStringLiteral("宛先 2 件目"));
        FAIL() << "accepted";
    } catch (const tessaly::Error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("宛先 2 件目に Shift-JIS の文字として読めないバイトがあります。"
                                 "ファイルの内容を確かめてください。"));
    }
}

TEST(Rfc5322Date, FormatsLocalTimeWithItsOffset) {
    const QDateTime t(QDate(2026, 12, 7), QTime(9, 5, 3), Qt::OffsetFromUTC, 9 * 3600);
    EXPECT_EQ(tessaly::Rfc5322Date(t), "Mon, 07 Dec 2026 09:05:03 +0900");
    const QDateTime west(QDate(2026, 1, 31), QTime(23, 59, 59),
                         Qt::OffsetFromUTC, -(3 * 3600 + 30 * 60));
    EXPECT_EQ(tessaly::Rfc5322Date(west), "Sat, 31 Jan 2026 23:59:59 -0330");
}

TEST(NewMessageId, IsUniqueAndUsesTheSenderDomain) {
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(seen.insert(tessaly::NewMessageId("me@example.jp")).second);
    const std::string id = tessaly::NewMessageId("me@example.jp");
    EXPECT_EQ(id.front(), '<');
    EXPECT_TRUE(id.ends_with("@example.jp>")) << id;
    EXPECT_TRUE(tessaly::NewMessageId("").ends_with("@tessaly.localhost>"));
}

} // namespace
