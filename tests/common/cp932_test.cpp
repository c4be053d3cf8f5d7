#include "common/cp932.h"
#include "common/errors.h"
#include "common/text.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <map>
#include <optional>
#include <set>
#include <string>

namespace {

std::string utf8(char32_t c) {
    return QString::fromUcs4(&c, 1).toStdString();
}

std::string hex(std::string_view bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

const std::string kReplacement = "\xEF\xBF\xBD";

struct Golden {
    const char* name;
    std::string sjis;
    char32_t unicode;
};

// Pins the Windows flavour of Shift-JIS: a plain Shift-JIS codec would differ on these.
TEST(Cp932, DecodesAndEncodesTheWindowsForms) {
    const Golden rows[] = {
        {"backslash stays ASCII", "\x5C", 0x5C},
        {"tilde stays ASCII", "\x7E", 0x7E},
        {"wave dash is the full-width tilde", "\x81\x60", 0xFF5E},
        {"full-width backslash", "\x81\x5F", 0xFF3C},
        {"minus", "\x81\x7C", 0xFF0D},
        {"parallel", "\x81\x61", 0x2225},
        {"horizontal bar", "\x81\x5C", 0x2015},
        {"NEC circled one", "\x87\x40", 0x2460},
        {"IBM extension kanji", "\xFA\x5C", 0x7E8A},
        {"half-width katakana", "\xB1", 0xFF71},
        {"first level-1 kanji", "\x88\x9F", 0x4E9C},
        {"user-defined area", "\xF0\x40", 0xE000},
    };
    for (const Golden& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(cp932::toUtf8(row.sjis), utf8(row.unicode));
        const auto encoded = cp932::fromUtf8(utf8(row.unicode));
        EXPECT_TRUE(encoded.ok());
        EXPECT_EQ(hex(encoded.bytes), hex(row.sjis));
    }
}

// Characters Linux input methods produce in their JIS form are taken as the Windows character
// the user sees.
TEST(Cp932, AcceptsTheJisFormsOfWindowsCharacters) {
    const Golden rows[] = {
        {"wave dash U+301C", "\x81\x60", 0x301C},
        {"full-width tilde U+FF5E", "\x81\x60", 0xFF5E},
        {"double vertical line", "\x81\x61", 0x2016},
        {"minus sign", "\x81\x7C", 0x2212},
        {"cent sign", "\x81\x91", 0x00A2},
        {"pound sign", "\x81\x92", 0x00A3},
        {"not sign", "\x81\xCA", 0x00AC},
        {"em dash", "\x81\x5C", 0x2014},
    };
    for (const Golden& row : rows) {
        SCOPED_TRACE(row.name);
        const auto encoded = cp932::fromUtf8("a" + utf8(row.unicode) + "b");
        EXPECT_TRUE(encoded.ok());
        EXPECT_EQ(hex(encoded.bytes), hex("a" + row.sjis + "b"));
    }
}

// Every character of the code page survives a decode and encode. The code page gives some
// characters two codes (NEC row 13 and the IBM extensions, twice: as NEC-selected and as IBM
// codes); those come back as the one code Windows itself writes, the same character.
TEST(Cp932, EveryCharacterRoundTrips) {
    std::map<std::string, std::string> canonical = {
        // NEC row 13 symbols that are also in JIS X 0208 row 2
        {"\x87\x90", "\x81\xE0"}, {"\x87\x91", "\x81\xDF"}, {"\x87\x92", "\x81\xE7"},
        {"\x87\x95", "\x81\xE3"}, {"\x87\x96", "\x81\xDB"}, {"\x87\x97", "\x81\xDA"},
        {"\x87\x9A", "\x81\xE6"}, {"\x87\x9B", "\x81\xBF"}, {"\x87\x9C", "\x81\xBE"},
        // IBM extension symbols that NEC row 13 or row 2 already hold
        {"\xFA\x54", "\x81\xCA"}, {"\xFA\x58", "\x87\x8A"}, {"\xFA\x59", "\x87\x82"},
        {"\xFA\x5A", "\x87\x84"}, {"\xFA\x5B", "\x81\xE6"},
    };
    for (int i = 0; i < 10; ++i) // Roman numerals I..X
        canonical[std::string{'\xFA', char(0x4A + i)}] = std::string{'\x87', char(0x54 + i)};

    int characters = 0;
    int necSelected = 0;
    std::set<std::string> seenDuplicates;
    auto check = [&](const std::string& bytes) {
        const std::string text = cp932::toUtf8(bytes);
        if (text.find(kReplacement) != std::string::npos)
            return; // not a character of the code page
        ++characters;
        const auto back = cp932::fromUtf8(text);
        ASSERT_TRUE(back.ok()) << hex(bytes);
        if (back.bytes == bytes)
            return;
        const unsigned char lead = static_cast<unsigned char>(bytes[0]);
        if (lead == 0xED || lead == 0xEE) {
            // NEC-selected IBM extensions: written with their IBM code (or, for the not sign, row 2).
            ++necSelected;
            const unsigned char backLead = static_cast<unsigned char>(back.bytes[0]);
            EXPECT_TRUE(backLead >= 0xFA || back.bytes == "\x81\xCA") << hex(bytes) << " -> " << hex(back.bytes);
        } else {
            auto it = canonical.find(bytes);
            ASSERT_NE(it, canonical.end()) << hex(bytes) << " -> " << hex(back.bytes) << " does not round-trip";
            EXPECT_EQ(hex(back.bytes), hex(it->second)) << hex(bytes);
            seenDuplicates.insert(bytes);
        }
        EXPECT_EQ(cp932::toUtf8(back.bytes), text) << hex(bytes);
    };
    for (int b = 0; b < 0x100; ++b)
        check(std::string(1, char(b)));
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        if (lead >= 0xA0 && lead <= 0xDF)
            continue;
        for (int trail = 0x40; trail <= 0xFC; ++trail)
            if (trail != 0x7F)
                check(std::string{char(lead), char(trail)});
    }
    EXPECT_EQ(seenDuplicates.size(), canonical.size());
    EXPECT_EQ(necSelected, 374);
    // 128 ASCII + 63 katakana, 6879 JIS X 0208, 83 NEC, 374 NEC-selected, 388 IBM, 1880 user-defined
    EXPECT_EQ(characters, 128 + 63 + 6879 + 83 + 374 + 388 + 1880);
}

// glibc's CP932 decoding of a whole sequence; nothing when it is no character sequence.
std::optional<std::string> iconvToUtf8(const std::string& bytes) {
    static const iconv_t cd = iconv_open("UTF-8", "CP932");
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &o, &outLeft) == static_cast<std::size_t>(-1) ||
        iconv(cd, nullptr, nullptr, &o, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

// The table-driven decoding agrees with glibc on every one- and two-byte sequence: the same
// character where glibc reads one, U+FFFD where it reads none.
TEST(Cp932, DecodingAgreesWithIconvOnEverySequence) {
    int characters = 0;
    for (int first = 0; first < 0x100; ++first) {
        for (int second = -1; second < 0x100; ++second) {
            std::string bytes(1, char(first));
            if (second >= 0) {
                if (first < 0x80)
                    break; // an ASCII byte stands alone
                bytes += char(second);
            }
            const std::optional<std::string> expected = iconvToUtf8(bytes);
            std::size_t invalid = 0;
            const std::string ours = cp932::toUtf8(bytes, &invalid);
            if (expected) {
                ++characters;
                ASSERT_EQ(hex(ours), hex(*expected)) << hex(bytes);
                ASSERT_EQ(invalid, 0u) << hex(bytes);
                ASSERT_TRUE(cp932::isValid(bytes));
            } else if (second < 0 || cp932::toUtf8(bytes.substr(0, 1)) == kReplacement) {
                // No character starts here (a lone lead byte, or a pair glibc does not read).
                ASSERT_EQ(ours.substr(0, 3), kReplacement) << hex(bytes);
                ASSERT_FALSE(cp932::isValid(bytes)) << hex(bytes);
            }
        }
    }
    // At least every character once: 128 ASCII, 63 katakana, 9604 two-byte characters.
    EXPECT_GE(characters, 128 + 63 + 9604);
}

// The encoding agrees with glibc on every BMP character: the same bytes where glibc writes the
// character, a refusal where it writes none, alone and inside a longer text.
TEST(Cp932, EncodingAgreesWithIconvOnEveryCharacter) {
    static const iconv_t cd = iconv_open("CP932", "UTF-8");
    // The JIS forms the encoder takes for their Windows forms (tested above).
    const std::set<char32_t> windowsForms = {0x301C, 0x2016, 0x2212, 0x00A2, 0x00A3, 0x00AC, 0x2014};
    int encoded = 0;
    for (char32_t c = 0x80; c <= 0xFFFF; ++c) {
        if ((c >= 0xD800 && c <= 0xDFFF) || windowsForms.count(c))
            continue;
        const std::string text = utf8(c);
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(text.data());
        std::size_t inLeft = text.size();
        char buffer[8];
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const bool glibc = iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1);
        const cp932::EncodeResult ours = cp932::fromUtf8("a" + text + "\xE3\x81\x82");
        if (glibc) {
            ++encoded;
            ASSERT_TRUE(ours.ok()) << std::hex << static_cast<unsigned>(c);
            ASSERT_EQ(hex(ours.bytes), hex("a" + std::string(buffer, out) + "\x82\xA0")) << std::hex << static_cast<unsigned>(c);
        } else {
            ASSERT_EQ(ours.refused.size(), 1u) << std::hex << static_cast<unsigned>(c);
            ASSERT_EQ(ours.refused[0].position, 1u) << std::hex << static_cast<unsigned>(c);
        }
    }
    EXPECT_GE(encoded, 7000);
}

TEST(Cp932, ReportsEveryRefusedCharacterWithItsPosition) {
    // "a😀b𠮷" then a lone continuation byte (malformed UTF-8)
    const auto result = cp932::fromUtf8("a" + utf8(0x1F600) + "\xE3\x81\x82" + utf8(0x20BB7) + "\x80" + "z");
    ASSERT_EQ(result.refused.size(), 3u);
    EXPECT_EQ(result.refused[0].codePoint, char32_t(0x1F600));
    EXPECT_EQ(result.refused[0].position, 1u);
    EXPECT_EQ(result.refused[1].codePoint, char32_t(0x20BB7));
    EXPECT_EQ(result.refused[1].position, 3u);
    EXPECT_EQ(result.refused[2].codePoint, char32_t(0xFFFD));
    EXPECT_EQ(result.refused[2].position, 4u);
    EXPECT_EQ(result.bytes, "a\x82\xA0z");
    EXPECT_FALSE(result.ok());
}

TEST(Cp932, DecodingNeverFails) {
    const struct {
        const char* name;
        std::string sjis;
        std::string expected;
    } rows[] = {
        {"empty", "", ""},
        {"byte without a character", "\x80", kReplacement},
        {"lead byte at the end", "A\x81", "A" + kReplacement},
        {"bad second byte keeps the ASCII after it", "\x81\x20x", kReplacement + " x"},
        {"unused high bytes", "\xFD\xFE\xFF", kReplacement + kReplacement + kReplacement},
        {"good text around a bad byte", "\x82\xA0\xA0\x82\xA2", "\xE3\x81\x82" + kReplacement + "\xE3\x81\x84"},
        {"NUL is kept", std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(cp932::toUtf8(row.sjis), row.expected);
    }
}

TEST(SjisText, RefusalNamesFieldCharacterCodePointAndColumn) {
    try {
        tessaly::toSjis(QStringLiteral("お知らせ😀と𠮷"), QStringLiteral("件名"));
        FAIL() << "no error";
    } catch (const tessaly::Error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("件名の 5 文字目の「😀」(U+1F600)は Shift-JIS で扱えない文字です。（ほかにも 1 文字あります）"));
    }
    try {
        tessaly::toSjis(QStringLiteral("ǎ"), QStringLiteral("本文 3 行目"));
        FAIL() << "no error";
    } catch (const tessaly::Error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()), QStringLiteral("本文 3 行目の 1 文字目の「ǎ」(U+01CE)は Shift-JIS で扱えない文字です。"));
    }
}

TEST(SjisText, ConvertsBothWays) {
    const QString text = QStringLiteral("様〜①ｱ\\~");
    const QByteArray sjis = tessaly::toSjisBytes(text, QStringLiteral("宛先"));
    EXPECT_EQ(sjis, QByteArray("\x97\x6C\x81\x60\x87\x40\xB1\x5C\x7E"));
    // The wave dash comes back in its Windows form.
    EXPECT_EQ(tessaly::fromSjis(sjis), QStringLiteral("様～①ｱ\\~"));
    EXPECT_TRUE(tessaly::isSjisEncodable(text));
    EXPECT_FALSE(tessaly::isSjisEncodable(QStringLiteral("😀")));
}

} // namespace
