// The attached files' part headers and Base64 text against exact bytes, and the message they
// make with the text part.
#include "smtp/message_builder.h"
#include "smtp/mime_parts.h"

#include "fixtures/sjis.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

struct PartHeaderCase {
    const char* name;
    const char* fileName; // UTF-8 here; the header gets its code page 932 bytes
    bool messageUtf8;
    Lines expected;
};

class PartHeader : public testing::TestWithParam<PartHeaderCase> {};

TEST_P(PartHeader, IsExactlyTheseLines) {
    const PartHeaderCase& c = GetParam();
    const Lines header = tessaly::AttachmentPartHeader(sjis(c.fileName), "application/pdf", c.messageUtf8);
    EXPECT_EQ(header, c.expected);
    for (const std::string& line : header)
        EXPECT_LE(line.size(), 78U) << line;
}

INSTANTIATE_TEST_SUITE_P(
    Names, PartHeader,
    testing::Values(
        PartHeaderCase{"Ascii", "report 2026.pdf", false, {"Content-Type: application/pdf; name=\"report 2026.pdf\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment; filename=\"report 2026.pdf\""}},
        PartHeaderCase{"AsciiWithQuote", "a\"b\\c.pdf", false, {"Content-Type: application/pdf; name=\"a\\\"b\\\\c.pdf\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment; filename=\"a\\\"b\\\\c.pdf\""}},
        PartHeaderCase{"Japanese", "会議資料（第3回）.xlsx", false, {"Content-Type: application/pdf;",
                        " name=\"=?ISO-2022-JP?B?GyRCMnE1RDtxTkEhSkJoGyhCMxskQjJzIUsbKEIueGxzeA==?=\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment;",
                        " filename*=ISO-2022-JP''%1B$B2q5D%3BqNA!JBh%1B%28B3%1B$B2s!K%1B%28B.xlsx;",
                        " filename=\"=?ISO-2022-JP?B?GyRCMnE1RDtxTkEhSkJoGyhCMxskQjJzIUsbKEIueGxz?=",
                        " =?ISO-2022-JP?B?eA==?=\""}},
        PartHeaderCase{"JapaneseInUtf8Message", "会議資料（第3回）.xlsx", true, {"Content-Type: application/pdf;",
                        " name=\"=?UTF-8?B?5Lya6K2w6LOH5paZ77yI56ysM+Wbnu+8iS54bHN4?=\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment;",
                        " filename*0*=UTF-8''%E4%BC%9A%E8%AD%B0%E8%B3%87%E6%96%99%EF%BC%88%E7%AC%AC3;",
                        " filename*1*=%E5%9B%9E%EF%BC%89.xlsx;",
                        " filename=\"=?UTF-8?B?5Lya6K2w6LOH5paZ77yI56ysM+Wbnu+8iS54bHN4?=\""}},
        PartHeaderCase{"LongFolded", "令和八年度第三四半期における全社員向け安全衛生講習会の資料.pdf", false, {"Content-Type: application/pdf;",
                        " name=\"=?ISO-2022-JP?B?GyRCTmFPQkgsRy9FWUJoOzA7TUg+NHwkSyQqJDEka0E0GyhC?=",
                        " =?ISO-2022-JP?B?GyRCPFIwdzh+JDEwQkE0MVJAODlWPSwycSROO3FOQRsoQi5wZGY=?=\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment;",
                        " filename*0*=ISO-2022-JP''%1B$BNaOBH%2CG%2FEYBh%3B0%3BMH%3E4|$K$%2A$1%1B%28B;",
                        " filename*1*=%1B$B$kA4%3CR0w8~$10BA41R%4089V%3D%2C2q$N%3BqNA%1B%28B.pdf;",
                        " filename=\"=?ISO-2022-JP?B?GyRCTmFPQkgsRy9FWUJoOzA7TUg+NHwkSyQqJDEbKEI=?=",
                        " =?ISO-2022-JP?B?GyRCJGtBNDxSMHc4fiQxMEJBNDFSQDg5Vj0sMnEkTjtxTkEbKEIucGRm?=\""}},
        PartHeaderCase{"WithoutIsoForm", "髙橋さんの見積書.pdf", false, {"Content-Type: application/pdf;",
                        " name=\"=?UTF-8?B?6auZ5qmL44GV44KT44Gu6KaL56mN5pu4LnBkZg==?=\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment;",
                        " filename*0*=UTF-8''%E9%AB%99%E6%A9%8B%E3%81%95%E3%82%93%E3%81%AE%E8%A6%8B;",
                        " filename*1*=%E7%A9%8D%E6%9B%B8.pdf;",
                        " filename=\"=?UTF-8?B?6auZ5qmL44GV44KT44Gu6KaL56mN5pu4LnBkZg==?=\""}},
        PartHeaderCase{"LineBreakInName", "a\r\nBcc: x@example.jp.pdf", false, {"Content-Type: application/pdf;",
                        " name=\"=?ISO-2022-JP?B?YQ0KQmNjOiB4QGV4YW1wbGUuanAucGRm?=\"",
                        "Content-Transfer-Encoding: base64",
                        "Content-Disposition: attachment;",
                        " filename*=ISO-2022-JP''a%0D%0ABcc%3A%20x%40example.jp.pdf;",
                        " filename=\"=?ISO-2022-JP?B?YQ0KQmNjOiB4QGV4YW1wbGUuanAucGRm?=\""}}),
    [](const testing::TestParamInfo<PartHeaderCase>& info) { return std::string(info.param.name); });

