// What a send run refuses before anything is sent, in the words the user reads: the Subject
// checks (the send log's fields are quoted and split at commas) and the characters a message in
// the chosen code cannot carry. The run raises these; the preview shows them.
#pragma once

#include "sending/run_snapshot.h"

#include <QString>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The message with which the run refuses the Subject as typed; empty when it passes.
QString SubjectRefusal(const QString& subject);

// The refusal naming `field`, the character and its column, followed by `advice` when given,
// of a Shift-JIS text with a character that has no ISO-2022-JP form of 7-bit bytes
// (user-defined characters and the IBM extensions would corrupt the mail); empty when it has
// none.
QString JisRefusal(std::string_view sjis, const QString& field, const QString& advice = {});

// The refusal naming `field` of bytes (read from a file, never typed) that are not code page 932
// characters throughout: UTF-8 mail carries each character as it is, and a byte that is none
// would arrive as U+FFFD. Empty when they are.
QString Cp932Refusal(std::string_view sjis, const QString& field);

// The refusal of a port setting that is no number; empty when it is one.
QString PortRefusal(const RunSettings& settings);

// Why `addressSjis` is no mailbox a server may be given in MAIL or RCPT (dot-atoms or a quoted
// local part, "@", a domain of labels with a dot or an address literal, ASCII only); empty when
// it is one. A blank, an angle bracket or a control character would change the command itself.
QString MailboxFault(std::string_view addressSjis);

// Every entry of a recipient list whose address is no mailbox, or whose addressee name holds a
// line break (it becomes the first line of the body), listed in one message with the number of
// the entry and where it came from (`sourceOf(index)`, e.g. "アドレス帳"); empty when every entry
// is sound. Runs that take recipients from elsewhere name their own sources.
QString RecipientsRefusal(const std::vector<std::string>& entriesSjis,
                          const std::function<QString(std::size_t)>& sourceOf);

// The Subject goes into a header: a line break in it would start a header of its own.
QString SubjectLineRefusal(std::string_view subjectSjis);

// The first refusal among every text of the mail and every setting that goes into a message,
// for the code the settings choose, then every recipient that is no mailbox; empty when there is
// none.
QString SendRefusal(const RunMail& mail, const RunSettings& settings);

} // namespace tessaly
