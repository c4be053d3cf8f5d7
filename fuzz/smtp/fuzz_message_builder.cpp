// Any code page 932 texts make a message that can go on the wire: 7-bit bytes, no line break
// inside a line, header lines of at most 78 characters (the sender's line may carry its address
// beyond), encoded words of at most 75 that decode on their own, base64 body lines of 76, and
// a UTF-8 body that decodes to exactly the texts given.
#include "common/cp932.h"
#include "jconvert/jconvert.h"
#include "smtp/message_builder.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

std::string base64Decode(std::string_view text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const std::size_t value = alphabet.find(c);
        check(value != std::string::npos);
        buffer = (buffer << 6) | static_cast<unsigned>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

// Every encoded word of a header line: at most 75 characters; a UTF-8 word holds whole
// characters.
void checkWords(const std::string& line) {
    for (std::size_t start = line.find("=?"); start != std::string::npos;
         start = line.find("=?", start + 2)) {
        const std::size_t end = line.find("?=", start + 2);
        check(end != std::string::npos);
        const std::string word = line.substr(start, end + 2 - start);
        check(word.size() <= 75);
        if (word.starts_with("=?UTF-8?B?")) {
            const std::string bytes = base64Decode(word.substr(10, word.size() - 12));
            check(cp932::fromUtf8(bytes).ok() || bytes.find("\xEF\xBF\xBD") != std::string::npos);
        }
        start = end;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    // First byte: the charset and whether there is an addressee line; then texts split at LF.
    const auto charset = tessaly::MessageCharsetFromSetting(data[0] % 3);
    const bool withLine = (data[0] & 4) != 0;
    std::vector<std::string> parts(1);
    for (std::size_t i = 1; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\n')
            parts.emplace_back();
        else
            parts.back() += (c == '\r' || c == '\0') ? ' ' : c; // no text holds these
    }
    parts.resize(std::max<std::size_t>(parts.size(), 3));

    tessaly::MessageTexts texts;
    texts.fromAddress = "me@example.jp";
    texts.localProgram = "Tessaly27S";
    texts.subjectSjis = parts[0];
    texts.fromNameSjis = parts[1];
    texts.bodySjis.assign(parts.begin() + 3, parts.end());
    std::optional<std::string> line;
    if (withLine)
        line = parts[2];
    const tessaly::MessageBuilder builder(texts, charset);
    const tessaly::WireMessage m = builder.build({"a@example.jp", line, "", "<1@example.jp>", {}});

    // ISO-2022-JP makes 7-bit text only of characters that have an ISO-2022-JP form; the run
    // refuses the others before it builds a message.
    bool sendable = true;
    for (const std::string& part : parts)
        sendable = sendable && cp932::isValid(part) && !tessaly::FirstCharacterWithoutJisForm(part);
    if (!m.utf8 && !sendable)
        return 0;

    for (const std::string& h : m.header) {
        for (char c : h)
            check(static_cast<unsigned char>(c) < 0x80 && c != '\r' && c != '\n');
        check(h.size() <= 78 || h.ends_with(" <me@example.jp>") || h.ends_with("?=<me@example.jp>"));
        checkWords(h);
    }
    for (const std::string& b : m.body)
        for (char c : b)
            check(static_cast<unsigned char>(c) < 0x80 && c != '\r' && c != '\n');
    if (!m.utf8)
        return 0;

    std::string base64;
    for (std::size_t i = 0; i < m.body.size(); ++i) {
        check(m.body[i].size() == 76 || (i + 1 == m.body.size() && m.body[i].size() <= 76));
        base64 += m.body[i];
    }
    std::string expected = "\r\n";
    if (line)
        expected += cp932::toUtf8(*line) + "\r\n";
    for (const std::string& b : texts.bodySjis)
        expected += cp932::toUtf8(b) + "\r\n";
    check(base64Decode(base64) == expected);
    return 0;
}
