// What the messages of a send run are made of besides the texts they all share: each recipient's
// own part (the address taken from its list entry, the addressee line, the Date and a Message-ID
// from one replaceable clock) and the notify copy that follows the last recipient. The run, the
// preview and the test send take them from here, so that each builds a message the same way.
// Standard C++ on code page 932 bytes, like the message builder that assembles them.
#pragma once

#include "common/local_time.h"
#include "smtp/message_builder.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The mailer's name every message carries in "X-Mailer".
inline constexpr std::string_view MailerName = "Tessaly27S";

// A recipient list entry taken apart: a bare address, or a name, "<", an address and ">".
struct RecipientParts {
    std::string address;       // where the message goes
    std::string addresseeName; // the name, trimmed; for a bare address the part before "@"
};
RecipientParts SplitRecipient(std::string_view entrySjis);

// The line above a message's body: the addressee's name, one blank, the honorific.
std::string AddresseeLine(std::string_view addresseeNameSjis, std::string_view keisyouSjis);

// "Mon, 07 Dec 2026 21:54:27 +0900"
std::string Rfc5322Date(const LocalTime& time);
// "<unique@domain>": unique per call within the process and across processes, whatever the time
// says; the domain is the sender address's when it has a plain one.
std::string NewMessageId(std::string_view fromAddress, const LocalTime& time);

// The header values of one message sent at `time`: `to` in "To", the Date, a new Message-ID.
MessageAddressee AddresseeOf(std::string to, std::string_view fromAddress, const LocalTime& time);

// A recipient's own message when the mail is merged with a table: the texts with the row's
// values in them, the copies and the files that go with it.
struct RecipientMessage {
    std::string subjectSjis;
    std::vector<std::string> bodyShownSjis;
    std::vector<std::string> cc;  // in the "Cc" header and the envelope
    std::vector<std::string> bcc; // in the envelope only
    std::vector<std::string> attachmentPathsSjis; // checked before the run (regular files)
};

// A recipient the server refused while the run went on past it.
struct RefusedRecipient {
    std::string entrySjis; // the list entry as the run took it
    std::string reply;     // the server's reply
};

// The notify copy: the run's texts, the Subject marked "（毎回通知）", and below the body the
// separator, the note naming the honorific (only with the addressee line on: `noteKeisyouSjis`)
// and one line per entry of the list as it stands now. An entry the server refused says so,
// with the reply; without refusals the copy is what it always was.
struct NotifyCopy {
    MessageTexts texts;
    std::vector<std::string> addedLinesSjis; // the lines below the body, as the body field gets them
};
NotifyCopy NotifyCopyOf(const MessageTexts& run, const std::vector<std::string>& entriesSjis,
                        const std::optional<std::string>& noteKeisyouSjis,
                        const std::vector<RefusedRecipient>& refused = {});

// The text as one line: each line break (CR LF, CR or LF) becomes one blank.
std::string OneLine(std::string_view text);

} // namespace tessaly
