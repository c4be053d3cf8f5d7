// Byte-level facts of Shift-JIS text that several parts of the program walk through.
#pragma once

#include <string_view>

namespace tessaly {

// The first byte of a two-byte Shift-JIS character; the byte after it may be any byte, "\" and
// "|" included, so a scan for a single-byte character must step over it.
inline bool isSjisLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Blanks and control characters: every byte up to 0x20.
inline bool isBlankByte(unsigned char c) { return c <= 0x20; }

// `s` without the blanks and control characters at both ends.
inline std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlankByte(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && isBlankByte(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

} // namespace tessaly
