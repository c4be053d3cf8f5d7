#include "common/cp932.h"

#include <bit>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <iconv.h>
#include <stdexcept>

namespace cp932 {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

// One conversion descriptor per direction and thread: opening one costs far more than a short
// conversion, and an address book decodes hundreds of thousands of fields.
class Iconv {
public:
    Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw std::runtime_error(std::string("iconv cannot convert from ") + from + " to " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    iconv_t reset() {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        return cd_;
    }

private:
    iconv_t cd_;
};

constexpr const char* kUtf32Native = std::endian::native == std::endian::little ? "UTF-32LE" : "UTF-32BE";

iconv_t encoder() {
    thread_local Iconv cd("CP932", kUtf32Native);
    return cd.reset();
}

// The character of every two-byte sequence, by lead byte (81..9F, E0..FC) and trail byte
// (40..FC); 0 where the sequence is no character.
constexpr int kLeads = 60;
constexpr int kTrails = 0xFC - 0x40 + 1;
constexpr std::uint16_t kDoubleByte[kLeads][kTrails] = {
#include "common/cp932_table.inc"
};

// A character's UTF-8 bytes packed for one 4-byte store: the bytes from the lowest byte up, and
// their count in the highest byte; 0 for no character.
constexpr std::uint32_t packUtf8(char32_t c) {
    if (c == 0)
        return 0;
    if (c < 0x80)
        return c | 1u << 24;
    if (c < 0x800)
        return (0xC0 | (c >> 6)) | (0x80 | (c & 0x3F)) << 8 | 2u << 24;
    return (0xE0 | (c >> 12)) | (0x80 | ((c >> 6) & 0x3F)) << 8 | (0x80 | (c & 0x3F)) << 16 |
           3u << 24;
}

struct DecodeTables {
    // Per first byte: a packed character of its own (ASCII, half-width katakana); or, with no
    // count, the lead byte's row in `pair` (row 0, all empty, for a byte that starts nothing).
    std::uint32_t first[256] = {};
    std::uint32_t pair[kLeads + 1][kTrails] = {};
};

constexpr DecodeTables makeDecodeTables() {
    DecodeTables t;
    for (int b = 0; b < 256; ++b) {
        if (b < 0x80)
            t.first[b] = b == 0 ? 1u << 24 : packUtf8(static_cast<char32_t>(b));
        else if (b >= 0xA1 && b <= 0xDF)
            t.first[b] = packUtf8(static_cast<char32_t>(0xFF61 + (b - 0xA1)));
        else if (b >= 0x81 && b <= 0x9F)
            t.first[b] = static_cast<std::uint32_t>(b - 0x81 + 1);
        else if (b >= 0xE0 && b <= 0xFC)
            t.first[b] = static_cast<std::uint32_t>(b - 0xE0 + 0x1F + 1);
    }
    for (int r = 0; r < kLeads; ++r)
        for (int c = 0; c < kTrails; ++c)
            t.pair[r + 1][c] = packUtf8(kDoubleByte[r][c]);
    return t;
}

constexpr DecodeTables kDecode = makeDecodeTables();
constexpr std::uint32_t kPackedReplacement = packUtf8(kReplacement);

// Stores the packed character at `out` (one byte past it may be overwritten); returns the end.
char* put(char* out, std::uint32_t packed) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &packed, 4);
    } else {
        out[0] = static_cast<char>(packed);
        out[1] = static_cast<char>(packed >> 8);
        out[2] = static_cast<char>(packed >> 16);
    }
    return out + (packed >> 24);
}

bool isAscii(std::string_view text) {
    const char* p = text.data();
    const char* const end = p + text.size();
    for (; end - p >= 8; p += 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if (word & 0x8080808080808080u)
            return false;
    }
    for (; p < end; ++p)
        if (static_cast<unsigned char>(*p) >= 0x80)
            return false;
    return true;
}