TEST(Base64Lines, BreaksEvery76CharactersAndGivesNothingForNoBytes) {
    EXPECT_EQ(tessaly::Base64Lines(""), "");
    EXPECT_EQ(tessaly::Base64Lines("abc"), "YWJj\r\n");
    const std::string bytes(58, 'x'); // one byte past a full line
    EXPECT_EQ(tessaly::Base64Lines(bytes),
              std::string(76, 'e').replace(0, 76, "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4") +
                  "\r\neA==\r\n");
}

// With files the main header says multipart where it said text, and the text part carries the
// text's own header lines and exactly the lines the message without files carries.
TEST(MultipartMessage, KeepsTheTextPartAsTheMessageWithoutFiles) {
    for (const tessaly::MessageCharset charset :
         {tessaly::MessageCharset::Iso2022Jp, tessaly::MessageCharset::Utf8}) {
        SCOPED_TRACE(static_cast<int>(charset));
        tessaly::MessageTexts texts;
        texts.fromAddress = "me@example.jp";
        texts.subjectSjis = sjis("資料送付");
        texts.bodySjis = {sjis("各位"), ".", sjis("資料を添付いたします。")};
        const tessaly::MessageAddressee to{"a@example.jp", sjis("山田 様"), "", "<1@example.jp>", ""};
        const tessaly::WireMessage plain = tessaly::MessageBuilder(texts, charset).build(to);

        auto files = std::make_shared<tessaly::MessageAttachments>();
        files->boundary = "=_B";
        const auto base64 = std::make_shared<const std::string>(tessaly::Base64Lines("%PDF"));
        files->parts.push_back({"a.pdf", "application/pdf", 4, "", base64});
        files->parts.push_back({"empty.txt", "text/plain", 0, "", std::make_shared<const std::string>()});
        texts.attachments = files;
        const tessaly::WireMessage mixed = tessaly::MessageBuilder(texts, charset).build(to);

        Lines header = plain.header;
        Lines textHeader;
        const bool utf8 = charset == tessaly::MessageCharset::Utf8;
        const auto type = std::find_if(header.begin(), header.end(), [](const std::string& l) {
            return l.rfind("Content-Type:", 0) == 0;
        });
        ASSERT_NE(type, header.end());
        textHeader.assign(type, type + (utf8 ? 2 : 1));
        *type = "Content-Type: multipart/mixed; boundary=\"=_B\"";
        if (utf8)
            header.erase(type + 1);
        EXPECT_EQ(mixed.header, header);

        Lines body{"--=_B"};
        body.insert(body.end(), textHeader.begin(), textHeader.end());
        body.emplace_back();
        if (!utf8)
            body.emplace_back(); // the empty first line the client puts before a body
        body.insert(body.end(), plain.body.begin(), plain.body.end());
        if (!utf8)
            body.emplace_back(); // the line end the boundary takes
        EXPECT_EQ(mixed.body, body);

        ASSERT_EQ(mixed.attachments.size(), 2U);
        EXPECT_EQ(mixed.boundary, "=_B");
        EXPECT_EQ(mixed.attachments[0].header[0], "Content-Type: application/pdf; name=\"a.pdf\"");
        EXPECT_EQ(mixed.attachments[0].base64.get(), base64.get()) << "shared, not copied";
        EXPECT_EQ(*mixed.attachments[1].base64, "");
    }
}

TEST(NewBoundary, IsRandomAndFitsAHeaderLine) {
    const std::string a = tessaly::NewBoundary();
    EXPECT_EQ(a.rfind("=_Tessaly_", 0), 0U);
    EXPECT_NE(a, tessaly::NewBoundary());
    EXPECT_LE(a.size(), 70U);
}

} // namespace
