#include "smtp/run_messages.h"

#include "common/text.h"
#include "fixtures/sjis.h"
#include "jconvert/jconvert.h"

#include <gtest/gtest.h>

#include <QRegularExpression>
#include <set>

namespace {

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
    const std::string value = tessaly::EncodedHeaderValue(sjis(text).toStdString(), 9);
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

TEST(Rfc5322Date, FormatsLocalTimeWithItsOffset) {
    EXPECT_EQ(tessaly::Rfc5322Date({2026, 12, 7, 9, 5, 3, 9 * 60}), "Mon, 07 Dec 2026 09:05:03 +0900");
    EXPECT_EQ(tessaly::Rfc5322Date({2026, 1, 31, 23, 59, 59, -(3 * 60 + 30)}),
              "Sat, 31 Jan 2026 23:59:59 -0330");
    EXPECT_EQ(tessaly::Rfc5322Date({2024, 2, 29, 0, 0, 0, 0}), "Thu, 29 Feb 2024 00:00:00 +0000");
}

TEST(NewMessageId, IsUniqueAtOneTimeAndUsesTheSenderDomain) {
    const tessaly::LocalTime fixed{2026, 12, 7, 9, 5, 3, 540};
    std::set<std::string> seen;
    for (int i = 0; i < 1000; ++i)
        EXPECT_TRUE(seen.insert(tessaly::NewMessageId("me@example.jp", fixed)).second);
    const std::string id = tessaly::NewMessageId("me@example.jp", fixed);
    EXPECT_TRUE(id.starts_with("<20261207090503.")) << id;
    EXPECT_TRUE(id.ends_with("@example.jp>")) << id;
    for (const char* odd : {"", "me", "me@", "me@exa mple.jp", "me@例.jp"})
        EXPECT_TRUE(tessaly::NewMessageId(odd, fixed).ends_with("@tessaly.localhost>")) << odd;
}

// The notify copy: the run's body, the separator, the note (with the addressee line on), the
// list as it stands; a refused entry says so with the reply, on one line.
TEST(NotifyCopy, ListsTheRecipientsAndMarksTheRefusedOnes) {
    tessaly::MessageTexts run;
    run.subjectSjis = sjis("会議");
    run.bodySjis = {sjis("本文")};
    const std::vector<std::string> entries = {"a@example.jp", sjis("佐藤 <b@example.jp>")};
    const std::string separator(40, '-');

    const tessaly::NotifyCopy plain = tessaly::NotifyCopyOf(run, entries, std::nullopt);
    EXPECT_EQ(plain.texts.subjectSjis, sjis("会議（毎回通知）"));
    EXPECT_EQ(plain.addedLinesSjis, (std::vector<std::string>{separator, entries[0], entries[1]}));
    EXPECT_EQ(plain.texts.bodySjis,
              (std::vector<std::string>{sjis("本文"), separator, entries[0], entries[1]}));

    const tessaly::NotifyCopy marked = tessaly::NotifyCopyOf(
        run, entries, sjis("殿"), {{entries[1], "550-5.1.1 no such user\r\n550 5.1.1 see policy"}});
    EXPECT_EQ(marked.addedLinesSjis,
              (std::vector<std::string>{
                  separator, sjis("<○○　殿>で宛先編集されました。"), entries[0],
                  sjis("佐藤 <b@example.jp>（送信できませんでした: 550-5.1.1 no such user 550 5.1.1 "
                       "see policy）")}));
}

} // namespace
