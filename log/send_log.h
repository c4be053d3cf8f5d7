// The send log: one line per recipient sent, "YYYYMMDD HHMMSS","title","name" with CR LF, never
// trimmed. The writer appends one record per call; the reader turns the file into the viewer's
// entries. Texts and paths are Shift-JIS bytes (paths are turned into file-system paths here).
#pragma once

#include "common/local_time.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace tessaly {

class Dialogs;

// "YYYYMMDD HHMMSS" (15 bytes).
std::string SendLog_TimeText(const LocalTime& time);

// Appends one record for one recipient sent. `logOn` and `logPathSjis` are the settings window's
// ChkBox_Log and Edt_Log at the moment of the call; `subjectSjis` the main window's Subject.
// With logging off the file is not touched. The file must exist (it is never created here):
// a missing or unwritable file raises tessaly::FileError naming it, and nothing is written.
// Always true otherwise.
bool SendLog_Append(bool logOn, const std::string& logPathSjis, std::string_view subjectSjis,
                    std::string_view nameSjis, const LocalClock& clock = localNow);

// The send log of one run, each record appended as SendLog_Append appends it, but the file kept
// open from the first record to close(): a record then costs a look at the path and one write
// instead of eight system calls. Before each record the path is looked at again, so that a log
// deleted or replaced during the run gets the records, not the file it was.
class SendLogWriter {
public:
    SendLogWriter(bool logOn, std::string logPathSjis, std::string subjectSjis,
                  LocalClock clock = localNow);
    ~SendLogWriter(); // closes the file without a word; call close() to hear of a failure
    SendLogWriter(const SendLogWriter&) = delete;
    SendLogWriter& operator=(const SendLogWriter&) = delete;

    // As SendLog_Append: the record is the kernel's when this returns; a failure raises
    // tessaly::FileError naming the file, and takes a half-written record back out.
    void append(std::string_view nameSjis);
    // Closes the file; raises tessaly::FileError when the system reports a failure of the writes.
    void close();

private:
    bool stillAtPath() const;

    bool logOn_;
    std::string logPathSjis_;
    std::string fsPath_;
    std::string subjectSjis_;
    LocalClock clock_;
    int fd_ = -1;
    unsigned long long device_ = 0;
    unsigned long long inode_ = 0;
};

// The viewer's data, as byte strings.
struct SendLogEntries {
    // "YYYY/MM/DD" + "　：　" + title; consecutive records with the same date and title share one.
    // The date and separator take exactly the first 16 bytes.
    std::vector<std::string> titleEntries;
    // send time (15 bytes) + "#*:%" + title + "#*:%" + name, one per record, in file order.
    std::vector<std::string> tempEntries;
};

// "　：　" in Shift-JIS (full-width space, colon, space; 6 bytes).
inline constexpr std::string_view kSendLogColon = "\x81\x40\x81\x46\x81\x40";

// Reads the log at `logPathSjis` (the Settings record's Log). When it cannot be opened (empty
// path, missing or unreadable file) it shows path + "ファイルの\r\n読み込みに失敗しました。\r\n
// ログファイルを無効にします。" (when the file is there but could not be read just now, the last
// line says the next start tries it again instead), calls `disableLog` (which must empty the record's Log and the
// settings window's Edt_Log, whose rule turns the log switch off) and gives empty entries.
// An I/O error after a successful open raises tessaly::FileError; `entries` then holds what was
// read so far.
SendLogEntries SendLog_Load(const std::string& logPathSjis, Dialogs& dialogs, QWidget* parent,
                            const std::function<void()>& disableLog);
// The same reading into `entries` (cleared first); false after the failure message.
bool SendLog_Load(const std::string& logPathSjis, Dialogs& dialogs, QWidget* parent,
                  const std::function<void()>& disableLog, SendLogEntries& entries);

// The viewer's lower list for a chosen TitleEntry (empty `titleEntry`: nothing chosen): every
// TempEntry with that date and title, as "HH:MM:SS" + "　：　" + name ("宛先不明" when the entry
// has no name part), in file order.
std::vector<std::string> SendLog_DetailEntries(const std::vector<std::string>& tempEntries,
                                               std::string_view titleEntry);

} // namespace tessaly
