#include "common/cp932.h"

#include <bit>
#include <cstdint>
#include <cerrno>
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
constexpr int kTrails = 0xFC - 0x40 + 1;
constexpr std::uint16_t kDoubleByte[60][kTrails] = {
#include "common/cp932_table.inc"
};

int leadRow(unsigned char lead) {
    if (lead >= 0x81 && lead <= 0x9F)
        return lead - 0x81;
    if (lead >= 0xE0 && lead <= 0xFC)
        return lead - 0xE0 + 0x1F;
    return -1;
}

// Writes the UTF-8 form of a character below U+10000 at `out`; returns the end.
char* putUtf8(char* out, char32_t c) {
    if (c < 0x80) {
        *out++ = static_cast<char>(c);
    } else if (c < 0x800) {
        *out++ = static_cast<char>(0xC0 | (c >> 6));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        *out++ = static_cast<char>(0xE0 | (c >> 12));
        *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        *out++ = static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

bool isAscii(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80)
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

} // namespace

EncodeResult fromUtf8(std::string_view utf8) {
    EncodeResult result;
    if (isAscii(utf8)) {
        result.bytes.assign(utf8);
        return result;
    }
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
    // Every input byte gives at most three output bytes (a half-width katakana, a U+FFFD).
    std::string result(bytes.size() * 3, '\0');
    char* out = result.data();
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = p + bytes.size();
    while (p < end) {
        const unsigned char b = *p;
        if (b < 0x80) {
            *out++ = static_cast<char>(b);
            ++p;
            continue;
        }
        if (b >= 0xA1 && b <= 0xDF) { // half-width katakana
            out = putUtf8(out, 0xFF61 + (b - 0xA1));
            ++p;
            continue;
        }
        const int row = leadRow(b);
        if (row >= 0 && p + 1 < end && p[1] >= 0x40 && p[1] <= 0xFC) {
            if (const char32_t c = kDoubleByte[row][p[1] - 0x40]) {
                out = putUtf8(out, c);
                p += 2;
                continue;
            }
        }
        // A byte that starts no character, a bad second byte or a lead byte at the very end:
        // U+FFFD for the one byte, and go on with the next, so that an ASCII byte after a
        // broken lead byte is kept.
        out = putUtf8(out, kReplacement);
        ++p;
        if (invalid)
            ++*invalid;
    }
    result.resize(static_cast<std::size_t>(out - result.data()));
    return result;
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
