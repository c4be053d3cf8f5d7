#include "smtp/mime_parts.h"

#include "common/cp932.h"
#include "jconvert/jconvert.h"
#include "smtp/message_builder.h"

#include <algorithm>
#include <random>

namespace tessaly {

namespace {

constexpr std::size_t kBytesPerLine = kMailBase64Line / 4 * 3;

bool plainAscii(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return c >= 0x20 && c <= 0x7E;
    });
}

std::string quoted(std::string_view text) {
    std::string q = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            q += '\\';
        q += c;
    }
    return q + '"';
}

// RFC 2231 leaves letters, digits and a few marks as they are; every other byte is %XX.
std::string percentEncoded(std::string_view bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            std::string_view("!#$&+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// "name=value" parameters after "Name: type;", each on a continuation line of its own.
void addParameters(std::vector<std::string>& header, std::string first,
                   const std::vector<std::string>& parameters) {
    header.push_back(std::move(first) + ";");
    for (std::size_t i = 0; i < parameters.size(); ++i) {
        const std::string end = i + 1 < parameters.size() ? ";" : "";
        std::size_t start = 0;
        // A value folded into words spans several lines; the separator goes after the last.
        for (;;) {
            const std::size_t fold = parameters[i].find("\r\n ", start);
            if (fold == std::string::npos) {
                header.push_back(" " + parameters[i].substr(start) + end);
                break;
            }
            header.push_back(" " + parameters[i].substr(start, fold - start));
            start = fold + 3;
        }
    }
}

// `attribute`="encoded words", folded between whole characters.
std::string encodedWordParameter(std::string_view attribute, std::string_view nameSjis, bool utf8) {
    const std::size_t prefix = 1 + attribute.size() + 2; // " name=\""
    // One place for the closing quote and the separator after it.
    const std::string words = FoldedEncodedWords(nameSjis, prefix + 2, utf8 ? EncodedWordUtf8 : EncodedWord);
    return std::string(attribute) + "=\"" + words + "\"";
}

// filename*0*=charset''...; filename*1*=...: each section holds whole characters, and an
// ISO-2022-JP section ends back in ASCII, so that every section reads alone as well.
std::vector<std::string> rfc2231Sections(std::string_view nameSjis, bool utf8) {
    const std::string charsetPart = utf8 ? "UTF-8''" : "ISO-2022-JP''";
    const auto encode = [&](std::string_view piece) {
        return percentEncoded(utf8 ? cp932::toUtf8(piece) : ToJisLine(piece));
    };
    std::vector<std::string> pieces;
    for (std::size_t pos = 0; pos < nameSjis.size();) {
        const std::size_t fixed = pieces.empty() ? charsetPart.size() : 0;
        // " filename*NN*=" and the ";" after the value.
        const std::size_t room = kMailMaxLine - 15 - fixed;
        std::string piece;
        const std::size_t end = WholeCharactersFitting(nameSjis, pos, room, encode, piece);
        pieces.push_back(std::move(piece));
        pos = end;
    }
    std::vector<std::string> sections;
    if (pieces.size() == 1) {
        sections.push_back("filename*=" + charsetPart + pieces.front());
        return sections;
    }
    for (std::size_t i = 0; i < pieces.size(); ++i)
        sections.push_back("filename*" + std::to_string(i) + "*=" + (i == 0 ? charsetPart : "") +
                           pieces[i]);
    return sections;
}

} // namespace

std::string Base64Lines(std::string_view bytes) {
    std::string out;
    const std::size_t lines = (bytes.size() + kBytesPerLine - 1) / kBytesPerLine;
    out.reserve(lines * (kMailBase64Line + 2));
    // Encoded a block of lines at a time: the encoder's own result stays small.
    constexpr std::size_t kBlock = kBytesPerLine * 1024;
    for (std::size_t block = 0; block < bytes.size(); block += kBlock) {
        const std::string encoded = jconvert::Base64Encode(bytes.substr(block, kBlock));
        for (std::size_t pos = 0; pos < encoded.size(); pos += kMailBase64Line) {
            out.append(encoded, pos, kMailBase64Line);
            out += "\r\n";
        }
    }
    return out;
}

std::vector<std::string> AttachmentPartHeader(std::string_view nameSjis,
                                              std::string_view contentType, bool messageUtf8) {
    std::vector<std::string> header;
    const std::string type = "Content-Type: " + std::string(contentType);
    if (plainAscii(nameSjis)) {
        const std::string name = quoted(nameSjis);
        const auto add = [&](const std::string& start, const std::string& parameter) {
            if (start.size() + 2 + parameter.size() <= kMailMaxLine)
                header.push_back(start + "; " + parameter);
            else
                addParameters(header, start, {parameter});
        };
        add(type, "name=" + name);
        header.emplace_back("Content-Transfer-Encoding: base64");
        add("Content-Disposition: attachment", "filename=" + name);
        return header;
    }
    const bool utf8 = messageUtf8 || FirstCharacterWithoutJisForm(nameSjis).has_value();
    addParameters(header, type, {encodedWordParameter("name", nameSjis, utf8)});
    header.emplace_back("Content-Transfer-Encoding: base64");
    std::vector<std::string> disposition = rfc2231Sections(nameSjis, utf8);
    disposition.push_back(encodedWordParameter("filename", nameSjis, utf8));
    addParameters(header, "Content-Disposition: attachment", disposition);
    return header;
}

std::string NewBoundary(const std::vector<std::string>& avoid) {
    thread_local std::mt19937_64 random{std::random_device{}()};
    static const char hex[] = "0123456789abcdef";
    for (;;) {
        std::string boundary = "=_Tessaly_";
        for (int i = 0; i < 24; ++i)
            boundary += hex[random() & 15];
        if (std::none_of(avoid.begin(), avoid.end(), [&](const std::string& line) {
                return line.find(boundary) != std::string::npos;
            }))
            return boundary;
    }
}

} // namespace tessaly
