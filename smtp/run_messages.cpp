#include "smtp/run_messages.h"

#include "common/sjis_bytes.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <unistd.h>

namespace tessaly {

namespace {

// The notify copy's fixed texts, in code page 932.
constexpr std::string_view kSeparator = "----------------------------------------";
constexpr std::string_view kNoteStart = "<\x81\x9b\x81\x9b\x81\x40"; // "<○○　"
constexpr std::string_view kNoteEnd =                               // ">で宛先編集されました。"
    ">\x82\xc5\x88\xb6\x90\xe6\x95\xd2\x8f\x57\x82\xb3\x82\xea\x82\xdc\x82\xb5\x82\xbd\x81\x42";
constexpr std::string_view kNotifySubject = "\x81\x69\x96\x88\x89\xf1\x92\xca\x92\x6d\x81\x6a"; // "（毎回通知）"
// "（送信できませんでした: " ... "）"
constexpr std::string_view kRefusedStart =
    "\x81\x69\x91\x97\x90\x4d\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x82\xc5\x82\xb5\x82\xbd: ";
constexpr std::string_view kRefusedEnd = "\x81\x6a";

// Position of the first single-byte `c` (never the second byte of a double-byte character).
std::size_t findByte(std::string_view s, char c, std::size_t from = 0) {
    for (std::size_t i = from; i < s.size();) {
        if (s[i] == c)
            return i;
        i += isSjisLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
    }
    return std::string_view::npos;
}

bool plainDomain(std::string_view domain) {
    if (domain.empty())
        return false;
    for (const char c : domain)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '-' || c == '.'))
            return false;
    return true;
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

std::string AddresseeLine(std::string_view addresseeNameSjis, std::string_view keisyouSjis) {
    std::string line(addresseeNameSjis);
    line += ' ';
    line += keisyouSjis;
    return line;
}

std::string Rfc5322Date(const LocalTime& t) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    using namespace std::chrono;
    const year_month_day date{year(t.year), month(static_cast<unsigned>(t.month)),
                              day(static_cast<unsigned>(t.day))};
    const unsigned weekday = std::chrono::weekday(sys_days(date)).c_encoding();
    const int offset = t.utcOffsetMinutes;
    const int absOffset = offset < 0 ? -offset : offset;
    const int monthIndex = t.month >= 1 && t.month <= 12 ? t.month - 1 : 0;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02d%02d",
                  days[weekday % 7], t.day, months[monthIndex], t.year, t.hour, t.minute, t.second,
                  offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return text;
}

std::string NewMessageId(std::string_view fromAddress, const LocalTime& t) {
    // The time alone does not make it unique (a fixed clock, many messages a second): the
    // process, a count within it and a random number from a seed of the system's do.
    static std::atomic<unsigned> counter{0};
    static const long long pid = ::getpid();
    thread_local std::mt19937 random{std::random_device{}()};
    const std::size_t at = fromAddress.rfind('@');
    const std::string_view candidate =
        at == std::string_view::npos ? std::string_view() : fromAddress.substr(at + 1);
    const std::string domain = plainDomain(candidate) ? std::string(candidate) : "tessaly.localhost";
    char id[96];
    std::snprintf(id, sizeof id, "<%04d%02d%02d%02d%02d%02d.%lld.%u.%08x@", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, pid, ++counter,
                  static_cast<unsigned>(random()));
    return id + domain + ">";
}

MessageAddressee AddresseeOf(std::string to, std::string_view fromAddress, const LocalTime& time) {
    MessageAddressee addressee;
    addressee.to = std::move(to);
    addressee.date = Rfc5322Date(time);
    addressee.messageId = NewMessageId(fromAddress, time);
    return addressee;
}

std::string OneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue; // CR LF is one break
        line += c == '\r' || c == '\n' ? ' ' : c;
    }
    return line;
}

NotifyCopy NotifyCopyOf(const MessageTexts& run, const std::vector<std::string>& entriesSjis,
                        const std::optional<std::string>& noteKeisyouSjis,
                        const std::vector<RefusedRecipient>& refused) {
    NotifyCopy copy{run, {}};
    std::vector<std::string>& added = copy.addedLinesSjis;
    added.emplace_back(kSeparator);
    if (noteKeisyouSjis)
        added.push_back(std::string(kNoteStart) + *noteKeisyouSjis + std::string(kNoteEnd));
    for (const std::string& entry : entriesSjis) {
        std::string line = entry;
        for (const RefusedRecipient& r : refused) {
            if (r.entrySjis == entry) {
                line += std::string(kRefusedStart) + OneLine(r.reply) + std::string(kRefusedEnd);
                break;
            }
        }
        added.push_back(std::move(line));
    }
    copy.texts.bodySjis.insert(copy.texts.bodySjis.end(), added.begin(), added.end());
    copy.texts.subjectSjis += kNotifySubject;
    return copy;
}

} // namespace tessaly
