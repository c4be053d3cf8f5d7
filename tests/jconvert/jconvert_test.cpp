// Code detection, the conversion of mail lines, half-width katakana and Base64.
#include "jconvert/jconvert.h"
#include "iconv_text.h"
#include "jis_test_bytes.h"

#include <QByteArray>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <string_view>

namespace {

using jconvert_test::Hex;
using jconvert_test::IconvText;
using jconvert_test::kEscAscii;
using jconvert_test::kEscJis;
using namespace std::string_literals;

const std::string kSjisA = "\x82\xA0";  // あ: decides a line as Shift-JIS
const std::string kEucNichi = "\xC6\xFC"; // 日: decides a line as EUC-JP

// Half-width katakana A1..DF in order, and what each one looks like full-width.
const std::string kHalfWidth = "｡｢｣､･ｦｧｨｩｪｫｬｭｮｯｰｱｲｳｴｵｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉﾊﾋﾌﾍﾎﾏﾐﾑﾒﾓﾔﾕﾖﾗﾘﾙﾚﾛﾜﾝﾞﾟ";
const std::string kFullWidth = "。「」、・ヲァィゥェォャュョッーアイウエオカキクケコサシスセソタチツテトナニヌネノ"
                               "ハヒフヘホマミムメモヤユヨラリルレロワン゛゜";
// Both are three UTF-8 bytes per character.
std::string Nth(const std::string& utf8, std::size_t k) { return utf8.substr(3 * k, 3); }

struct DetectCase {
    const char* name;
    std::string text;
    int code;
};

void PrintTo(const DetectCase& c, std::ostream* os) { *os << c.name; }

class DetectCodeTest : public testing::TestWithParam<DetectCase> {};

TEST_P(DetectCodeTest, Decides) {
    EXPECT_EQ(jconvert::DetectCode(GetParam().text), GetParam().code) << Hex(GetParam().text);
}

std::string Padded(std::size_t position, char byte, const std::string& head) {
    std::string s = head + std::string(700, 'a') + "\r\n";
    s[position - 1] = byte; // positions count from 1
    return s;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DetectCodeTest,
    testing::Values(
        DetectCase{"Empty", "", jconvert::ASCII}, DetectCase{"Ascii", "ABC\r\n", jconvert::ASCII},
        DetectCase{"ShiftJis", kSjisA + "\r\n", jconvert::SJIS},
        DetectCase{"Euc", kEucNichi + "\xCB\xDC\r\n", jconvert::EUC},        // 日本
        DetectCase{"EucUpperRow", "\xF0\xA1\r\n", jconvert::EUC},
        DetectCase{"HalfWidthKanaOnly", "\xB6\xC0\xB6\xC5\r\n", jconvert::EUC_OR_SJIS}, // ｶﾀｶﾅ
        DetectCase{"HighLeadHighTrail", "\xE0\xA1\r\n", jconvert::EUC_OR_SJIS},
        DetectCase{"KanaThenShiftJisKanji", "\xB1\xE0\x40\x82\xA0\r\n", jconvert::SJIS},
        DetectCase{"KanaThenEucOnlyByte", "\xB1\xE0\xA1\xFE\xA1\r\n", jconvert::EUC},
        DetectCase{"Jis", "A\x1B$B$\"\x1B(B\r\n", jconvert::JIS},
        DetectCase{"OldJis", "A\x1B$@$\"\x1B(B\r\n", jconvert::JIS_OLD},
        DetectCase{"ControlByteFirst", "\x01" "ABC\r\n", jconvert::BINARY},
        DetectCase{"ByteFF", "AB\xFF" "C\r\n", jconvert::BINARY},
        // The last byte is never looked at as the start of a character.
        DetectCase{"ControlByteLast", "ABC\x01", jconvert::ASCII},
        DetectCase{"ControlAt512OfShiftJis", Padded(512, '\x01', kSjisA), jconvert::BINARY},
        DetectCase{"ControlAt513OfShiftJis", Padded(513, '\x01', kSjisA), jconvert::SJIS},
        DetectCase{"ControlAt600OfShiftJis", Padded(600, '\x01', kSjisA), jconvert::SJIS},
        DetectCase{"ControlAt600OfAscii", Padded(600, '\x01', "A"), jconvert::BINARY}),
    [](const testing::TestParamInfo<DetectCase>& info) { return std::string(info.param.name); });

struct ConvertCase {
    const char* name;
    std::string text;
    int target;
    std::string expected;
};

void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.name; }

class ConvertTest : public testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertTest, GivesExactBytes) {
    const std::string got = jconvert::Convert(GetParam().text, GetParam().target);
    EXPECT_EQ(Hex(got), Hex(GetParam().expected));
}

