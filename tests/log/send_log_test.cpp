#include "log/send_log.h"

#include "common/errors.h"
#include "fixtures/file_size_limit.h"
#include "fixtures/fake_dialogs.h"
#include "fixtures/temp_start_dir.h"

#include <QFile>
#include <gtest/gtest.h>


using namespace tessaly;
using Strings = std::vector<std::string>;

namespace {

const std::string kColon(kSendLogColon);

class SendLogTest : public ::testing::Test {
protected:
    TempStartDir dir;
    FakeDialogs dialogs;
    std::string path = dir.filePathBytes(QStringLiteral("Log.txt"));
    LocalTime now{2026, 12, 7, 9, 5, 3};
    int disabled = 0;

    void SetUp() override { dir.write(QStringLiteral("Log.txt"), {}); }

    void append(std::string_view subject, std::string_view name) {
        ASSERT_TRUE(SendLog_Append(true, path, subject, name, [this] { return now; }));
    }
    SendLogEntries load() { return SendLog_Load(path, dialogs, nullptr, [this] { ++disabled; }); }
};

TEST_F(SendLogTest, AppendWritesOneQuotedLinePerRecipient) {
    append("A", "Sato");
    now = {2026, 1, 2, 23, 59, 0};
    append("\x88\xb6", "y"); // a Shift-JIS title
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")),
              QByteArray("\"20261207 090503\",\"A\",\"Sato\"\r\n\"20260102 235900\",\"\x88\xb6\",\"y\"\r\n"));

    // Logging off leaves the file alone, whatever the path.
    EXPECT_TRUE(SendLog_Append(false, path, "B", "x", [this] { return now; }));
    EXPECT_TRUE(SendLog_Append(false, "", "B", "x"));
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")).count('\n'), 2);
}

TEST_F(SendLogTest, AppendNeverCreatesTheFile) {
    const std::string missing = dir.filePathBytes(QStringLiteral("gone.txt"));
    EXPECT_THROW(SendLog_Append(true, missing, "A", "x"), FileError);
    EXPECT_FALSE(dir.exists(QStringLiteral("gone.txt")));
    EXPECT_THROW(SendLog_Append(true, "", "A", "x"), FileError);
}

TEST_F(SendLogTest, FailedAppendLeavesNoHalfLine) {
    append("A", "first");
    const QByteArray before = dir.read(QStringLiteral("Log.txt"));

    // A file size limit lets only part of the line in, as a full disk would (even for root).
    bool threw = false;
    {
        FileSizeLimit limit(static_cast<std::size_t>(before.size()) + 10);
        try {
            SendLog_Append(true, path, "A", "second", [this] { return now; });
        } catch (const FileError&) {
            threw = true;
        }
    }

    EXPECT_TRUE(threw);
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")), before);
}

// A run keeps the log open between its records; the records still go where the path leads: a
// log replaced during the run gets the rest, a deleted one is not made again, and a record cut
// short by a full disk is taken back out as before.
TEST_F(SendLogTest, ARunsWriterFollowsThePathAndLeavesNoHalfLine) {
    SendLogWriter log(true, path, "A", [this] { return now; });
    log.append("first");
    QFile::remove(dir.filePath(QStringLiteral("Log.txt")));
    dir.write(QStringLiteral("Log.txt"), "\"20261206 120000\",\"B\",\"kept\"\r\n");
    log.append("second");
    const QByteArray replaced = dir.read(QStringLiteral("Log.txt"));
    EXPECT_EQ(replaced, QByteArray("\"20261206 120000\",\"B\",\"kept\"\r\n"
                                   "\"20261207 090503\",\"A\",\"second\"\r\n"));
    {
        FileSizeLimit limit(static_cast<std::size_t>(replaced.size()) + 10);
        EXPECT_THROW(log.append("third"), FileError);
    }
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")), replaced);
    QFile::remove(dir.filePath(QStringLiteral("Log.txt")));
    EXPECT_THROW(log.append("fourth"), FileError);
    EXPECT_FALSE(dir.exists(QStringLiteral("Log.txt")));
    log.close();
}

