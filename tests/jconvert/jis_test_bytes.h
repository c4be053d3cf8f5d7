// What the jconvert tests write and compare: the ISO-2022-JP escape sequences, and bytes as hex.
#pragma once

#include <string>
#include <string_view>

namespace jconvert_test {

inline const std::string kEscJis = "\x1B$B";
inline const std::string kEscAscii = "\x1B(B";

// "1B 24 42": a failed comparison of bytes shows every byte.
inline std::string Hex(std::string_view s) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string h;
    for (unsigned char c : s) {
        if (!h.empty())
            h += ' ';
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

} // namespace jconvert_test
