#include "log/send_log.h"

#include "address/vexo_csv.h"
#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/errors.h"
#include "common/regular_file.h"
#include "common/text.h"

#include <QString>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly {

namespace {

constexpr std::string_view kTempSeparator = "#*:%";
constexpr std::string_view kUnknownName = "\x88\xb6\x90\xe6\x95\x73\x96\xbe"; // 宛先不明

// The part of `s` from `from` (0-based), at most `count` bytes; clipped, never out of range, so
// that a short or damaged record gives short pieces instead of an error.
std::string_view piece(std::string_view s, std::size_t from, std::size_t count) {
    return from >= s.size() ? std::string_view() : s.substr(from, count);
}

FileError appendError(const std::string& logPathSjis) {
    return FileError(cp932::toUtf8(logPathSjis) + " に書き込めません");
}

} // namespace

LocalTime localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm {};
    localtime_r(&now, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string SendLog_TimeText(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d %02d%02d%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

bool SendLog_Append(bool logOn, const std::string& logPathSjis, std::string_view subjectSjis,
                    std::string_view nameSjis, const LocalClock& clock) {
    if (!logOn)
        return true;
    std::string line;
    line.reserve(24 + subjectSjis.size() + nameSjis.size());
    line.append("\"").append(SendLog_TimeText(clock ? clock() : localNow())).append("\",\"");
    line.append(subjectSjis).append("\",\"").append(nameSjis).append("\"\r\n");

    if (logPathSjis.empty())
        throw appendError(logPathSjis);
    // No O_CREAT: the log is created by the settings load, never here. Only a regular file: a
    // named pipe would hold the send run until someone reads it.
    int fd = -1;
    if (openRegularFile(cp932::pathFromSjis(logPathSjis), O_WRONLY | O_APPEND, fd) != FileOpen::Opened)
        throw appendError(logPathSjis);
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0;
    bool ok = writeWhole(fd, line);
    // A half-written line would merge with the next record: take it back out.
    // Nothing more can be done if that fails too: the error below reports the append.
    if (!ok && sized && ::ftruncate(fd, st.st_size) != 0)
        ok = false;
    // No fdatasync: once write() returns, the record is the kernel's and survives a crash of
    // the program; forcing it to the disk per recipient would halve the speed of a send run.
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        throw appendError(logPathSjis);
    return true;
}

bool SendLog_Load(const std::string& logPathSjis, Dialogs& dialogs, QWidget* parent,
                  const std::function<void()>& disableLog, SendLogEntries& entries) {
    entries.titleEntries.clear();
    entries.tempEntries.clear();

    TVexo_CSV csv;
    csv.eof = false;
    csv.ErrorDetect = false;
    csv.ItemCount = 3;
    csv.Kugirimoji = ",";
    csv.MojiretsuNinsiki = "\"";
    const std::string fsPath = logPathSjis.empty() ? std::string() : cp932::pathFromSjis(logPathSjis);
    csv.OpenRead(fsPath);
    if (csv.ErrorDetect) {
        dialogs.message(parent, fromSjis(logPathSjis) + QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\n") +
                                    featureDisabledText(QStringLiteral("ログファイル"), readFailureMayPass(fsPath)));
        if (disableLog)
            disableLog();
        return false;
    }

    std::string previousKey;
    std::string key;
    while (!csv.eof) {
        csv.ReadRecord();
        const std::string& time = csv.Items[1];
        const std::string& title = csv.Items[2];
        const std::string& name = csv.Items[3];

        std::string temp;
        temp.reserve(time.size() + title.size() + name.size() + 2 * kTempSeparator.size());
        temp.append(time).append(kTempSeparator).append(title).append(kTempSeparator).append(name);
        entries.tempEntries.push_back(std::move(temp));

        key.assign(piece(time, 0, 8)).append(title);
        if (key == previousKey)
            continue;
        std::string entry;
        entry.reserve(16 + title.size());
        entry.append(piece(time, 0, 4)).append("/").append(piece(time, 4, 2)).append("/");
        entry.append(piece(time, 6, 2)).append(kSendLogColon).append(title);
        entries.titleEntries.push_back(std::move(entry));
        previousKey.swap(key);
    }
    csv.CloseFile();
    return true;
}

SendLogEntries SendLog_Load(const std::string& logPathSjis, Dialogs& dialogs, QWidget* parent,
                            const std::function<void()>& disableLog) {
    SendLogEntries entries;
    SendLog_Load(logPathSjis, dialogs, parent, disableLog, entries);
    return entries;
}

std::vector<std::string> SendLog_DetailEntries(const std::vector<std::string>& tempEntries,
                                               std::string_view titleEntry) {
    const std::string_view wantedDate = piece(titleEntry, 0, 10);
    const std::string_view wantedTitle = piece(titleEntry, 16, std::string_view::npos);
    std::vector<std::string> details;
    std::string date;
    for (const std::string& temp : tempEntries) {
        const std::string_view t = temp;
        date.assign(piece(t, 0, 4)).append("/").append(piece(t, 4, 2)).append("/").append(piece(t, 6, 2));
        if (date != wantedDate)
            continue;
        const std::string_view rest = piece(t, 19, std::string_view::npos);
        const std::size_t at = rest.find(kTempSeparator);
        const std::string_view title = at == std::string_view::npos ? rest : rest.substr(0, at);
        if (title != wantedTitle)
            continue;
        const std::string_view name =
            at == std::string_view::npos ? kUnknownName : rest.substr(at + kTempSeparator.size());
        std::string detail;
        detail.append(piece(t, 9, 2)).append(":").append(piece(t, 11, 2)).append(":").append(piece(t, 13, 2));
        detail.append(kSendLogColon).append(name);
        details.push_back(std::move(detail));
    }
    return details;
}

} // namespace tessaly
