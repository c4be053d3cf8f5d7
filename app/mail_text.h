// The send run's text routines: one mail line to ISO-2022-JP, header encoded words, the parts of
// a recipient entry, and the Date and Message-ID values. Bytes in, bytes out.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly {

// One Shift-JIS line to ISO-2022-JP, ending in ASCII mode. The text is always Shift-JIS here, so
// it is converted as such, never guessed at: a guess would send a line of half-width katakana
// as raw 8-bit Shift-JIS.
std::string ToJisLine(std::string_view sjis);

// "=?ISO-2022-JP?B?" + Base64 of ToJisLine(text) + "?=": one encoded word, whatever the length.
std::string EncodedWord(std::string_view sjis);

// The header value for `sjis`: the single encoded word when the header line ("Subject: " etc.,
// `prefixLength` characters, then the word) fits in 78 characters; otherwise several encoded
// words of at most 75 characters, each a whole ISO-2022-JP text beginning and ending in ASCII,
// joined by CR LF and a blank (folded continuation lines).
std::string EncodedHeaderValue(std::string_view sjis, std::size_t prefixLength);

// A recipient list entry taken apart: a bare address, or a name, "<", an address and ">".
struct RecipientParts {
    std::string address;       // where the message goes
    std::string addresseeName; // the name, trimmed; for a bare address the part before "@"
};
RecipientParts SplitRecipient(std::string_view entrySjis);

// Checks that every character of the Shift-JIS text has an ISO-2022-JP form of 7-bit bytes
// (user-defined characters and the IBM extensions have none and would corrupt the mail). Throws
// tessaly::Error naming `field`, the character and its column in `text` (the same text as
// Unicode) when one has not.
void CheckJisSendable(std::string_view sjis, const QString& text, const QString& field);

// "Mon, 07 Dec 2026 21:54:27 +0900"
std::string Rfc5322Date(const QDateTime& local);
// "<unique@domain>": unique per call within the process and across processes; the domain is the
// sender address's when it has one.
std::string NewMessageId(std::string_view fromAddress);

} // namespace tessaly