// Linux input methods type the JIS forms of a few characters whose code page 932 form is a
// different code point; each means the same character to the user.
char32_t windowsForm(char32_t c) {
    switch (c) {
    case 0x301C: return 0xFF5E; // WAVE DASH -> FULLWIDTH TILDE
    case 0x2016: return 0x2225; // DOUBLE VERTICAL LINE -> PARALLEL TO
    case 0x2212: return 0xFF0D; // MINUS SIGN -> FULLWIDTH HYPHEN-MINUS
    case 0x00A2: return 0xFFE0; // CENT SIGN
    case 0x00A3: return 0xFFE1; // POUND SIGN
    case 0x00AC: return 0xFFE2; // NOT SIGN
    case 0x2014: return 0x2015; // EM DASH -> HORIZONTAL BAR
    default: return c;
    }
}

// Strict UTF-8 decoding; a malformed sequence becomes one U+FFFD, which the encoder then refuses.
std::u32string decodeUtf8(std::string_view utf8) {
    std::u32string out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* end = p + utf8.size();
    while (p < end) {
        unsigned char b = *p;
        if (b < 0x80) {
            out.push_back(b);
            ++p;
            continue;
        }
        int extra;
        char32_t c;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            extra = 1, c = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2, c = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3, c = b & 0x07, min = 0x10000;
        } else {
            out.push_back(kReplacement);
            ++p;
            continue;
        }
        const unsigned char* q = p + 1;
        int i = 0;
        for (; i < extra && q < end && (*q & 0xC0) == 0x80; ++i, ++q)
            c = (c << 6) | (*q & 0x3F);
        if (i < extra || c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out.push_back(kReplacement);
            p = q > p + 1 ? q : p + 1;
            continue;
        }
        out.push_back(windowsForm(c));
        p = q;
    }
    return out;
}

// The code page 932 form of every BMP character the decoding table holds, as iconv gives it:
// the first code that decodes to it, the IBM extensions (FA..FC) ahead of the NEC selection of
// the same characters (ED, EE). 0: not in the table, left to iconv.
struct EncodeTable {
    std::uint16_t code[0x10000] = {};
};

const EncodeTable& encodeTable() {
    static const EncodeTable table = [] {
        EncodeTable t;
        for (int b = 0xA1; b <= 0xDF; ++b)
            t.code[0xFF61 + (b - 0xA1)] = static_cast<std::uint16_t>(b);
        const auto take = [&](int lead) {
            const int row = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 0x1F;
            for (int c = 0; c < kTrails; ++c) {
                const char32_t u = kDoubleByte[row][c];
                if (u != 0 && t.code[u] == 0)
                    t.code[u] = static_cast<std::uint16_t>(lead << 8 | (0x40 + c));
            }
        };
        for (int lead = 0x81; lead <= 0x9F; ++lead)
            take(lead);
        for (int lead = 0xE0; lead <= 0xFC; ++lead)
            if (lead != 0xED && lead != 0xEE)
                take(lead);
        take(0xED);
        take(0xEE);
        return t;
    }();
    return table;
}

// The conversion by the table alone, for texts made of the characters it holds (nearly every
// text): iconv through UTF-32 costs several times as much. Nothing when some character is not
// there or the UTF-8 is malformed: iconv then converts, and names what it refuses.
bool encodeByTable(std::string_view utf8, std::string& out) {
    const EncodeTable& t = encodeTable();
    // A character never takes more bytes in code page 932 than in UTF-8.
    out.resize(utf8.size());
    char* o = out.data();
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const auto* const end = p + utf8.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *o++ = static_cast<char>(b);
            ++p;
            continue;
        }
        char32_t c;
        if (b >= 0xC2 && b <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
            c = (b & 0x1Fu) << 6 | (p[1] & 0x3Fu);
            p += 2;
        } else if (b >= 0xE0 && b <= 0xEF && end - p >= 3 && (p[1] & 0xC0) == 0x80 &&
                   (p[2] & 0xC0) == 0x80) {
            c = (b & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
            if (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))
                return false;
            p += 3;
        } else {
            return false; // four bytes (beyond the table) or malformed
        }
        c = windowsForm(c);
        const std::uint16_t code = c <= 0xFFFF ? t.code[c] : 0;
        if (code == 0)
            return false;
        if (code > 0xFF)
            *o++ = static_cast<char>(code >> 8);
        *o++ = static_cast<char>(code & 0xFF);
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return true;
}

} // namespace

