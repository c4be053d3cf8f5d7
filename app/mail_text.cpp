#include "app/mail_text.h"

#include "common/cp932.h"
#include "common/errors.h"
#include "common/sjis_bytes.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <atomic>
#include <cstdio>

namespace tessaly {

namespace {

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

void CheckJisSendable(std::string_view sjis, const QString& text, const QString& field,
                      const QString& advice) {
    const std::optional<std::size_t> found = FirstCharacterWithoutJisForm(sjis);
    if (!found)
        return;
    // Shift-JIS holds every character of `text` as one unit of one or two bytes, so the column
    // of the unit is that of the character in `text`.
    const auto column = static_cast<qsizetype>(*found);
    const QString character = column < text.size() ? text.mid(column, 1) : QString();
    const QString code =
        character.isEmpty()
            ? QString()
            : QStringLiteral("%1")
                  .arg(static_cast<uint>(character.at(0).unicode()), 4, 16, QLatin1Char('0'))
                  .toUpper();
    throw Error(QStringLiteral("%1の %2 文字目の「%3」(U+%4)はメールでは送れない文字です"
                               "（ISO-2022-JP にありません）。%5")
                    .arg(field, QString::number(column + 1), character, code, advice)
                    .toStdString());
}

void CheckCp932Text(std::string_view sjis, const QString& field) {
    if (!cp932::isValid(sjis))
        throw Error(QStringLiteral("%1に Shift-JIS の文字として読めないバイトがあります。"
                                   "ファイルの内容を確かめてください。")
                        .arg(field)
                        .toStdString());
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
