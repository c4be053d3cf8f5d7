#include "jconvert/jconvert.h"

#include <array>
#include <cstdint>

namespace jconvert {

namespace {

using Byte = unsigned char;

// Reading past the end yields 0, so a lead byte at the very end still pairs up
// deterministically and nothing is read out of bounds.
inline Byte At(std::string_view s, std::size_t i) {
    return i < s.size() ? static_cast<Byte>(s[i]) : Byte{0};
}

inline bool In(Byte b, Byte lo, Byte hi) { return b >= lo && b <= hi; }

constexpr char kEsc = '\x1B';
constexpr std::string_view kToJis = "\x1B$B";
constexpr std::string_view kToAscii = "\x1B(B";

// JIS X 0208 "〓": written for a byte that cannot be a half-width katakana where one must be.
constexpr Byte kGeta1 = 0x22;
constexpr Byte kGeta2 = 0x2E;

// JIS X 0201 katakana A1..DF to JIS X 0208: the second byte; the first is 21 for the
// punctuation and sound marks (A1..A5, B0, DE, DF) and 25 for the katakana proper.
constexpr std::array<Byte, 63> kKanaCell = {
    0x23, 0x56, 0x57, 0x22, 0x26, 0x72, 0x21, 0x23, 0x25, 0x27, 0x29, 0x63, 0x65, 0x67, 0x43, 0x3C,
    0x22, 0x24, 0x26, 0x28, 0x2A, 0x2B, 0x2D, 0x2F, 0x31, 0x33, 0x35, 0x37, 0x39, 0x3B, 0x3D, 0x3F,
    0x41, 0x44, 0x46, 0x48, 0x4A, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x52, 0x55, 0x58, 0x5B, 0x5E, 0x5F,
    0x60, 0x61, 0x62, 0x64, 0x66, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6F, 0x73, 0x2B, 0x2C};

inline bool IsKana(Byte b) { return In(b, 0xA1, 0xDF); }

inline Byte KanaRow(Byte b) {
    return (b <= 0xA5 || b == 0xB0 || b == 0xDE || b == 0xDF) ? Byte{0x21} : Byte{0x25};
}

struct Pair {
    Byte first;
    Byte second;
};

// Kana b, optionally followed by the sound mark `mark` (0 when there is none), as one
// JIS X 0208 character; `merged` tells whether the mark went into it.
inline Pair KanaPair(Byte b, Byte mark, bool& merged) {
    merged = false;
    if (!IsKana(b))
        return {kGeta1, kGeta2};
    Pair p{KanaRow(b), kKanaCell[b - 0xA1]};
    if (mark == 0xDE) {
        if (b == 0xB3) {
            p.second = 0x74; // ヴ lies apart from ウ
            merged = true;
        } else if (In(b, 0xB6, 0xC4) || In(b, 0xCA, 0xCE)) {
            p.second = static_cast<Byte>(p.second + 1);
            merged = true;
        }
    } else if (mark == 0xDF && In(b, 0xCA, 0xCE)) {
        p.second = static_cast<Byte>(p.second + 2);
        merged = true;
    }
    return p;
}

inline Pair SjisPairToJis(Byte c1, Byte c2) {
    Byte first = c1 < 0xA0 ? static_cast<Byte>(2 * c1 - 224) : static_cast<Byte>(2 * c1 - 352);
    Byte second;
    if (c2 > 0x9E) {
        second = static_cast<Byte>(c2 - 0x7E);
    } else {
        first = static_cast<Byte>(first - 1);
        second = static_cast<Byte>(c2 < 0x80 ? c2 - 0x1F : c2 - 0x20);
    }
    return {first, second};
}

inline Pair JisPairToSjis(Byte j1, Byte j2) {
    Byte second;
    if (j1 % 2 == 0)
        second = static_cast<Byte>(j2 + 0x7E);
    else
        second = static_cast<Byte>(j2 < 0x60 ? j2 + 0x1F : j2 + 0x20);
    const Byte first = static_cast<Byte>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    return {first, second};
}

inline void Put(std::string& out, Pair p) {
    const char two[2] = {static_cast<char>(p.first), static_cast<char>(p.second)};
    out.append(two, 2);
}

inline std::string PairString(Pair p) {
    std::string s(2, '\0');
    s[0] = static_cast<char>(p.first);
    s[1] = static_cast<char>(p.second);
    return s;
}

// Shift-JIS half-width katakana at `pos`, with a directly following sound mark merged in.
inline Pair SjisKanaAt(std::string_view text, std::size_t& pos) {
    const Byte b = At(text, pos);
    if (!IsKana(b)) {
        ++pos;
        return {kGeta1, kGeta2};
    }
    bool merged = false;
    const Pair p = KanaPair(b, At(text, pos + 1), merged);
    pos += merged ? 2 : 1;
    return p;
}

// EUC-JP single shift 2 at `pos`. A kana takes 8E and its byte, a merged mark 8E DE / 8E DF
// more. An 8E not followed by a kana byte is malformed: it alone becomes "〓", and the byte
// after it is left for the caller, so a CR, LF or ASCII letter there is never swallowed.
inline Pair EucKanaAt(std::string_view text, std::size_t& pos) {
    const Byte b = At(text, pos + 1);
    if (!IsKana(b)) {
        ++pos;
        return {kGeta1, kGeta2};
    }
    Byte mark = 0;
    if (pos + 3 < text.size() && At(text, pos + 2) == 0x8E)
        mark = At(text, pos + 3);
    bool merged = false;
    const Pair p = KanaPair(b, mark, merged);
    pos += merged ? 4 : 2;
    return p;
}

// The shared state machine of SjisToJis and EucToJis: ASCII bytes go out as they are, a
// byte above 7F starts a two-byte character (via `twoByte`), and the escape sequences are
// written on each change of mode. CR and LF force ASCII mode, so a line break never sits
// inside a JIS run; the end of the text does not.
template <typename TwoByte>
std::string ToJis(std::string_view text, TwoByte twoByte) {
    std::string out;
    out.reserve(text.size() + text.size() / 2 + 16);
    const std::size_t n = text.size();
    bool jis = false;
    std::size_t i = 0;
    while (i < n) {
        const Byte x = static_cast<Byte>(text[i]);
        if (x <= 0x7F) {
            if (jis) {
                out.append(kToAscii);
                jis = false;
            }
            out.push_back(static_cast<char>(x));
            ++i;
            continue;
        }
        if (!jis) {
            out.append(kToJis);
            jis = true;
        }
        Put(out, twoByte(text, i));
    }
    return out;
}

// JisToEuc and JisToSjis: escape sequences are three bytes and are dropped; "$" turns JIS
// mode on, "(" turns it off, anything else leaves it. `inJis` handles a byte in JIS mode and
// returns the position after what it consumed.
template <typename InJis>
std::string FromJis(std::string_view text, InJis inJis) {
    std::string out;
    out.reserve(text.size() + 16);
    const std::size_t n = text.size();
    bool jis = false;
    std::size_t i = 0;
    while (i < n) {
        const Byte x = static_cast<Byte>(text[i]);
        if (x == static_cast<Byte>(kEsc)) {
            const Byte kind = At(text, i + 1);
            if (kind == '$')
                jis = true;
            else if (kind == '(')
                jis = false;
            i += 3;
            continue;
        }
        if (jis && In(x, 0x21, 0x7E)) {
            i = inJis(text, i, out);
            continue;
        }
        out.push_back(static_cast<char>(x));
        ++i;
    }
    return out;
}

} // namespace

int DetectCode(std::string_view text) {
    const std::size_t n = text.size();
    // Positions here count from 0; the last byte is never taken as a first byte.
    for (std::size_t i = 0; i < BinaryScanLimit && i + 1 < n; ++i) {
        const Byte b = static_cast<Byte>(text[i]);
        if (b < 8 || b == 0xFF)
            return BINARY;
    }
    int r = ASCII;
    std::size_t i = 0;
    while ((r == ASCII || r == EUC_OR_SJIS) && i + 1 < n) {
        const Byte x = static_cast<Byte>(text[i]);
        if (x == 0x1B) {
            ++i;
            if (At(text, i) == '$') {
                ++i;
                const Byte d = At(text, i);
                if (d == 0x42)
                    r = JIS;
                else if (d == 0x40)
                    r = JIS_OLD;
            }
        } else if (x < 8 || x == 0xFF) {
            r = BINARY;
        } else if (x <= 0x7F) {
            // plain ASCII
        } else if (In(x, 0x81, 0x8D) || In(x, 0x8F, 0x9F)) {
            r = SJIS;
        } else if (x == 0x8E) {
            ++i;
            const Byte d = At(text, i);
            if (In(d, 0x40, 0x7E) || In(d, 0x80, 0xA0) || In(d, 0xE0, 0xFC))
                r = SJIS;
            else if (In(d, 0xA1, 0xDF))
                r = EUC_OR_SJIS;
        } else if (In(x, 0xA1, 0xDF)) {
            ++i;
            const Byte d = At(text, i);
            if (In(d, 0xF0, 0xFE)) {
                r = EUC;
            } else if (In(d, 0xA1, 0xDF)) {
                r = EUC_OR_SJIS;
            } else if (In(d, 0xE0, 0xEF)) {
                r = EUC_OR_SJIS;
                // Look along the run of non-ASCII bytes for one that only one code allows.
                while (i < n && r == EUC_OR_SJIS) {
                    const Byte c = static_cast<Byte>(text[i]);
                    if (c < 0x40)
                        break;
                    if (In(c, 0x81, 0x8D) || In(c, 0x8F, 0x9C))
                        r = SJIS;
                    else if (c == 0xFD || c == 0xFE)
                        r = EUC;
                    ++i;
                }
            } else if (d <= 0x9F) {
                r = SJIS;
            }
        } else if (In(x, 0xF0, 0xFE)) {
            r = EUC;
        } else if (In(x, 0xE0, 0xEF)) {
            ++i;
            const Byte d = At(text, i);
            if (In(d, 0x40, 0x7E) || In(d, 0x80, 0xA0))
                r = SJIS;
            else if (d == 0xFD || d == 0xFE)
                r = EUC;
            else if (In(d, 0xA1, 0xFC))
                r = EUC_OR_SJIS;
        }
        ++i;
    }
    return r;
}

std::string Convert(std::string_view text, int target) {
    const int d = DetectCode(text);
    if (d == ASCII || d == BINARY || d == EUC_OR_SJIS || d == target)
        return std::string(text);
    const bool fromJis = d == JIS || d == JIS_OLD;
    switch (target) {
    case JIS:
        if (d == EUC)
            return EucToJis(text);
        if (d == SJIS)
            return SjisToJis(text);
        break;
    case EUC:
        if (fromJis)
            return JisToEuc(text);
        if (d == SJIS)
            return SjisToEuc(text);
        break;
    case SJIS:
        if (fromJis)
            return JisToSjis(text);
        if (d == EUC)
            return EucToSjis(text);
        break;
    default:
        break;
    }
    return std::string(text);
}

std::string SjisToJis(std::string_view text) {
    return ToJis(text, [](std::string_view t, std::size_t& i) {
        const Byte x = static_cast<Byte>(t[i]);
        if (IsKana(x))
            return SjisKanaAt(t, i);
        const Pair p = SjisPairToJis(x, At(t, i + 1));
        i += 2;
        return p;
    });
}

std::string EucToJis(std::string_view text) {
    return ToJis(text, [](std::string_view t, std::size_t& i) {
        const Byte x = static_cast<Byte>(t[i]);
        if (x == 0x8E)
            return EucKanaAt(t, i);
        const Pair p{static_cast<Byte>(x & 0x7F), static_cast<Byte>(At(t, i + 1) & 0x7F)};
        i += 2;
        return p;
    });
}

std::string JisToEuc(std::string_view text) {
    return FromJis(text, [](std::string_view t, std::size_t i, std::string& out) {
        out.push_back(static_cast<char>(static_cast<Byte>(t[i]) | 0x80));
        return i + 1;
    });
}

std::string JisToSjis(std::string_view text) {
    return FromJis(text, [](std::string_view t, std::size_t i, std::string& out) {
        Put(out, JisPairToSjis(static_cast<Byte>(t[i]), At(t, i + 1)));
        return i + 2;
    });
}

std::string EucToSjis(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const Byte x = static_cast<Byte>(text[i]);
        if (x <= 0x80 || x == 0xFF) {
            out.push_back(static_cast<char>(x));
            ++i;
        } else if (x == 0x8E) {
            // Half-width katakana: Shift-JIS has the same byte without the single shift.
            if (i + 1 < n)
                out.push_back(text[i + 1]);
            i += 2;
        } else {
            Put(out, JisPairToSjis(static_cast<Byte>(x & 0x7F), static_cast<Byte>(At(text, i + 1) & 0x7F)));
            i += 2;
        }
    }
    return out;
}

