#include "app/mail_text.h"

#include "common/errors.h"
#include "common/sjis_bytes.h"
#include "jconvert/jconvert.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <atomic>
#include <cstdio>

namespace tessaly {

namespace {

constexpr std::string_view kWordStart = "=?ISO-2022-JP?B?";
constexpr std::string_view kWordEnd = "?=";
constexpr std::size_t kMaxLine = 78;
constexpr std::size_t kMaxWord = 75;

bool isHalfKana(unsigned char c) { return c >= 0xA1 && c <= 0xDF; }
bool isSoundMark(unsigned char c) { return c == 0xDE || c == 0xDF; }

// Length in bytes of the character that starts at `pos`. A half-width kana takes its sound mark
// with it, because the two may become one full-width character.
std::size_t unitLength(std::string_view s, std::size_t pos) {
    const auto c = static_cast<unsigned char>(s[pos]);
    if (isSjisLeadByte(c) && pos + 1 < s.size())
        return 2;
    if (isHalfKana(c) && !isSoundMark(c) && pos + 1 < s.size() &&
        isSoundMark(static_cast<unsigned char>(s[pos + 1])))
        return 2;
    return 1;
}

// Position of the first single-byte `c` (never the second byte of a double-byte character).
std::size_t findByte(std::string_view s, char c, std::size_t from = 0) {
    for (std::size_t i = from; i < s.size();) {
        if (s[i] == c)
            return i;
        i += isSjisLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
    }
    return std::string_view::npos;
}

} // namespace

std::string ToJisLine(std::string_view sjis) {
    std::string line(sjis);
    line += "\r\n";
    std::string jis = jconvert::SjisToJis(line);
    jis.resize(jis.size() - 2);
    return jis;
}

std::string EncodedWord(std::string_view sjis) {
    std::string word(kWordStart);
    word += jconvert::Base64Encode(ToJisLine(sjis));
    word += kWordEnd;
    return word;
}

std::string EncodedHeaderValue(std::string_view sjis, std::size_t prefixLength) {
    std::string single = EncodedWord(sjis);
    if (prefixLength + single.size() <= kMaxLine)
        return single;

    std::string folded;
    std::size_t pos = 0;
    bool firstLine = true;
    while (pos < sjis.size()) {
        const std::size_t lineRoom = firstLine ? (prefixLength < kMaxLine ? kMaxLine - prefixLength
                                                                          : 0)
                                               : kMaxLine - 1; // the folding blank
        const std::size_t room = std::min(lineRoom, kMaxWord);
        // Take characters while the word still fits; at least one, so the loop always advances.
        std::size_t end = pos + unitLength(sjis, pos);
        std::string word = EncodedWord(sjis.substr(pos, end - pos));
        while (end < sjis.size()) {
            const std::size_t next = end + unitLength(sjis, end);
            std::string longer = EncodedWord(sjis.substr(pos, next - pos));
            if (longer.size() > room)
                break;
            word = std::move(longer);
            end = next;
        }
        if (!firstLine)
            folded += "\r\n ";
        folded += word;
        firstLine = false;
        pos = end;
    }
    return folded;
}

RecipientParts SplitRecipient(std::string_view entrySjis) {
    const std::string_view entry = trimBlanks(entrySjis);
    RecipientParts parts;
    const std::size_t open = findByte(entry, '<');
    if (open != std::string_view::npos) {
        parts.addresseeName = std::string(trimBlanks(entry.substr(0, open)));
        const std::size_t close = findByte(entry, '>', open + 1);
        const std::size_t end = close == std::string_view::npos ? entry.size() : close;
        parts.address = std::string(entry.substr(open + 1, end - open - 1));
    } else {
        parts.address = std::string(entry);
        const std::size_t at = findByte(entry, '@');
        if (at != std::string_view::npos)
            parts.addresseeName = std::string(trimBlanks(entry.substr(0, at)));
    }
    return parts;
}

void CheckJisSendable(std::string_view sjis, const QString& text, const QString& field) {
    // Shift-JIS holds every character of `text` as one unit of one or two bytes, so counting the
    // units finds the character in `text`.
    qsizetype column = 0;
    for (std::size_t i = 0; i < sjis.size(); ++column) {
        const auto lead = static_cast<unsigned char>(sjis[i]);
        if (isSjisLeadByte(lead) && i + 1 < sjis.size()) {
            const std::string jis =
                jconvert::SjisCharToJis(lead, static_cast<unsigned char>(sjis[i + 1]));
            const auto first = static_cast<unsigned char>(jis[0]);
            const auto second = static_cast<unsigned char>(jis[1]);
            if (first < 0x21 || first > 0x7E || second < 0x21 || second > 0x7E) {
                const QString character = column < text.size() ? text.mid(column, 1) : QString();
                const QString code =
                    character.isEmpty()
                        ? QString()
                        : QStringLiteral("%1")
                              .arg(static_cast<uint>(character.at(0).unicode()), 4, 16,
                                   QLatin1Char('0'))
                              .toUpper();
                throw Error(QStringLiteral("%1の %2 文字目の「%3」(U+%4)はメールでは送れない文字です"
                                           "（ISO-2022-JP にありません）。")
                                .arg(field, QString::number(column + 1), character, code)
                                .toStdString());
            }
            i += 2;
        } else {
            i += 1;
        }
    }
}

std::string Rfc5322Date(const QDateTime& local) {
    static const char* const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const QDate date = local.date();
    const QTime time = local.time();
    const int offset = local.offsetFromUtc() / 60;
    const int absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  days[date.dayOfWeek() - 1], date.day(), months[date.month() - 1], date.year(),
                  time.hour(), time.minute(), time.second(), offset < 0 ? '-' : '+',
                  absOffset / 60, absOffset % 60);
    return text;
}

std::string NewMessageId(std::string_view fromAddress) {
    static std::atomic<unsigned> counter{0};
    std::string domain = "tessaly.localhost";
    const std::size_t at = fromAddress.rfind('@');
    if (at != std::string_view::npos && at + 1 < fromAddress.size()) {
        const std::string_view candidate = fromAddress.substr(at + 1);
        bool plain = true;
        for (char c : candidate)
            plain = plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                              (c >= '0' && c <= '9') || c == '-' || c == '.');
        if (plain)
            domain = std::string(candidate);
    }
    char id[96];
    std::snprintf(id, sizeof id, "<%s.%lld.%u.%08x@",
                  QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmsszzz"))
                      .toLatin1()
                      .constData(),
                  static_cast<long long>(QCoreApplication::applicationPid()), ++counter,
                  QRandomGenerator::global()->generate());
    return std::string(id) + domain + ">";
}

} // namespace tessaly
