// The one boundary between Unicode and the bytes the program stores and mails:
// Windows code page 932 (Shift-JIS with the NEC and IBM extensions).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cp932 {

// A character that code page 932 cannot hold.
struct Unencodable {
    char32_t codePoint;   // the character
    std::size_t position; // its index in the input, counted in characters (code points) from 0
};

struct EncodeResult {
    std::string bytes;                  // the encodable part, in code page 932
    std::vector<Unencodable> refused;   // empty when everything was encodable
    bool ok() const { return refused.empty(); }
};

// Unicode (UTF-8) to code page 932. U+301C and U+FF5E both become 81 60.
EncodeResult fromUtf8(std::string_view utf8);
// Code page 932 to Unicode (UTF-8), table-driven. Never fails: a byte that starts no character
// becomes U+FFFD and the byte after it is read afresh; `invalid`, when given, receives how many
// bytes did.
std::string toUtf8(std::string_view bytes, std::size_t* invalid = nullptr);
// True when every byte of `bytes` belongs to a character of code page 932.
bool isValid(std::string_view bytes);

// File names: the program keeps paths as code page 932 bytes; the file system speaks UTF-8.
std::string pathFromSjis(std::string_view sjisPath);

} // namespace cp932
