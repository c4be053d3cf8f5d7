// Any bytes, read as code page 932 or as UTF-8, convert without a crash; decoding always gives
// valid UTF-8, and every character decoded comes back to code page 932 without a refusal.
#include "common/cp932.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool validUtf8(const std::string& s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char b = static_cast<unsigned char>(s[i]);
        std::size_t extra = 0;
        if (b >= 0xC2 && b <= 0xDF)
            extra = 1;
        else if (b >= 0xE0 && b <= 0xEF)
            extra = 2;
        else if (b >= 0xF0 && b <= 0xF4)
            extra = 3;
        else if (b >= 0x80)
            return false;
        if (s.size() - i <= extra)
            return false;
        for (std::size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
                return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    const std::string text = cp932::toUtf8(input);
    if (!validUtf8(text))
        std::abort();
    const auto back = cp932::fromUtf8(text);
    for (const auto& refused : back.refused)
        if (refused.codePoint != 0xFFFD) // only the stand-ins for broken bytes are refused
            std::abort();
    if (back.ok() && cp932::toUtf8(back.bytes) != text)
        std::abort();

    const auto encoded = cp932::fromUtf8(input);
    for (std::size_t i = 1; i < encoded.refused.size(); ++i)
        if (encoded.refused[i].position <= encoded.refused[i - 1].position)
            std::abort();
    return 0;
}
