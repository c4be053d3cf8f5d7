#include "smtp/message_builder.h"

#include "common/cp932.h"
#include "common/sjis_bytes.h"
#include "jconvert/jconvert.h"

#include <algorithm>

namespace tessaly {

namespace {

constexpr std::string_view kJisWordStart = "=?ISO-2022-JP?B?";
constexpr std::string_view kUtf8WordStart = "=?UTF-8?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::size_t kMaxWord = 75;

bool isHalfKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
bool isSoundMark(unsigned char c) { return c == 0xDE || c == 0xDF; }

} // namespace

std::size_t SjisUnitLength(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (isSjisLeadByte(c) && pos + 1 < s.size())
        return 2;
    if (isHalfKana(c) && !isSoundMark(c) && pos + 1 < s.size() &&
        isSoundMark(static_cast<unsigned char>(s[pos + 1])))
        return 2;
    return 1;
}

namespace {

bool hasJisForm(std::string_view sjis) { return !FirstCharacterWithoutJisForm(sjis); }

// "Name: " and the folded value as header lines; `tail` goes at the end of the last one.
void addFolded(std::vector<std::string>& header, std::string_view prefix, const std::string& value,
               std::string_view tail = {}) {
    std::string line(prefix);
    for (std::size_t start = 0;;) {
        const std::size_t end = value.find("\r\n ", start);
        line += value.substr(start, end == std::string::npos ? end : end - start);
        if (end == std::string::npos)
            break;
        header.push_back(std::move(line));
        line = " ";
        start = end + 3;
    }
    line += tail;
    header.push_back(std::move(line));
}

void addIfSet(std::vector<std::string>& header, std::string_view name, std::string_view value) {
    if (!value.empty())
        header.push_back(std::string(name) + ": " + std::string(value));
}

} // namespace

MessageCharset MessageCharsetFromSetting(int setting) {
    switch (setting) {
    case 1: return MessageCharset::Auto;
    case 2: return MessageCharset::Utf8;
    default: return MessageCharset::Iso2022Jp;
    }
}

std::string ToJisLine(std::string_view sjis) {
    std::string line(sjis);
    line += "\r\n";
    std::string jis = jconvert::SjisToJis(line);
    jis.resize(jis.size() - 2);
    return jis;
}

std::string EncodedWord(std::string_view sjis) {
    std::string word(kJisWordStart);
    word += jconvert::Base64Encode(ToJisLine(sjis));
    word += kWordEnd;
    return word;
}

std::string EncodedWordUtf8(std::string_view sjis) {
    std::string word(kUtf8WordStart);
    word += jconvert::Base64Encode(cp932::toUtf8(sjis));
    word += kWordEnd;
    return word;
}

std::size_t WholeCharactersFitting(std::string_view sjis, std::size_t pos, std::size_t room,
                                   const std::function<std::string(std::string_view)>& encode,
                                   std::string& encoded) {
    // At least one character, so that a caller's loop always advances.
    std::vector<std::size_t> ends{pos + SjisUnitLength(sjis, pos)};
    while (ends.back() < sjis.size())
        ends.push_back(ends.back() + SjisUnitLength(sjis, ends.back()));
    encoded = encode(sjis.substr(pos, ends.front() - pos));
    // A longer run never encodes shorter, so the longest that fits is found by halving: a long
    // Subject of a merged row is folded with a few encodings per word instead of one per
    // character.
    std::size_t fits = 0, fails = ends.size();
    while (fails - fits > 1) {
        const std::size_t middle = fits + (fails - fits) / 2;
        std::string longer = encode(sjis.substr(pos, ends[middle] - pos));
        if (longer.size() > room) {
            fails = middle;
        } else {
            encoded = std::move(longer);
            fits = middle;
        }
    }
    return ends[fits];
}

std::string FoldedEncodedWords(std::string_view sjis, std::size_t prefixLength,
                               const std::function<std::string(std::string_view)>& encode) {
    std::string single = encode(sjis);
    if (prefixLength + single.size() <= kMailMaxLine)
        return single;

    std::string folded;
    std::size_t pos = 0;
    bool firstLine = true;
    while (pos < sjis.size()) {
        const std::size_t lineRoom = firstLine ? (prefixLength < kMailMaxLine ? kMailMaxLine - prefixLength
                                                                          : 0)
                                               : kMailMaxLine - 1; // the folding blank
        const std::size_t room = std::min(lineRoom, kMaxWord);
        std::string word;
        const std::size_t end = WholeCharactersFitting(sjis, pos, room, encode, word);
        if (!firstLine)
            folded += "\r\n ";
        folded += word;
        firstLine = false;
        pos = end;
    }
    return folded;
}

std::string EncodedHeaderValue(std::string_view sjis, std::size_t prefixLength) {
    return FoldedEncodedWords(sjis, prefixLength, EncodedWord);
}

std::optional<std::size_t> FirstCharacterWithoutJisForm(std::string_view sjis) {
    // JIS X 0208 and the NEC special characters (row 13) lie in rows 1 to 84. User-defined
    // characters and the IBM extensions (FA..FC) fall outside the 7-bit range; the NEC-selected
    // IBM extensions (ED, EE) fall into rows 89 to 92, which no reader knows.
    std::size_t column = 0;
    for (std::size_t i = 0; i < sjis.size(); ++column) {
        const auto lead = static_cast<unsigned char>(sjis[i]);
        if (!isSjisLeadByte(lead) || i + 1 >= sjis.size()) {
            ++i;
            continue;
        }
        const std::string jis =
            jconvert::SjisCharToJis(lead, static_cast<unsigned char>(sjis[i + 1]));
        const auto row = static_cast<unsigned char>(jis[0]);
        const auto cell = static_cast<unsigned char>(jis[1]);
        if (row < 0x21 || row > 0x74 || cell < 0x21 || cell > 0x7E)
            return column;
        i += 2;
    }
    return std::nullopt;
}

MessageBuilder::MessageBuilder(MessageTexts texts, MessageCharset charset)
    : texts_(std::move(texts)), charset_(charset) {
    convertTexts(nullptr);
}

MessageBuilder::MessageBuilder(const MessageBuilder& shared, MessageTexts texts)
    : texts_(std::move(texts)), charset_(shared.charset_) {
    convertTexts(&shared);
}

void MessageBuilder::convertTexts(const MessageBuilder* shared) {
    const std::vector<std::string>& lines = texts_.bodySjis;
    // Line i as `shared` has it at the same place, and so converted already.
    const auto same = [&](std::size_t i) {
        return shared && i < shared->texts_.bodySjis.size() && lines[i] == shared->texts_.bodySjis[i];
    };
    if (charset_ == MessageCharset::Auto) {
        bool jis = hasJisForm(texts_.subjectSjis) && hasJisForm(texts_.fromNameSjis);
        for (std::size_t i = 0; jis && i < lines.size(); ++i)
            jis = (same(i) && shared->sharedTextsHaveJisForm_) || hasJisForm(lines[i]);
        sharedTextsHaveJisForm_ = jis;
    }
    if (charset_ != MessageCharset::Utf8) {
        bodyJis_.reserve(lines.size());
        for (std::size_t i = 0; i < lines.size(); ++i)
            bodyJis_.push_back(same(i) ? shared->bodyJis_[i] : ToJisLine(lines[i]));
    }
    if (charset_ != MessageCharset::Iso2022Jp) {
        for (const std::string& line : lines) {
            bodyUtf8_ += cp932::toUtf8(line);
            bodyUtf8_ += "\r\n";
        }
    }
}

bool MessageBuilder::sendsUtf8(const std::optional<std::string>& addresseeLineSjis) const {
    switch (charset_) {
    case MessageCharset::Iso2022Jp: return false;
    case MessageCharset::Utf8: return true;
    case MessageCharset::Auto: break;
    }
    return !sharedTextsHaveJisForm_ || (addresseeLineSjis && !hasJisForm(*addresseeLineSjis));
}

WireMessage MessageBuilder::build(const MessageAddressee& addressee) const {
    WireMessage m;
    m.utf8 = sendsUtf8(addressee.addresseeLineSjis);
    std::vector<std::string>& header = m.header;
    const std::string from = "<" + texts_.fromAddress + ">";
    if (!m.utf8) {
        addFolded(header, "From: ", EncodedHeaderValue(texts_.fromNameSjis, 6), from);
    } else if (texts_.fromNameSjis.empty()) {
        header.push_back("From: " + from);
    } else {
        addFolded(header, "From: ", FoldedEncodedWords(texts_.fromNameSjis, 6, EncodedWordUtf8),
                  " " + from);
    }
    addIfSet(header, "To", addressee.to);
    addIfSet(header, "Cc", addressee.cc);
    addFolded(header, "Subject: ",
              m.utf8 ? FoldedEncodedWords(texts_.subjectSjis, 9, EncodedWordUtf8)
                     : EncodedHeaderValue(texts_.subjectSjis, 9));
    addIfSet(header, "X-Mailer", texts_.localProgram);
    addIfSet(header, "Reply-To", texts_.replyTo);
    addIfSet(header, "Date", addressee.date);
    header.emplace_back("Mime-Version: 1.0");
    // With files the text part carries the text's own header lines, and the message says where
    // its parts begin.
    const bool multipart = texts_.attachments && !texts_.attachments->parts.empty();
    std::vector<std::string> textHeader;
    std::vector<std::string>& contentHeader = multipart ? textHeader : header;
    if (m.utf8) {
        contentHeader.emplace_back("Content-Type: text/plain; charset=UTF-8");
        contentHeader.emplace_back("Content-Transfer-Encoding: base64");
    } else {
        contentHeader.emplace_back("Content-Type: text/plain; charset=iso-2022-jp");
    }
    if (multipart) {
        m.boundary = texts_.attachments->boundary;
        header.push_back("Content-Type: multipart/mixed; boundary=\"" + m.boundary + "\"");
        m.body.push_back("--" + m.boundary);
        m.body.insert(m.body.end(), textHeader.begin(), textHeader.end());
        m.body.emplace_back();
        for (const AttachmentPart& part : texts_.attachments->parts)
            m.attachments.push_back(
                {AttachmentPartHeader(part.nameSjis, part.contentType, m.utf8), part.base64});
    }
    addIfSet(header, "Message-ID", addressee.messageId);

    if (!m.utf8) {
        m.body.reserve(m.body.size() + bodyJis_.size() + 3);
        // The text part reads as the message without files does: the empty line the client
        // puts before a body, the lines, and the line end the boundary after them takes.
        if (multipart)
            m.body.emplace_back();
        if (addressee.addresseeLineSjis)
            m.body.push_back(ToJisLine(*addressee.addresseeLineSjis));
        m.body.insert(m.body.end(), bodyJis_.begin(), bodyJis_.end());
        if (multipart)
            m.body.emplace_back();
        return m;
    }
    // The client puts an empty line before every body; an ISO-2022-JP reader shows it as the
    // body's first line, but a base64 reader skips it. It goes into the encoded text as well, so
    // that both read the same lines.
    std::string text = "\r\n";
    if (addressee.addresseeLineSjis)
        text += cp932::toUtf8(*addressee.addresseeLineSjis) + "\r\n";
    text += bodyUtf8_;
    const std::string base64 = jconvert::Base64Encode(text);
    for (std::size_t pos = 0; pos < base64.size(); pos += kMailBase64Line)
        m.body.push_back(base64.substr(pos, kMailBase64Line));
    return m;
}

} // namespace tessaly
