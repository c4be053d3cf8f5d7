// The files attached to a mail: the list the user builds (each file as it was when added), the
// checks a run makes of them before anything is sent, and the one reading of each file per run
// that gives every message its part.
#pragma once

#include "smtp/mime_parts.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

struct WireMessage;

// A file on the list, as it stood when the user added it.
struct AttachedFile {
    std::string pathSjis;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0; // last change, nanoseconds since the epoch
    std::string contentType;     // from the file's name and first bytes
    std::string sha256;          // of its bytes when read through before the run; "" not yet
};

// The file at `pathSjis` as it stands now, to be put on the list; raises Error (the refusal's
// text) for what cannot be attached.
AttachedFile AttachedFileOf(const std::string& pathSjis);

// AttachedFileOf, and the file read through once for its SHA-256 (nothing of it is kept), for a
// file that is read again only when its message is built.
AttachedFile ReadThroughFileOf(const std::string& pathSjis);

// The name the file is sent and shown under: the path's last part.
std::string AttachmentNameOf(const std::string& pathSjis);

// Reads each file once, checking it is still the file that was added, and makes the parts
// every message of the run shares; none for an empty list. Raises Error naming the first file
// that cannot be sent as added. `textLines` are the text part's lines, which the boundary
// between the parts must not match.
std::shared_ptr<const MessageAttachments> ReadAttachments(const std::vector<AttachedFile>& files,
                                                          const std::vector<std::string>& textLines);

// The parts of `shared` (the run's files) followed by `own`'s, read now, behind a boundary
// chosen against `textLines`; `shared` itself when `own` is empty.
std::shared_ptr<const MessageAttachments>
WithOwnAttachments(const std::shared_ptr<const MessageAttachments>& shared,
                   const std::vector<AttachedFile>& own, const std::vector<std::string>& textLines);

// A size as the user reads it: "850 バイト", "12.4 KB", "3.2 MB".
QString SizeText(std::int64_t bytes);
// The whole list: "添付ファイル 3 個（4.1 MB）".
QString AttachmentSummary(const std::vector<AttachedFile>& files);

// How large the message is on the wire (without dot-stuffing), as SIZE counts it.
std::int64_t WireSize(const WireMessage& message);
// The limit the server announced with SIZE in its EHLO reply; none when it named none (or 0,
// which says there is none).
std::optional<std::int64_t> SizeLimitOf(const std::vector<std::string>& extensions);

// The Subject the send log records for a run with files: the files named after it.
std::string LoggedSubject(const std::string& subjectSjis, const MessageAttachments& files);
// The lines the run journal's identity is made of: the body's, and each file's name, size and
// SHA-256, so that a resumed run sends exactly the files the stopped one sent.
std::vector<std::string> JournalLines(const std::vector<std::string>& bodyLines,
                                      const MessageAttachments* files);
// The sent-data file's lines for a run: the body, then a line naming each file.
std::vector<std::string> SentDataLines(std::vector<std::string> bodyLinesSjis,
                                       const MessageAttachments* files);

// Messages above this ask first when the server names no limit.
inline constexpr std::int64_t LargeMessageSize = 10 * 1000 * 1000;
// The refusal of a message larger than the server's limit, and the question before a large one.
QString SizeLimitRefusalText(std::int64_t messageSize, std::int64_t limit);
QString LargeMessageQuestionText(std::int64_t messageSize);

} // namespace tessaly
