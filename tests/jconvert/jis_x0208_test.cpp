// Every JIS X 0208 character through every conversion direction, checked against glibc iconv.
#include "jconvert/jconvert.h"
#include "iconv_text.h"
#include "jis_test_bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using jconvert_test::Hex;
using jconvert_test::IconvText;
using jconvert_test::kEscAscii;
using jconvert_test::kEscJis;

struct Kanji {
    unsigned char row; // JIS bytes 21..7E
    unsigned char cell;
    std::string sjis; // as glibc's SHIFT_JIS writes it
    std::string euc() const { return {static_cast<char>(row | 0x80), static_cast<char>(cell | 0x80)}; }
    std::string jis() const { return {static_cast<char>(row), static_cast<char>(cell)}; }
};

// The defined characters of JIS X 0208, with their Shift-JIS bytes, as glibc knows them.
const std::vector<Kanji>& AllKanji() {
    static const std::vector<Kanji> all = [] {
        std::vector<Kanji> v;
        IconvText eucToSjis("SHIFT_JIS", "EUC-JP");
        for (unsigned char row = 0x21; row <= 0x7E; ++row) {
            for (unsigned char cell = 0x21; cell <= 0x7E; ++cell) {
                Kanji k{row, cell, {}};
                if (auto sjis = eucToSjis(k.euc())) {
                    k.sjis = *sjis;
                    v.push_back(k);
                }
            }
        }
        return v;
    }();
    return all;
}

TEST(JisX0208, ReferenceHoldsTheWholeCharacterSet) {
    ASSERT_TRUE(IconvText("SHIFT_JIS", "EUC-JP").ok());
    EXPECT_EQ(AllKanji().size(), 6879u);
}

// A mail line as the send run converts it: Shift-JIS text with CR LF, decided as Shift-JIS
// by its first character あ.
TEST(JisX0208, ShiftJisLineToJisMatchesIconv) {
    IconvText sjisToJis("ISO-2022-JP", "SHIFT_JIS");
    ASSERT_TRUE(sjisToJis.ok());
    int mismatches = 0;
    for (const Kanji& k : AllKanji()) {
        const std::string line = "\x82\xA0" + k.sjis + "\r\n";
        ASSERT_EQ(jconvert::DetectCode(line), jconvert::SJIS) << Hex(line);
        const auto expected = sjisToJis(line);
        ASSERT_TRUE(expected) << Hex(line);
        const std::string got = jconvert::Convert(line, jconvert::JIS);
        if (got != *expected && ++mismatches <= 10)
            ADD_FAILURE() << "line " << Hex(line) << ": got " << Hex(got) << ", iconv " << Hex(*expected);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(JisX0208, EveryDirectionAgreesOnEveryCharacter) {
    int mismatches = 0;
    auto check = [&](const char* what, const Kanji& k, const std::string& got, const std::string& want) {
        if (got != want && ++mismatches <= 10)
            ADD_FAILURE() << what << " of JIS " << Hex(k.jis()) << ": got " << Hex(got) << ", want " << Hex(want);
    };
    for (const Kanji& k : AllKanji()) {
        const std::string jisText = kEscJis + k.jis() + kEscAscii;
        check("SjisToJis", k, jconvert::SjisToJis(k.sjis), kEscJis + k.jis());
        check("EucToJis", k, jconvert::EucToJis(k.euc()), kEscJis + k.jis());
        check("SjisToEuc", k, jconvert::SjisToEuc(k.sjis), k.euc());
        check("EucToSjis", k, jconvert::EucToSjis(k.euc()), k.sjis);
        check("JisToSjis", k, jconvert::JisToSjis(jisText), k.sjis);
        check("JisToEuc", k, jconvert::JisToEuc(jisText), k.euc());
        const auto lead = static_cast<unsigned char>(k.sjis[0]);
        const auto trail = static_cast<unsigned char>(k.sjis[1]);
        check("SjisCharToJis", k, jconvert::SjisCharToJis(lead, trail), k.jis());
        check("JisCharToSjis", k, jconvert::JisCharToSjis(k.row, k.cell), k.sjis);
    }
    EXPECT_EQ(mismatches, 0);
}

// Detected JIS text goes back to either 8-bit code through Convert, CR LF included.
TEST(JisX0208, ConvertFromJisToEucAndShiftJis) {
    std::string jisText = "A" + kEscJis, euc = "A", sjis = "A";
    for (const Kanji& k : AllKanji()) {
        jisText += k.jis();
        euc += k.euc();
        sjis += k.sjis;
    }
    jisText += kEscAscii + "\r\n";
    euc += "\r\n";
    sjis += "\r\n";
    ASSERT_EQ(jconvert::DetectCode(jisText), jconvert::JIS);
    EXPECT_TRUE(jconvert::Convert(jisText, jconvert::EUC) == euc);
    EXPECT_TRUE(jconvert::Convert(jisText, jconvert::SJIS) == sjis);
}

} // namespace