TEST_F(SendLogTest, ConsecutiveRecordsOfOneDayAndTitleShareATitleEntry) {
    struct Row {
        const char* name;
        std::vector<std::pair<LocalTime, std::string>> sends; // time, title
        Strings titles;
    };
    const LocalTime morning{2026, 12, 7, 9, 0, 0};
    const LocalTime noon{2026, 12, 7, 12, 0, 0};
    const LocalTime lateNight{2026, 12, 7, 23, 59, 0};
    const LocalTime nextDay{2026, 12, 8, 0, 1, 0};
    const std::vector<Row> rows = {
        {"one run, three recipients", {{morning, "A"}, {morning, "A"}, {noon, "A"}}, {"2026/12/07" + kColon + "A"}},
        {"A, B, A",
         {{morning, "A"}, {morning, "B"}, {noon, "A"}},
         {"2026/12/07" + kColon + "A", "2026/12/07" + kColon + "B", "2026/12/07" + kColon + "A"}},
        {"across midnight", {{lateNight, "A"}, {nextDay, "A"}}, {"2026/12/07" + kColon + "A", "2026/12/08" + kColon + "A"}},
    };
    for (const Row& row : rows) {
        dir.write(QStringLiteral("Log.txt"), {});
        for (const auto& [time, title] : row.sends) {
            now = time;
            append(title, "who");
        }
        const SendLogEntries entries = load();
        EXPECT_EQ(entries.titleEntries, row.titles) << row.name;
        EXPECT_EQ(entries.tempEntries.size(), row.sends.size()) << row.name;
    }
    EXPECT_EQ(load().tempEntries.front(), "20261207 235900#*:%A#*:%who");
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(SendLogTest, EmptyLogGivesNoTitleEntry) {
    const SendLogEntries entries = load();
    EXPECT_TRUE(entries.titleEntries.empty());
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(disabled, 0);
}

TEST_F(SendLogTest, UnreadableLogShowsTheMessageAndSwitchesLoggingOff) {
    append("A", "x");
    QFile::remove(dir.filePath(QStringLiteral("Log.txt")));
    const SendLogEntries entries = load();
    EXPECT_TRUE(entries.titleEntries.empty());
    EXPECT_TRUE(entries.tempEntries.empty());
    EXPECT_EQ(disabled, 1);
    EXPECT_EQ(dialogs.texts(), QStringList{QString::fromStdString(path) +
                                           QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\nログファイルを無効にします。")});

    dialogs.clear();
    path.clear();
    load();
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\nログファイルを無効にします。")});
    EXPECT_EQ(disabled, 2);
}

TEST_F(SendLogTest, NameHoldingACommaIsCutAtTheComma) {
    append("A", "Sato, Taro");
    // The raw third field keeps its lone quotation mark, so it is taken as it stands.
    EXPECT_EQ(load().tempEntries, Strings{"20261207 090503#*:%A#*:%\"Sato"});
}

TEST_F(SendLogTest, DetailEntriesListEveryRecordOfTheChosenDateAndTitle) {
    now = {2026, 12, 7, 9, 0, 1};
    append("A", "one");
    now.hour = 10;
    append("B", "two");
    now.hour = 11;
    append("A", "three");
    append("T#*:%X", "four"); // a title holding the separator never matches its entry
    SendLogEntries entries = load();
    entries.tempEntries.push_back("20261207 120000#*:%A"); // no name part
    ASSERT_EQ(entries.titleEntries.size(), 4u);

    const std::string unknown = "\x88\xb6\x90\xe6\x95\x73\x96\xbe"; // 宛先不明
    EXPECT_EQ(SendLog_DetailEntries(entries.tempEntries, entries.titleEntries[0]),
              (Strings{"09:00:01" + kColon + "one", "11:00:01" + kColon + "three", "12:00:00" + kColon + unknown}));
    EXPECT_EQ(SendLog_DetailEntries(entries.tempEntries, entries.titleEntries[2]),
              SendLog_DetailEntries(entries.tempEntries, entries.titleEntries[0]));
    EXPECT_TRUE(SendLog_DetailEntries(entries.tempEntries, entries.titleEntries[3]).empty());
    EXPECT_TRUE(SendLog_DetailEntries(entries.tempEntries, "").empty());
}

} // namespace
