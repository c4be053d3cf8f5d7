#include "address/utf8_address_file.h"

#include "address/vexo_csv.h"
#include "common/atomic_file.h"
#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/errors.h"
#include "common/regular_file.h"
#include "common/text.h"

namespace tessaly {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Calls `each` with every character of strict UTF-8 text; false at the first malformed sequence.
template <typename Each>
bool forEachUtf8(std::string_view s, Each each) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* const end = p + s.size();
    while (p < end) {
        const unsigned char b = *p;
        int extra = 0;
        char32_t c = b;
        char32_t min = 0;
        if (b < 0x80)
            extra = 0;
        else if (b >= 0xC2 && b <= 0xDF)
            extra = 1, c = b & 0x1F, min = 0x80;
        else if (b >= 0xE0 && b <= 0xEF)
            extra = 2, c = b & 0x0F, min = 0x800;
        else if (b >= 0xF0 && b <= 0xF4)
            extra = 3, c = b & 0x07, min = 0x10000;
        else
            return false;
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            c = (c << 6) | (p[i] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return false;
        each(c);
        p += extra + 1;
    }
    return true;
}

// How much a character looks like text people write, in halves: Japanese (kana, kanji,
// full-width forms) counts whole, another printable character half, controls and private use
// nothing.
int utf8Weight(char32_t c) {
    if ((c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xF900 && c <= 0xFAFF) ||
        (c >= 0xFF00 && c <= 0xFFEF))
        return 2;
    if (c < 0xA0 || (c >= 0xE000 && c <= 0xF8FF) || c >= 0xFFF0)
        return 0;
    return 1;
}

// The same, in halves, for the code page 932 reading: the everyday rows (symbols, full-width
// letters, kana, Greek, Cyrillic, the first level of kanji) whole, half-width katakana half, the
// rest (second-level kanji, extensions, user-defined characters) nothing.
void sjisWeights(std::string_view s, std::size_t& characters, std::size_t& weight) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        if (b < 0x80) {
            ++i;
            continue;
        }
        ++characters;
        if (b >= 0xA1 && b <= 0xDF) {
            weight += 1;
            ++i;
        } else {
            if ((b >= 0x81 && b <= 0x84) || (b >= 0x88 && b <= 0x98))
                weight += 2;
            i += 2;
        }
    }
}

std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The first field with a character beyond ASCII, as UTF-8 reads it, for the user to judge by.
QString sampleOf(std::string_view bytes) {
    constexpr qsizetype kShown = 20;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = bytes.size();
        const std::string_view line = bytes.substr(start, end - start);
        TVexo_CSV csv;
        csv.ItemCount = 5;
        csv.SplitLine(std::string(line));
        for (int i = 1; i <= csv.ItemCount; ++i) {
            const std::string& field = csv.Items[static_cast<std::size_t>(i)];
            for (const char c : field) {
                if (static_cast<unsigned char>(c) >= 0x80) {
                    const QString text = QString::fromUtf8(field.data(), static_cast<qsizetype>(field.size()));
                    return text.size() > kShown ? text.left(kShown) + QStringLiteral("…") : text;
                }
            }
        }
        start = end + 1;
    }
    return {};
}

} // namespace

bool LooksLikeUtf8Text(std::string_view bytes) {
    const bool marked = bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark;
    std::size_t characters = 0;
    std::size_t weight = 0;
    const bool valid = forEachUtf8(bytes, [&](char32_t c) {
        if (c >= 0x80) {
            ++characters;
            weight += static_cast<std::size_t>(utf8Weight(c));
        }
    });
    if (!valid || characters == 0)
        return false;
    if (marked || !cp932::isValid(bytes))
        return true;
    std::size_t sjisCharacters = 0;
    std::size_t sjisWeight = 0;
    sjisWeights(bytes, sjisCharacters, sjisWeight);
    // The reading whose characters look more like written text, on average, wins; a tie stays
    // Shift-JIS, the form the file should have.
    return weight * sjisCharacters > sjisWeight * characters;
}

std::optional<Utf8AddressFile> AddressFile_FindUtf8(const std::string& addressPath) {
    if (addressPath.empty())
        return std::nullopt;
    Utf8AddressFile file;
    if (readRegularFile(cp932::pathFromSjis(addressPath), file.bytes) != FileRead::Read ||
        !LooksLikeUtf8Text(file.bytes))
        return std::nullopt;
    QString sample = sampleOf(file.bytes);
    if (!sample.isEmpty())
        sample = QStringLiteral("（例：「%1」）").arg(sample);
    file.question = QStringLiteral("アドレス帳ファイル：%1\r\nは UTF-8 で書かれているようです%2。\r\n"
                                   "UTF-8 として読み込み、Shift-JIS で保存し直しますか？\r\n"
                                   "元のファイルは %3 として残します。\r\n"
                                   "「いいえ」のときは、ファイルをそのまま読み込みます。")
                        .arg(fromSjis(addressPath), sample, fromSjis(fileNameOf(addressPath) + ".bak"));
    return file;
}

bool AddressFile_ConvertToShiftJis(const Utf8AddressFile& file, const std::string& addressPath,
                                   Dialogs& dialogs, QWidget* parent) {
    std::string_view text = file.bytes;
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
        text.remove_prefix(kByteOrderMark.size());
    // Line by line, so that a character without a Shift-JIS form is named with its line.
    std::string sjis;
    sjis.reserve(text.size());
    int number = 0;
    try {
        for (std::size_t start = 0; start < text.size();) {
            std::size_t end = text.find_first_of("\r\n", start);
            if (end == std::string_view::npos)
                end = text.size();
            const std::string_view line = text.substr(start, end - start);
            ++number;
            sjis += toSjis(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())),
                           QStringLiteral("%1 行目").arg(number));
            std::size_t next = end;
            if (next < text.size())
                next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
            sjis.append(text.substr(end, next - end));
            start = next;
        }
    } catch (const Error& refused) {
        dialogs.message(parent, QStringLiteral("アドレス帳ファイル：%1\r\nは Shift-JIS に直せませんでした。%2\r\n"
                                               "テキストエディタでその文字を直してから、Tessaly を起動し直してください。")
                                    .arg(fromSjis(addressPath), QString::fromStdString(refused.what())));
        return false;
    }
    const auto write = [&](const std::string& path, std::string_view bytes) {
        try {
            writeFileAtomically(cp932::pathFromSjis(path), bytes);
            return true;
        } catch (const FileError&) {
            dialogs.message(parent, QStringLiteral("アドレス帳ファイル：%1\r\nファイルの作成に失敗しました。")
                                        .arg(fromSjis(path)));
            return false;
        }
    };
    // The copy first: once the file is rewritten, it is all that is left of the UTF-8 text.
    return write(addressPath + ".bak", file.bytes) && write(addressPath, sjis);
}

} // namespace tessaly
