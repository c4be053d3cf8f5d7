// The message builder against exact wire bytes, one row per case.
#include "smtp/message_builder.h"

#include "common/cp932.h"
#include "fixtures/sjis.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using tessaly::MessageCharset;
using Lines = std::vector<std::string>;

tessaly::MessageTexts textsOf(const std::string& subject, const std::string& name,
                              const Lines& body) {
    tessaly::MessageTexts texts;
    texts.fromAddress = "me@example.jp";
    texts.fromNameSjis = sjis(name);
    texts.replyTo = "r@example.jp";
    texts.localProgram = "Tessaly27S";
    texts.subjectSjis = sjis(subject);
    for (const std::string& line : body)
        texts.bodySjis.push_back(sjis(line));
    return texts;
}

const std::string kDate = "Mon, 07 Dec 2026 09:05:03 +0900";
const std::string kId = "<1@example.jp>";
const std::string kLongSubject =
    "令和八年度第三四半期における全社員向け安全衛生講習会の開催日程と会場変更のご案内";
const std::string kLongUtf8Subject =
    "髙﨑①㈱㍻の会合と德川家の歴史講座のご案内について詳しくお知らせします";

Lines header(const Lines& from, const Lines& subject, bool utf8) {
    Lines h = from;
    h.push_back("To: a@example.jp");
    h.insert(h.end(), subject.begin(), subject.end());
    h.insert(h.end(), {"X-Mailer: Tessaly27S", "Reply-To: r@example.jp", "Date: " + kDate,
                       "Mime-Version: 1.0"});
    if (utf8) {
        h.push_back("Content-Type: text/plain; charset=UTF-8");
        h.push_back("Content-Transfer-Encoding: base64");
    } else {
        h.push_back("Content-Type: text/plain; charset=iso-2022-jp");
    }
    h.push_back("Message-ID: " + kId);
    return h;
}