const std::string kHalfWidthLine = "\xB6\xC0\xB6\xC5\r\n";
const std::string kJisLine = "A" + kEscJis + "$\"" + kEscAscii + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Lines, ConvertTest,
    testing::Values(
        ConvertCase{"AsciiUnchanged", "ABC\r\n", jconvert::JIS, "ABC\r\n"},
        ConvertCase{"ShiftJisToJis", kSjisA + "\r\n", jconvert::JIS, kEscJis + "$\"" + kEscAscii + "\r\n"},
        ConvertCase{"EndsInJisModeWithoutLineBreak", kSjisA, jconvert::JIS, kEscJis + "$\""},
        ConvertCase{"ModeSwitchesBothWays", "a" + kSjisA + "b\r" + kSjisA + "\n", jconvert::JIS,
                    "a" + kEscJis + "$\"" + kEscAscii + "b\r" + kEscJis + "$\"" + kEscAscii + "\n"},
        ConvertCase{"HalfWidthOnlyStaysShiftJis", kHalfWidthLine, jconvert::JIS, kHalfWidthLine},
        ConvertCase{"BinaryUnchanged", "\x01" + kSjisA + "\r\n", jconvert::JIS, "\x01" + kSjisA + "\r\n"},
        ConvertCase{"JisUnchanged", kJisLine, jconvert::JIS, kJisLine},
        ConvertCase{"UnknownTarget", kSjisA + "\r\n", 7, kSjisA + "\r\n"},
        ConvertCase{"OldJisTargetLeavesShiftJis", kSjisA + "\r\n", jconvert::JIS_OLD, kSjisA + "\r\n"},
        ConvertCase{"ShiftJisToEuc", kSjisA + "\xB1\r\n", jconvert::EUC, "\xA4\xA2\x8E\xB1\r\n"},
        ConvertCase{"EucToShiftJis", kEucNichi + "\x8E\xB1\r\n", jconvert::SJIS, "\x93\xFA\xB1\r\n"},
        ConvertCase{"EucToJis", kEucNichi + "A\r\n", jconvert::JIS, kEscJis + "F|" + kEscAscii + "A\r\n"},
        ConvertCase{"JisToShiftJis", kJisLine, jconvert::SJIS, "A" + kSjisA + "\r\n"},
        ConvertCase{"JisToEuc", kJisLine, jconvert::EUC, "A\xA4\xA2\r\n"},
        // Line breaks inside a JIS run are line breaks, not halves of a character.
        ConvertCase{"JisLineBreakInJisMode", "A" + kEscJis + "$\"\r\n", jconvert::SJIS, "A" + kSjisA + "\r\n"},
        // A single shift 2 without a kana after it is marked 〓; the CR LF after it survives.
        ConvertCase{"EucStraySingleShift", kEucNichi + "\x8E\r\n", jconvert::JIS,
                    kEscJis + "F|\x22\x2E" + kEscAscii + "\r\n"},
        ConvertCase{"EucMarkCutOff", kEucNichi + "\x8E\xB6\x8E", jconvert::JIS, kEscJis + "F|\x25\x2B\x22\x2E"}),
    [](const testing::TestParamInfo<ConvertCase>& info) { return std::string(info.param.name); });

// A long Shift-JIS line with a control byte far beyond the binary scan is still converted.
TEST(Convert, ControlByteBeyondScanLimitIsConverted) {
    std::string line = kSjisA + std::string(700, 'a') + "\r\n";
    line[599] = '\x01';
    std::string expected = kEscJis + "$\"" + kEscAscii + std::string(700, 'a') + "\r\n";
    expected[599 + kEscJis.size() + kEscAscii.size()] = '\x01';
    EXPECT_TRUE(jconvert::Convert(line, jconvert::JIS) == expected);
}

TEST(HalfWidthKana, EveryKanaBecomesItsFullWidthForm) {
    IconvText toSjis("CP932", "UTF-8"), toEuc("EUC-JP", "UTF-8"), toJis("ISO-2022-JP", "UTF-8");
    ASSERT_TRUE(toSjis.ok() && toEuc.ok() && toJis.ok());
    for (std::size_t k = 0; k < 63; ++k) {
        const std::string half = *toSjis(Nth(kHalfWidth, k));
        ASSERT_EQ(half, std::string(1, static_cast<char>(0xA1 + k))) << k;
        const std::string want = *toJis("あ" + Nth(kFullWidth, k) + "\r\n");
        EXPECT_EQ(Hex(jconvert::Convert(kSjisA + half + "\r\n", jconvert::JIS)), Hex(want)) << Nth(kHalfWidth, k);

        const std::string eucHalf = *toEuc(Nth(kHalfWidth, k));
        const std::string wantEuc = *toJis("日" + Nth(kFullWidth, k) + "\r\n");
        EXPECT_EQ(Hex(jconvert::Convert(kEucNichi + eucHalf + "\r\n", jconvert::JIS)), Hex(wantEuc))
            << Nth(kHalfWidth, k);
    }
}

