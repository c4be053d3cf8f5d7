// One message of a send run, assembled exactly as it goes on the wire: the header lines and the
// body lines that follow "DATA". The SMTP client only adds the envelope and the DATA exchange.
// Standard C++ and bytes only: the texts come in as code page 932, the result is 7-bit.
//
//   MessageTexts texts;                      // taken once per run
//   texts.subjectSjis = ...; texts.bodySjis = ...;
//   const MessageBuilder builder(texts, MessageCharset::Auto);
//   WireMessage m = builder.build({"taro@example.jp", addresseeLineSjis, date, messageId});
#pragma once

#include "smtp/mime_parts.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// How a message's text goes out; the numbers are those of the Charset setting.
enum class MessageCharset {
    Iso2022Jp = 0, // always ISO-2022-JP; text without an ISO-2022-JP form is refused before the run
    Auto = 1,      // ISO-2022-JP when the whole message has an ISO-2022-JP form, UTF-8 otherwise
    Utf8 = 2,      // always UTF-8
};
MessageCharset MessageCharsetFromSetting(int setting);

// What every message of a run shares (code page 932 bytes, except the ASCII addresses).
struct MessageTexts {
    std::string fromAddress;
    std::string fromNameSjis;
    std::string replyTo;      // no "Reply-To" when empty
    std::string localProgram; // "X-Mailer"; none when empty
    std::string subjectSjis;
    std::vector<std::string> bodySjis;
    // The files every message carries after its text; none when empty.
    std::shared_ptr<const MessageAttachments> attachments;
};

// What differs per message.
struct MessageAddressee {
    std::string to;                               // the "To" header's entry
    std::optional<std::string> addresseeLineSjis; // put above the body when given
    std::string date;                             // "Date"; none when empty
    std::string messageId;                        // "Message-ID"; none when empty
    std::string cc;                               // the "Cc" header's entries; none when empty
};

struct WireMessage {
    bool utf8 = false;
    // Without line ends; a folded header's continuation lines begin with a blank.
    std::vector<std::string> header;
    // Without line ends and before dot-stuffing. The client sends an empty line before them;
    // a UTF-8 body carries that line inside its base64 text too, where readers see it.
    std::vector<std::string> body;
    // With attached files the body above is the text part, from its boundary on; each file
    // follows as its part's header lines and the run's one Base64 text of it, and the closing
    // boundary ends the message.
    struct Attachment {
        std::vector<std::string> header;
        std::shared_ptr<const std::string> base64; // lines with CR LF, shared by the run
    };
    std::vector<Attachment> attachments;
    std::string boundary; // empty without attachments
};

class MessageBuilder {
public:
    MessageBuilder(MessageTexts texts, MessageCharset charset);

    // Whether the message with this addressee line goes out as UTF-8.
    bool sendsUtf8(const std::optional<std::string>& addresseeLineSjis) const;
    WireMessage build(const MessageAddressee& addressee) const;
    // A merged row's message without a builder of its own: `subjectSjis`, `bodySjis` and
    // `attachments` in place of this builder's, the rest as this builder's texts. The bytes are
    // those a builder of the row's texts makes; a body line equal to this builder's at the same
    // place goes as converted here, so that a row costs little more than a message of the run.
    WireMessage buildOwn(const MessageAddressee& addressee, std::string_view subjectSjis,
                         const std::vector<std::string>& bodySjis,
                         const std::shared_ptr<const MessageAttachments>& attachments) const;

    const MessageTexts& texts() const { return texts_; }
    MessageCharset charset() const { return charset_; }
    // The body lines in ISO-2022-JP, converted once for every message of the run (none in
    // UTF-8 mode).
    const std::vector<std::string>& bodyJis() const { return bodyJis_; }

private:
    // Whether this builder's sender name, `subjectSjis` and `lines` all have a JIS form; lines
    // equal to `shared`'s at the same place are taken as `shared` found them.
    bool haveJisForm(std::string_view subjectSjis, const std::vector<std::string>& lines,
                     const MessageBuilder* shared) const;
    // The message with this Subject and these files; the body is this builder's converted lines,
    // or `ownLines` converted here but for the lines this builder has at the same place.
    WireMessage assemble(const MessageAddressee& addressee, std::string_view subjectSjis,
                         const MessageAttachments* attachments, bool utf8,
                         const std::vector<std::string>* ownLines) const;

    MessageTexts texts_;
    MessageCharset charset_;
    bool sharedTextsHaveJisForm_ = true;
    std::vector<std::string> bodyJis_; // not made in UTF-8 mode
    std::string bodyUtf8_;              // every line with CR LF; not made in ISO-2022-JP mode
};

// --- The text routines the builder is made of ---

// Length in bytes of the code page 932 character that starts at `pos`. A half-width kana takes
// its sound mark with it, because the two may become one full-width character.
std::size_t SjisUnitLength(std::string_view sjis, std::size_t pos);

// One code page 932 line to ISO-2022-JP, ending in ASCII mode. The text is always Shift-JIS
// here, so it is converted as such, never guessed at: a guess would send a line of half-width
// katakana as raw 8-bit Shift-JIS.
std::string ToJisLine(std::string_view sjis);

// The end of the longest run of whole characters from `pos` whose encoding (`encode`, into
// `encoded`) takes at most `room` bytes; one character at least, even where it takes more.
std::size_t WholeCharactersFitting(std::string_view sjis, std::size_t pos, std::size_t room,
                                   const std::function<std::string(std::string_view)>& encode,
                                   std::string& encoded);

// "=?ISO-2022-JP?B?" + Base64 of ToJisLine(text) + "?=": one encoded word, whatever the length.
std::string EncodedWord(std::string_view sjis);
// "=?UTF-8?B?" + Base64 of the text in UTF-8 + "?=".
std::string EncodedWordUtf8(std::string_view sjis);

// The header value for `sjis` made of encoded words (`word` encodes a piece of the text): the
// single word when the header line ("Subject: " etc., `prefixLength` characters, then the word)
// fits in 78 characters; otherwise several words of at most 75 characters, each of whole
// characters, joined by CR LF and a blank (folded continuation lines).
std::string FoldedEncodedWords(std::string_view sjis, std::size_t prefixLength,
                               const std::function<std::string(std::string_view)>& word);
// FoldedEncodedWords with ISO-2022-JP words.
std::string EncodedHeaderValue(std::string_view sjis, std::size_t prefixLength);

// The column (in characters, from 0) of the first character of the code page 932 text that has
// no ISO-2022-JP form: user-defined characters and the IBM extensions, under their IBM codes
// (FA..FC) and their NEC-selected codes (ED, EE) alike. Nothing when every character has one.
std::optional<std::size_t> FirstCharacterWithoutJisForm(std::string_view sjis);

} // namespace tessaly