EncodeResult fromUtf8(std::string_view utf8) {
    EncodeResult result;
    if (isAscii(utf8)) {
        result.bytes.assign(utf8);
        return result;
    }
    if (encodeByTable(utf8, result.bytes))
        return result;
    result.bytes.clear();
    std::u32string text = decodeUtf8(utf8);
    result.bytes.resize(text.size() * 2);

    iconv_t cd = encoder();
    char* in = reinterpret_cast<char*>(text.data());
    char* const inStart = in;
    std::size_t inLeft = text.size() * sizeof(char32_t);
    char* out = result.bytes.data();
    std::size_t outLeft = result.bytes.size();
    while (inLeft > 0) {
        if (iconv(cd, &in, &inLeft, &out, &outLeft) != static_cast<std::size_t>(-1))
            break;
        if (errno == E2BIG) { // cannot happen: no character takes more than two bytes
            std::size_t used = static_cast<std::size_t>(out - result.bytes.data());
            result.bytes.resize(result.bytes.size() * 2 + 16);
            out = result.bytes.data() + used;
            outLeft = result.bytes.size() - used;
            continue;
        }
        // EILSEQ: the character at `in` has no code page 932 form; note it and go on, so that
        // the caller can name every refused character.
        std::size_t index = static_cast<std::size_t>(in - inStart) / sizeof(char32_t);
        result.refused.push_back({text[index], index});
        in += sizeof(char32_t);
        inLeft -= sizeof(char32_t);
    }
    result.bytes.resize(static_cast<std::size_t>(out - result.bytes.data()));
    return result;
}

std::string toUtf8(std::string_view bytes, std::size_t* invalid) {
    if (invalid)
        *invalid = 0;
    if (isAscii(bytes))
        return std::string(bytes);
    // Every input byte gives at most three output bytes (a half-width katakana, a U+FFFD); one
    // more for the last 4-byte store. Short texts, the usual case, are converted in a work area
    // kept per thread: making a fresh string of that size costs as much as the conversion.
    thread_local char area[4096];
    std::string large;
    const std::size_t room = bytes.size() * 3 + 1;
    if (room > sizeof area)
        large.resize(room);
    char* const start = room > sizeof area ? large.data() : area;
    char* out = start;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    // A byte that starts no character, a bad second byte or a lead byte at the very end gives
    // U+FFFD for the one byte, and the next byte is read afresh, so that an ASCII byte after a
    // broken lead byte is kept.
    std::size_t bad = 0;
    while (end - p >= 2) {
        const std::uint32_t first = kDecode.first[*p];
        if (first >> 24) {
            out = put(out, first);
            ++p;
            continue;
        }
        const unsigned trail = p[1] - 0x40u; // wraps for bytes below 40
        const std::uint32_t packed =
            trail < static_cast<unsigned>(kTrails) ? kDecode.pair[first][trail] : 0;
        if (packed) {
            out = put(out, packed);
            p += 2;
        } else {
            out = put(out, kPackedReplacement);
            ++p;
            ++bad;
        }
    }
    if (p < end) {
        const std::uint32_t first = kDecode.first[*p];
        out = put(out, first >> 24 ? first : kPackedReplacement);
        bad += first >> 24 ? 0 : 1;
    }
    if (invalid)
        *invalid = bad;
    if (start == area)
        return std::string(start, out);
    large.resize(static_cast<std::size_t>(out - start));
    return large;
}

bool isValid(std::string_view bytes) {
    std::size_t invalid = 0;
    toUtf8(bytes, &invalid);
    return invalid == 0;
}

std::string pathFromSjis(std::string_view sjisPath) {
    return toUtf8(sjisPath);
}

} // namespace cp932
