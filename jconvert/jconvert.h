// Character code detection and conversion between Shift-JIS, EUC-JP and ISO-2022-JP,
// and the Base64 encoder of header encoded words. Works on byte strings only.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace jconvert {

// Code numbers: results of DetectCode and targets of Convert.
inline constexpr int ASCII = 0;
inline constexpr int BINARY = 1;
inline constexpr int JIS = 2;     // ESC $ B
inline constexpr int JIS_OLD = 3; // ESC $ @ (JIS C 6226)
inline constexpr int EUC = 4;
inline constexpr int SJIS = 5;
inline constexpr int EUC_OR_SJIS = 6; // undecided

// How many leading bytes the binary scan of DetectCode looks at.
inline constexpr std::size_t BinaryScanLimit = 512;

int DetectCode(std::string_view text);
std::string Convert(std::string_view text, int target);

std::string SjisToJis(std::string_view text);
std::string EucToJis(std::string_view text);
std::string JisToEuc(std::string_view text);
std::string SjisToEuc(std::string_view text);
std::string JisToSjis(std::string_view text);
std::string EucToSjis(std::string_view text);

// Two-byte results as a string of exactly two bytes.
std::string SjisCharToJis(unsigned char lead, unsigned char trail);
std::string JisCharToSjis(unsigned char j1, unsigned char j2);
// `pos` counts from 0 and is moved past the last byte consumed. A directly following sound
// mark (EUC-JP: 8E DE or 8E DF) is merged where a voiced or semi-voiced form exists. Where no
// half-width katakana stands (EUC-JP: 8E followed by a byte outside A1..DF), the result is
// "〓" (22 2E) and only the one byte is consumed, so what follows is never swallowed.
std::string SjisKanaToJis(std::string_view text, std::size_t& pos);
std::string EucKanaToJis(std::string_view text, std::size_t& pos);

std::string Base64Encode(std::string_view bytes);

} // namespace jconvert
