// Arbitrary bytes through every entry point of jconvert; well-formed Shift-JIS built from the
// same bytes must survive the round trips through JIS and EUC-JP.
#include "jconvert/jconvert.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

void Require(bool ok) {
    if (!ok)
        std::abort();
}

bool IsBase64(const std::string& s) {
    for (unsigned char c : s) {
        const bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (!alnum && c != '+' && c != '/' && c != '=')
            return false;
    }
    return true;
}

// Printable ASCII, CR LF, JIS X 0208 codes (as Shift-JIS) and, with `kana`, half-width kana
// without marks (JIS has none, so they come back full-width from there).
std::string WellFormedSjis(std::string_view data, bool kana) {
    std::string out;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
        const auto a = static_cast<unsigned char>(data[i]);
        const auto b = static_cast<unsigned char>(data[i + 1]);
        switch (a % (kana ? 4 : 3)) {
        case 0:
            out += static_cast<char>(0x20 + b % 0x5F);
            break;
        case 1:
            out += "\r\n";
            break;
        case 2:
            out += jconvert::JisCharToSjis(static_cast<unsigned char>(0x21 + a % 0x5E),
                                           static_cast<unsigned char>(0x21 + b % 0x5E));
            break;
        default:
            out += static_cast<char>(0xA1 + b % 0x3D); // ｡ .. ﾝ: no sound marks, so no merging
            break;
        }
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    const int code = jconvert::DetectCode(text);
    Require(code >= jconvert::ASCII && code <= jconvert::EUC_OR_SJIS);
    for (int target = -1; target <= 7; ++target) {
        const std::string converted = jconvert::Convert(text, target);
        if (code == jconvert::ASCII || code == jconvert::BINARY || code == jconvert::EUC_OR_SJIS)
            Require(converted == text);
    }

    jconvert::SjisToJis(text);
    jconvert::EucToJis(text);
    jconvert::JisToEuc(text);
    jconvert::SjisToEuc(text);
    jconvert::JisToSjis(text);
    jconvert::EucToSjis(text);

    if (size >= 2) {
        Require(jconvert::SjisCharToJis(data[0], data[1]).size() == 2);
        Require(jconvert::JisCharToSjis(data[0], data[1]).size() == 2);
    }
    for (std::size_t start = 0; start <= size + 1; start += 1 + start % 7) {
        std::size_t pos = start;
        Require(jconvert::SjisKanaToJis(text, pos).size() == 2 && pos > start && pos <= start + 2);
        pos = start;
        Require(jconvert::EucKanaToJis(text, pos).size() == 2 && pos > start && pos <= start + 4);
    }

    const std::string b64 = jconvert::Base64Encode(text);
    Require(b64.size() == (size + 2) / 3 * 4 && IsBase64(b64));

    const std::string sjis = WellFormedSjis(text, false);
    Require(jconvert::JisToSjis(jconvert::SjisToJis(sjis)) == sjis);
    Require(jconvert::JisToEuc(jconvert::SjisToJis(sjis)) == jconvert::SjisToEuc(sjis));
    const std::string withKana = WellFormedSjis(text, true);
    Require(jconvert::EucToSjis(jconvert::SjisToEuc(withKana)) == withKana);
    return 0;
}