std::string SjisToEuc(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2 + 16);
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const Byte x = static_cast<Byte>(text[i]);
        if (x < 0x80) {
            out.push_back(static_cast<char>(x));
            ++i;
        } else if (IsKana(x)) {
            out.push_back('\x8E');
            out.push_back(static_cast<char>(x));
            ++i;
        } else {
            const Pair p = SjisPairToJis(x, At(text, i + 1));
            Put(out, {static_cast<Byte>(p.first | 0x80), static_cast<Byte>(p.second | 0x80)});
            i += 2;
        }
    }
    return out;
}

std::string SjisCharToJis(unsigned char lead, unsigned char trail) {
    return PairString(SjisPairToJis(lead, trail));
}

std::string JisCharToSjis(unsigned char j1, unsigned char j2) {
    return PairString(JisPairToSjis(j1, j2));
}

std::string SjisKanaToJis(std::string_view text, std::size_t& pos) {
    return PairString(SjisKanaAt(text, pos));
}

std::string EucKanaToJis(std::string_view text, std::size_t& pos) {
    return PairString(EucKanaAt(text, pos));
}

std::string Base64Encode(std::string_view bytes) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::size_t n = bytes.size();
    std::string out;
    out.reserve((n + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const std::uint32_t v = (std::uint32_t{static_cast<Byte>(bytes[i])} << 16) |
                                (std::uint32_t{static_cast<Byte>(bytes[i + 1])} << 8) |
                                std::uint32_t{static_cast<Byte>(bytes[i + 2])};
        const char quad[4] = {kAlphabet[(v >> 18) & 63], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63],
                              kAlphabet[v & 63]};
        out.append(quad, 4);
    }
    const std::size_t rest = n - i;
    if (rest > 0) {
        std::uint32_t v = std::uint32_t{static_cast<Byte>(bytes[i])} << 16;
        if (rest == 2)
            v |= std::uint32_t{static_cast<Byte>(bytes[i + 1])} << 8;
        const char quad[4] = {kAlphabet[(v >> 18) & 63], kAlphabet[(v >> 12) & 63],
                              rest == 2 ? kAlphabet[(v >> 6) & 63] : '=', '='};
        out.append(quad, 4);
    }
    return out;
}

} // namespace jconvert