TEST(MessageBuilder, GivesTheWireBytesOfEachCase) {
    const Lines isoFrom = {"From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?=<me@example.jp>"};
    const Lines isoBody = {"\x1b$BB@O:\x1b(B \x1b$BMM\x1b(B", "\x1b$B3F0L\x1b(B", ".x"};
    const struct Row {
        const char* name;
        MessageCharset charset;
        std::string subject;
        std::string fromName;
        Lines body;
        std::optional<std::string> addresseeLine;
        Lines header;
        Lines wireBody;
    } rows[] = {
        {"ISO-2022-JP, short Subject", MessageCharset::Iso2022Jp, "会議", "山田", {"各位", ".x"},
         "太郎 様",
         header(isoFrom, {"Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?="}, false), isoBody},
        {"ISO-2022-JP, long Subject folded into whole words", MessageCharset::Iso2022Jp,
         kLongSubject, "山田", {"各位", ".x"}, "太郎 様",
         header(isoFrom,
                {"Subject: =?ISO-2022-JP?B?GyRCTmFPQkgsRy9FWUJoOzA7TUg+NHwkSyQqJDEka0E0GyhC?=",
                 " =?ISO-2022-JP?B?GyRCPFIwdzh+JDEwQkE0MVJAODlWPSwycSROMys6RUZ8RHgkSDJxGyhC?=",
                 " =?ISO-2022-JP?B?GyRCPmxKUTk5JE4kNDBGRmIbKEI=?="},
                false),
         isoBody},
        {"automatic, everything has an ISO-2022-JP form", MessageCharset::Auto, "会議", "山田",
         {"各位", ".x"}, "太郎 様",
         header(isoFrom, {"Subject: =?ISO-2022-JP?B?GyRCMnE1RBsoQg==?="}, false), isoBody},
        // A UTF-8 body begins with the empty line the client sends before every body.
        {"UTF-8, folded at character boundaries; base64 body in lines of 76",
         MessageCharset::Utf8, kLongUtf8Subject, "髙橋", {"①②③ ㈱ ㍻ 髙 﨑", "本文の二行目です。ABC"},
         "髙橋 様",
         header({"From: =?UTF-8?B?6auZ5qmL?= <me@example.jp>"},
                {"Subject: =?UTF-8?B?6auZ76iR4pGg44ix442744Gu5Lya5ZCI44Go5b635bed5a6244Gu5q20?=",
                 " =?UTF-8?B?5Y+y6Kyb5bqn44Gu44GU5qGI5YaF44Gr44Gk44GE44Gm6Kmz44GX44GP44GK?=",
                 " =?UTF-8?B?55+l44KJ44Gb44GX44G+44GZ?="},
                true),
         {"DQrpq5nmqYsg5qeYDQrikaDikaHikaIg44ixIOONuyDpq5kg76iRDQrmnKzmlofjga7kuozooYzn",
          "m67jgafjgZnjgIJBQkMNCg=="}},
        {"automatic, only the addressee line lacks an ISO-2022-JP form; empty sender name",
         MessageCharset::Auto, "会議", "", {}, "髙橋 様",
         header({"From: <me@example.jp>"}, {"Subject: =?UTF-8?B?5Lya6K2w?="}, true),
         {"DQrpq5nmqYsg5qeYDQo="}},
        {"ISO-2022-JP, empty sender name and body, no addressee line",
         MessageCharset::Iso2022Jp, "Hello", "", {}, std::nullopt,
         header({"From: =?ISO-2022-JP?B?" "?=<me@example.jp>"},
                {"Subject: =?ISO-2022-JP?B?SGVsbG8=?="}, false),
         {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const tessaly::MessageBuilder builder(textsOf(row.subject, row.fromName, row.body),
                                              row.charset);
        std::optional<std::string> line;
        if (row.addresseeLine)
            line = sjis(*row.addresseeLine);
        const tessaly::WireMessage m = builder.build({"a@example.jp", line, kDate, kId, {}});
        EXPECT_EQ(m.utf8, std::find(row.header.begin(), row.header.end(),
                                    "Content-Transfer-Encoding: base64") != row.header.end());
        EXPECT_EQ(m.header, row.header);
        EXPECT_EQ(m.body, row.wireBody);
    }
}

// Automatic mode decides per message on every text it carries; the NEC-selected IBM codes
// (lead bytes ED, EE) count as the IBM extensions they stand for.
TEST(MessageBuilder, AutomaticModeChoosesUtf8OnlyForTextWithoutIsoForm) {
    const std::string necSelected = "\xED\x40"; // 纊 under its NEC-selected code
    const struct Row {
        const char* name;
        std::string subjectSjis;
        std::string fromNameSjis;
        std::string bodyLineSjis;
        std::optional<std::string> addresseeLine;
        bool utf8;
    } rows[] = {
        {"JIS X 0208, NEC row 13, half-width katakana", sjis("①㈱の会"), sjis("ｶﾞｲﾄﾞ"),
         sjis("Ⅲ期"), sjis("山田 様"), false},
        {"no addressee line", sjis("会"), sjis("山田"), sjis("本文"), std::nullopt, false},
        {"IBM extension in the Subject", sjis("髙橋"), "", "", std::nullopt, true},
        {"NEC-selected IBM code in the sender name", sjis("会"), necSelected, "", std::nullopt,
         true},
        {"IBM extension code in a body line", sjis("会"), "", "\xFA\x40", std::nullopt, true},
        {"user-defined character in the addressee line", sjis("会"), "", "", "\xF0\x40", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        tessaly::MessageTexts texts;
        texts.subjectSjis = row.subjectSjis;
        texts.fromNameSjis = row.fromNameSjis;
        texts.bodySjis = {row.bodyLineSjis};
        EXPECT_EQ(tessaly::MessageBuilder(texts, MessageCharset::Auto).sendsUtf8(row.addresseeLine),
                  row.utf8);
        EXPECT_FALSE(
            tessaly::MessageBuilder(texts, MessageCharset::Iso2022Jp).sendsUtf8(row.addresseeLine));
        EXPECT_TRUE(tessaly::MessageBuilder(texts, MessageCharset::Utf8).sendsUtf8(row.addresseeLine));
    }
}

// A merged row's message takes the lines it shares with the run's as the run's builder converted
// them: it is the one a builder of its own texts makes, in every mode, whichever lines differ.
TEST(MessageBuilder, ARowSharingTheRunsLinesBuildsTheSameMessage) {
    const tessaly::MessageTexts run = textsOf("ご請求額", "総務部", {"{{会社}} 様", "", "ご確認ください。"});
    const struct {
        const char* name;
        Lines body;
    } rows[] = {
        {"first line filled", {"株式会社山田 様", "", "ご確認ください。"}},
        {"a line without a JIS form, one line more", {"髙橋商店 様", "", "ご確認ください。", "以上"}},
        {"fewer lines", {"ｶﾞｲﾄﾞ社 様"}},
    };
    tessaly::MessageAddressee addressee;
    addressee.to = "a@example.jp";
    addressee.date = kDate;
    addressee.messageId = kId;
    for (const MessageCharset charset : {MessageCharset::Iso2022Jp, MessageCharset::Auto, MessageCharset::Utf8}) {
        const tessaly::MessageBuilder shared(run, charset);
        for (const auto& row : rows) {
            SCOPED_TRACE(row.name);
            tessaly::MessageTexts own = run;
            own.bodySjis.clear();
            for (const std::string& line : row.body)
                own.bodySjis.push_back(sjis(line));
            // The run's builder makes the row's message as a builder of the row's own texts does.
            const auto expectBuiltAsAlone = [&] {
                const tessaly::WireMessage alone = tessaly::MessageBuilder(own, charset).build(addressee);
                const tessaly::WireMessage built =
                    shared.buildOwn(addressee, own.subjectSjis, own.bodySjis, own.attachments);
                EXPECT_EQ(built.header, alone.header);
                EXPECT_EQ(built.body, alone.body);
                EXPECT_EQ(built.utf8, alone.utf8);
            };
            expectBuiltAsAlone();
            // The same row with a Subject of its own.
            own.subjectSjis = sjis("ご請求額（髙橋商店）");
            expectBuiltAsAlone();
        }
    }
}

// The ISO-2022-JP header value counts its words' lengths from one conversion; it must fold
// exactly where encoding every candidate word would, whatever the mix of modes and the room.
TEST(EncodedHeaderValue, FoldsAsEncodingEachWordWould) {
    const std::string pieces[] = {sjis("請求"), "A", sjis("株式会社"), "12,300", sjis("円"), " ",
                                  sjis("ｶﾞｲﾄﾞ"), "\x81", "\xA0x", sjis("髙")};
    std::vector<std::string> texts = {"", sjis(kLongSubject), sjis(kLongSubject) + "\x81"};
    for (std::size_t seed = 0; seed < 400; ++seed) {
        std::string text;
        for (std::size_t i = 0, n = seed % 37; i < n; ++i)
            text += pieces[(seed * 7 + i * (seed % 5 + 1)) % (seed % 3 ? 6 : 10)];
        texts.push_back(text);
    }
    for (const std::string& text : texts) {
        for (const std::size_t prefix : {std::size_t{6}, std::size_t{9}, std::size_t{40}, std::size_t{80}}) {
            SCOPED_TRACE(testing::Message() << "prefix " << prefix << ", text " << testing::PrintToString(text));
            EXPECT_EQ(tessaly::EncodedHeaderValue(text, prefix),
                      tessaly::FoldedEncodedWords(text, prefix, tessaly::EncodedWord));
        }
    }
}

TEST(FirstCharacterWithoutJisForm, FindsTheColumnOfTheFirstOne) {
    const struct Row {
        const char* name;
        std::string sjis;
        std::optional<std::size_t> column;
    } rows[] = {
        {"empty", "", std::nullopt},
        {"ASCII, kanji, NEC row 13, half-width katakana", sjis("ab漢①㈱ｱ"), std::nullopt},
        {"last kanji of JIS X 0208 (EA A4)", "\xEA\xA4", std::nullopt},
        {"IBM extension, IBM code", "a" + sjis("髙"), 1u},
        {"NEC-selected IBM extension, lead ED", sjis("あい") + "\xED\x40", 2u},
        {"NEC-selected IBM extension, lead EE", "\xEE\xFC", 0u},
        {"user-defined", "x\xF0\x40y", 1u},
        {"lead byte at the end stands alone", "ab\x81", std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(tessaly::FirstCharacterWithoutJisForm(row.sjis), row.column);
    }
}

} // namespace
