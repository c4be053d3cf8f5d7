// The attached files of a message: each file's MIME part header and its Base64 text. The text of
// a file is made once per run and shared by every message of it, so that a run to many
// recipients holds one copy of it however many messages it sends.
// Standard C++ and bytes only, like the message builder that puts the parts together.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The longest header line a message holds before it is folded, and the length of every Base64
// line of a body or a part, without the CR LF.
inline constexpr std::size_t kMailMaxLine = 78;
inline constexpr std::size_t kMailBase64Line = 76;

// One file as every message of the run carries it.
struct AttachmentPart {
    std::string nameSjis;    // the file's name, as the reader is shown it
    std::string contentType; // "application/pdf"
    std::uint64_t size = 0;  // of the file, in bytes
    std::string sha256;      // of the file's bytes, 64 lower-case hex digits
    std::shared_ptr<const std::string> base64; // the file in lines of 76 characters, each with CR LF
};

struct MessageAttachments {
    std::string boundary; // between the parts; never found in a message's text
    std::vector<AttachmentPart> parts;
};

// The bytes in Base64, in lines of 76 characters, each followed by CR LF; nothing for no bytes.
std::string Base64Lines(std::string_view bytes);

// The header lines of a file's part (without line ends; a folded line's continuation begins with
// a blank). A name of printable ASCII goes out quoted as it is. Any other name goes out as
// encoded words in "name" and "filename" and once more as an RFC 2231 "filename*" in the
// message's charset, which is how Japanese mail readers and the desktop mail programs read it;
// a name that ISO-2022-JP cannot hold uses UTF-8 in both forms. Long values are folded between
// whole characters.
std::vector<std::string> AttachmentPartHeader(std::string_view nameSjis,
                                              std::string_view contentType, bool messageUtf8);

// A boundary no line of the run's messages holds: random, with "=_" that no Base64 line holds,
// and checked against the lines of `avoid` (the text part's lines).
std::string NewBoundary(const std::vector<std::string>& avoid = {});

} // namespace tessaly
