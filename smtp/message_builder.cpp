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

namespace {

// FoldedEncodedWords with ISO-2022-JP words from one conversion of the whole text: the words'
// lengths are counted instead of encoded, and each word is encoded once. A character's JIS bytes
// do not depend on its neighbours, only the mode escapes between them do, so a run of characters
// is its characters' bytes with the escapes its own modes need: what converting it alone gives.
// Nothing when a text to be folded holds a byte that is not an ASCII character or the lead of a
// pair (half-width katakana, which may merge with a sound mark, bytes no character starts with, a
// lead byte at the end): the general folding takes those.
std::optional<std::string> foldedJisWords(std::string_view sjis, std::size_t prefixLength) {
    const std::string jis = ToJisLine(sjis);
    const auto wordLength = [](std::size_t jisLength) {
        return kJisWordStart.size() + (jisLength + 2) / 3 * 4 + kWordEnd.size();
    };
    const auto word = [&](std::string_view bytes) {
        std::string w(kJisWordStart);
        w += jconvert::Base64Encode(bytes);
        w += kWordEnd;
        return w;
    };
    if (prefixLength + wordLength(jis.size()) <= kMailMaxLine)
        return word(jis);

    // Where each character's bytes begin in `jis`, and whether they are a pair in JIS mode.
    struct Unit {
        std::size_t at;
        bool pair;
    };
    std::vector<Unit> units;
    units.reserve(sjis.size());
    std::size_t j = 0;
    bool inJis = false;
    const auto escape = [&](bool toJis) {
        if (j + 3 > jis.size() || jis.compare(j, 3, toJis ? "\x1b$B" : "\x1b(B") != 0)
            return false;
        j += 3;
        inJis = toJis;
        return true;
    };
    for (std::size_t i = 0; i < sjis.size();) {
        const auto c = static_cast<unsigned char>(sjis[i]);
        const bool pair = c > 0x7F;
        if (pair && !(isSjisLeadByte(c) && i + 1 < sjis.size()))
            return std::nullopt;
        if (pair != inJis && !escape(pair))
            return std::nullopt;
        units.push_back({j, pair});
        j += pair ? 2 : 1;
        i += pair ? 2 : 1;
    }
    if ((inJis && !escape(false)) || j != jis.size())
        return std::nullopt;

    std::string folded, piece;
    bool firstLine = true;
    for (std::size_t k = 0; k < units.size();) {
        const std::size_t lineRoom = firstLine ? (prefixLength < kMailMaxLine ? kMailMaxLine - prefixLength
                                                                          : 0)
                                               : kMailMaxLine - 1; // the folding blank
        const std::size_t room = std::min(lineRoom, kMaxWord);
        // The longest run from k whose word fits, one character at least; a longer run never
        // encodes shorter.
        piece.clear();
        bool mode = false;
        std::size_t end = k;
        for (std::size_t length = 0; end < units.size(); ++end) {
            const Unit& u = units[end];
            const std::size_t longer = length + (u.pair != mode ? 3 : 0) + (u.pair ? 2 : 1);
            if (end > k && wordLength(longer + (u.pair ? 3 : 0)) > room)
                break;
            if (u.pair != mode)
                piece += u.pair ? "\x1b$B" : "\x1b(B";
            piece.append(jis, u.at, u.pair ? 2 : 1);
            length = longer;
            mode = u.pair;
        }
        if (mode)
            piece += "\x1b(B";
        if (!firstLine)
            folded += "\r\n ";
        folded += word(piece);
        firstLine = false;
        k = end;
    }
    return folded;
}

} // namespace

