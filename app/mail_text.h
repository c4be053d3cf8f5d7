// The send run's text routines: the parts of a recipient entry, the check of text against
// ISO-2022-JP, and the Date and Message-ID values. Bytes in, bytes out. The mail line and
// encoded-word routines are the message builder's.
#pragma once

#include "smtp/message_builder.h"

#include <QDateTime>
#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly {

// A recipient list entry taken apart: a bare address, or a name, "<", an address and ">".
struct RecipientParts {
    std::string address;       // where the message goes
    std::string addresseeName; // the name, trimmed; for a bare address the part before "@"
};
RecipientParts SplitRecipient(std::string_view entrySjis);

// Checks that every character of the Shift-JIS text has an ISO-2022-JP form of 7-bit bytes
// (user-defined characters and the IBM extensions have none and would corrupt the mail). Throws
// tessaly::Error naming `field`, the character and its column in `text` (the same text as
// Unicode), followed by `advice` when given, when one has not.
void CheckJisSendable(std::string_view sjis, const QString& text, const QString& field,
                      const QString& advice = {});

// Checks that the bytes (read from a file, never typed) are code page 932 characters throughout:
// UTF-8 mail carries each character as it is, and a byte that is none would arrive as U+FFFD.
// Throws tessaly::Error naming `field` when one is not.
void CheckCp932Text(std::string_view sjis, const QString& field);

// "Mon, 07 Dec 2026 21:54:27 +0900"
std::string Rfc5322Date(const QDateTime& local);
// "<unique@domain>": unique per call within the process and across processes; the domain is the
// sender address's when it has one.
std::string NewMessageId(std::string_view fromAddress);

} // namespace tessaly