// Every kana followed by each sound mark: merged where a voiced or semi-voiced form exists,
// two characters otherwise.
TEST(HalfWidthKana, SoundMarksMergeExactlyWhereAFormExists) {
    const std::string voicedBase = "ｳｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎ";
    const std::string voiced = "ヴガギグゲゴザジズゼゾダヂヅデドバビブベボ";
    const std::string semiBase = "ﾊﾋﾌﾍﾎ";
    const std::string semi = "パピプペポ";
    IconvText toSjis("CP932", "UTF-8"), toEuc("EUC-JP", "UTF-8"), toJis("ISO-2022-JP", "UTF-8");
    for (std::size_t k = 0; k < 63; ++k) {
        const std::string base = Nth(kHalfWidth, k);
        for (const std::size_t mark : {std::size_t{61}, std::size_t{62}}) { // ﾞ, ﾟ
            const std::string& bases = mark == 61 ? voicedBase : semiBase;
            const std::string& forms = mark == 61 ? voiced : semi;
            const std::size_t at = bases.find(base);
            const std::string full = at != std::string::npos ? forms.substr(at, 3)
                                                             : Nth(kFullWidth, k) + Nth(kFullWidth, mark);
            const std::string half = base + Nth(kHalfWidth, mark);
            const std::string sjisLine = kSjisA + *toSjis(half) + "\r\n";
            EXPECT_EQ(Hex(jconvert::Convert(sjisLine, jconvert::JIS)), Hex(*toJis("あ" + full + "\r\n"))) << half;
            const std::string eucLine = kEucNichi + *toEuc(half) + "\r\n";
            EXPECT_EQ(Hex(jconvert::Convert(eucLine, jconvert::JIS)), Hex(*toJis("日" + full + "\r\n"))) << half;
        }
    }
}

struct KanaCase {
    const char* name;
    std::string text;
    bool euc;
    std::string jis;
    std::size_t end;
};

void PrintTo(const KanaCase& c, std::ostream* os) { *os << c.name; }

class KanaRoutineTest : public testing::TestWithParam<KanaCase> {};

TEST_P(KanaRoutineTest, GivesCharacterAndMovesPosition) {
    const KanaCase& c = GetParam();
    std::size_t pos = 0;
    const std::string got = c.euc ? jconvert::EucKanaToJis(c.text, pos) : jconvert::SjisKanaToJis(c.text, pos);
    EXPECT_EQ(Hex(got), Hex(c.jis));
    EXPECT_EQ(pos, c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Positions, KanaRoutineTest,
    testing::Values(KanaCase{"SjisVoiced", "\xB6\xDE", false, "\x25\x2C", 2},
                    KanaCase{"SjisUnmerged", "\xB6\xDFz", false, "\x25\x2B", 1},
                    KanaCase{"SjisNotKana", "A", false, "\x22\x2E", 1},
                    KanaCase{"EucVoiced", "\x8E\xB6\x8E\xDE", true, "\x25\x2C", 4},
                    KanaCase{"EucMarkWithoutShift", "\x8E\xB6\xDE", true, "\x25\x2B", 2},
                    KanaCase{"EucMarkCutOff", "\x8E\xB6\x8E", true, "\x25\x2B", 2},
                    KanaCase{"EucStrayShift", "\x8E\x41", true, "\x22\x2E", 1},
                    KanaCase{"EucShiftAtEnd", "\x8E", true, "\x22\x2E", 1}),
    [](const testing::TestParamInfo<KanaCase>& info) { return std::string(info.param.name); });

TEST(Base64, EncodesWithPaddingAndNoLineBreaks) {
    EXPECT_EQ(jconvert::Base64Encode(""), "");
    EXPECT_EQ(jconvert::Base64Encode("a"), "YQ==");
    EXPECT_EQ(jconvert::Base64Encode("ab"), "YWI=");
    EXPECT_EQ(jconvert::Base64Encode("abc"), "YWJj");
    EXPECT_EQ(jconvert::Base64Encode("abcd"), "YWJjZA==");
    EXPECT_EQ(jconvert::Base64Encode("\xFF\xFE\xFD"), "//79");

    for (const std::size_t n : {1000u, 1001u, 1002u}) {
        std::string bytes;
        for (std::size_t i = 0; i < n; ++i)
            bytes += static_cast<char>(i * 7 % 256);
        const std::string got = jconvert::Base64Encode(bytes);
        EXPECT_EQ(got.size(), 4 * ((n + 2) / 3));
        EXPECT_EQ(got, QByteArray(bytes.data(), static_cast<qsizetype>(n)).toBase64().toStdString());
    }
}

// The Subject as it goes into an encoded word: converted, CR LF removed, Base64.
TEST(Base64, EncodesConvertedSubject) {
    const std::string jis = jconvert::Convert(kSjisA + "\r\n", jconvert::JIS);
    EXPECT_EQ(jconvert::Base64Encode(std::string_view(jis).substr(0, jis.size() - 2)), "GyRCJCIbKEI=");
}

} // namespace