std::string EncodedHeaderValue(std::string_view sjis, std::size_t prefixLength) {
    if (std::optional<std::string> counted = foldedJisWords(sjis, prefixLength))
        return std::move(*counted);
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

namespace {

// Line i of `lines` is line i of `shared`'s texts.
bool sameLine(const std::vector<std::string>& lines, std::size_t i, const std::vector<std::string>* shared) {
    return shared && i < shared->size() && lines[i] == (*shared)[i];
}

} // namespace

bool MessageBuilder::haveJisForm(std::string_view subjectSjis, const std::vector<std::string>& lines,
                                 const MessageBuilder* shared) const {
    if (!hasJisForm(subjectSjis) || !hasJisForm(texts_.fromNameSjis))
        return false;
    const std::vector<std::string>* sharedLines = shared ? &shared->texts_.bodySjis : nullptr;
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (!(sameLine(lines, i, sharedLines) && shared->sharedTextsHaveJisForm_) && !hasJisForm(lines[i]))
            return false;
    return true;
}

MessageBuilder::MessageBuilder(MessageTexts texts, MessageCharset charset)
    : texts_(std::move(texts)), charset_(charset) {
    const std::vector<std::string>& lines = texts_.bodySjis;
    if (charset_ == MessageCharset::Auto)
        sharedTextsHaveJisForm_ = haveJisForm(texts_.subjectSjis, lines, nullptr);
    if (charset_ != MessageCharset::Utf8) {
        bodyJis_.reserve(lines.size());
        for (const std::string& line : lines)
            bodyJis_.push_back(ToJisLine(line));
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
    return assemble(addressee, texts_.subjectSjis, texts_.attachments.get(),
                    sendsUtf8(addressee.addresseeLineSjis), nullptr);
}

WireMessage MessageBuilder::buildOwn(const MessageAddressee& addressee, std::string_view subjectSjis,
                                     const std::vector<std::string>& bodySjis,
                                     const std::shared_ptr<const MessageAttachments>& attachments) const {
    bool utf8 = charset_ == MessageCharset::Utf8;
    if (charset_ == MessageCharset::Auto)
        utf8 = !haveJisForm(subjectSjis, bodySjis, this) ||
               (addressee.addresseeLineSjis && !hasJisForm(*addressee.addresseeLineSjis));
    return assemble(addressee, subjectSjis, attachments.get(), utf8, &bodySjis);
}

WireMessage MessageBuilder::assemble(const MessageAddressee& addressee, std::string_view subjectSjis,
                                     const MessageAttachments* attachments, bool utf8,
                                     const std::vector<std::string>* ownLines) const {
    WireMessage m;
    m.utf8 = utf8;
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
              m.utf8 ? FoldedEncodedWords(subjectSjis, 9, EncodedWordUtf8)
                     : EncodedHeaderValue(subjectSjis, 9));
    addIfSet(header, "X-Mailer", texts_.localProgram);
    addIfSet(header, "Reply-To", texts_.replyTo);
    addIfSet(header, "Date", addressee.date);
    header.emplace_back("Mime-Version: 1.0");
    // With files the text part carries the text's own header lines, and the message says where
    // its parts begin.
    const bool multipart = attachments && !attachments->parts.empty();
    std::vector<std::string> textHeader;
    std::vector<std::string>& contentHeader = multipart ? textHeader : header;
    if (m.utf8) {
        contentHeader.emplace_back("Content-Type: text/plain; charset=UTF-8");
        contentHeader.emplace_back("Content-Transfer-Encoding: base64");
    } else {
        contentHeader.emplace_back("Content-Type: text/plain; charset=iso-2022-jp");
    }
    if (multipart) {
        m.boundary = attachments->boundary;
        header.push_back("Content-Type: multipart/mixed; boundary=\"" + m.boundary + "\"");
        m.body.push_back("--" + m.boundary);
        m.body.insert(m.body.end(), textHeader.begin(), textHeader.end());
        m.body.emplace_back();
        for (const AttachmentPart& part : attachments->parts)
            m.attachments.push_back(
                {AttachmentPartHeader(part.nameSjis, part.contentType, m.utf8), part.base64});
    }
    addIfSet(header, "Message-ID", addressee.messageId);

    if (!m.utf8) {
        m.body.reserve(m.body.size() + (ownLines ? ownLines->size() : bodyJis_.size()) + 3);
        // The text part reads as the message without files does: the empty line the client
        // puts before a body, the lines, and the line end the boundary after them takes.
        if (multipart)
            m.body.emplace_back();
        if (addressee.addresseeLineSjis)
            m.body.push_back(ToJisLine(*addressee.addresseeLineSjis));
        if (!ownLines) {
            m.body.insert(m.body.end(), bodyJis_.begin(), bodyJis_.end());
        } else {
            for (std::size_t i = 0; i < ownLines->size(); ++i) {
                if (sameLine(*ownLines, i, &texts_.bodySjis))
                    m.body.push_back(bodyJis_[i]);
                else
                    m.body.push_back(ToJisLine((*ownLines)[i]));
            }
        }
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
    if (!ownLines) {
        text += bodyUtf8_;
    } else {
        for (const std::string& line : *ownLines) {
            text += cp932::toUtf8(line);
            text += "\r\n";
        }
    }
    const std::string base64 = jconvert::Base64Encode(text);
    for (std::size_t pos = 0; pos < base64.size(); pos += kMailBase64Line)
        m.body.push_back(base64.substr(pos, kMailBase64Line));
    return m;
}

} // namespace tessaly
