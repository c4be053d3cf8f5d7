// The send log viewer driven as a user drives it: opened from a main window, lines chosen by
// mouse and arrow keys, closed by its button; what the two lists show is checked as text.
#include "common/text.h"
#include "fixtures/fake_dialogs.h"
#include "fixtures/sjis.h"
#include "fixtures/temp_start_dir.h"
#include "log/log_window.h"

#include <QFile>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QByteArray record(const char* time, const QString& title, const QString& name) {
    return "\"" + QByteArray(time) + "\",\"" + sjis(title) + "\",\"" +
           sjis(name) + "\"\r\n";
}

class LogWindowTest : public ::testing::Test {
protected:
    LogWindowTest() {
        settings.Log = dir.filePathBytes(QStringLiteral("Log.txt"));
        mainWindow.move(70, 90);
        mainWindow.show();
    }

    void open(const QByteArray& log) {
        dir.write(QStringLiteral("Log.txt"), log);
        window.open();
    }
    QListView* list(const char* name) { return window.findChild<QListView*>(QString::fromLatin1(name)); }
    QStringList lines(const char* name) {
        QStringList result;
        QAbstractItemModel* model = list(name)->model();
        for (int row = 0; row < model->rowCount(); ++row)
            result << model->index(row, 0).data().toString();
        return result;
    }
    void clickTitle(int row) {
        QListView* titles = list("Lst_Log_Title");
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                          titles->visualRect(titles->model()->index(row, 0)).center());
    }

    TempStartDir dir;
    FakeDialogs dialogs;
    Settings settings;
    QWidget mainWindow;
    int logsDisabled = 0;
    TTSY_LogF window{dialogs, settings, &mainWindow, [this] { ++logsDisabled; }};
};

const QString kColon = QStringLiteral("　：　");

TEST_F(LogWindowTest, OpensOverTheMainWindowAndGivesItBackOnClose) {
    open({});
    EXPECT_EQ(window.windowTitle(), QStringLiteral("TSY_2.7S LogData"));
    EXPECT_EQ(window.pos(), mainWindow.pos());
    EXPECT_FALSE(mainWindow.isEnabled());
    EXPECT_TRUE(lines("Lst_Log_Title").isEmpty());
    EXPECT_TRUE(lines("Lst_Log_Meisai").isEmpty());
    EXPECT_FALSE(list("Lst_Log_Temp")->isVisible());
    EXPECT_EQ(list("Lst_Log_Title")->geometry(), QRect(30, 25, 511, 121));
    EXPECT_EQ(list("Lst_Log_Meisai")->geometry(), QRect(30, 185, 511, 186));
    EXPECT_EQ(list("Lst_Log_Title")->toolTip(), QStringLiteral("日付＋タイトル単位に表示します"));
    EXPECT_EQ(list("Lst_Log_Meisai")->toolTip(), QStringLiteral("送ったアドレスの一覧です"));
    const std::pair<const char*, QString> labels[] = {{"Label1", QStringLiteral("送信日付　　　　タイトル")},
                                                      {"Label2", QStringLiteral("宛先一覧")},
                                                      {"Label3", QStringLiteral("送信日付　　　宛先名")}};
    for (const auto& [name, text] : labels)
        EXPECT_EQ(window.findChild<QLabel*>(QString::fromLatin1(name))->text(), text) << name;
    // Closed only through its button (or Esc): no system menu, no close box.
    EXPECT_FALSE(window.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint));

    QPushButton* close = window.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
    EXPECT_EQ(close->text(), QStringLiteral("閉じる(&C)"));
    QTest::mouseClick(close, Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(mainWindow.isEnabled());

    window.open();
    QTest::keyClick(&window, Qt::Key_Escape);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(mainWindow.isEnabled());
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(LogWindowTest, ChoosingATitleListsEveryRecordOfThatDayAndTitle) {
    open(record("20261207 090001", QStringLiteral("会議"), QStringLiteral("佐藤")) +
         record("20261207 090002", QStringLiteral("会議"), QStringLiteral("鈴木")) +
         record("20261207 100000", QStringLiteral("B"), QStringLiteral("b")) +
         record("20261207 110000", QStringLiteral("会議"), QStringLiteral("高橋")) +
         record("20261208 080000", QStringLiteral("会議"), QStringLiteral("田中")) +
         record("20261208 090000", QStringLiteral("x#*:%y"), QStringLiteral("z")));
    EXPECT_EQ(lines("Lst_Log_Title"),
              (QStringList{"2026/12/07" + kColon + "会議", "2026/12/07" + kColon + "B", "2026/12/07" + kColon + "会議",
                           "2026/12/08" + kColon + "会議", "2026/12/08" + kColon + "x#*:%y"}));
    const QStringList bothRuns{"09:00:01" + kColon + "佐藤", "09:00:02" + kColon + "鈴木", "11:00:00" + kColon + "高橋"};
    clickTitle(0);
    EXPECT_EQ(lines("Lst_Log_Meisai"), bothRuns);
    clickTitle(2); // the same title again that day: the same recipients, both runs
    EXPECT_EQ(lines("Lst_Log_Meisai"), bothRuns);
    clickTitle(3);
    EXPECT_EQ(lines("Lst_Log_Meisai"), QStringList{"08:00:00" + kColon + "田中"});
    clickTitle(4); // the title's own separator splits its records apart from the entry
    EXPECT_TRUE(lines("Lst_Log_Meisai").isEmpty());
}

TEST_F(LogWindowTest, ArrowKeysUpdateTheRecipientsAtEveryStep) {
    open(record("20261207 090000", QStringLiteral("A"), QStringLiteral("a")) +
         record("20261207 100000", QStringLiteral("B"), QStringLiteral("b")) +
         record("20261207 110000", QStringLiteral("C"), QStringLiteral("c")));
    QListView* titles = list("Lst_Log_Title");
    clickTitle(0);
    EXPECT_EQ(lines("Lst_Log_Meisai"), QStringList{"09:00:00" + kColon + "a"});
    QTest::keyClick(titles, Qt::Key_Down);
    EXPECT_EQ(lines("Lst_Log_Meisai"), QStringList{"10:00:00" + kColon + "b"});
    QTest::keyClick(titles, Qt::Key_Down);
    EXPECT_EQ(lines("Lst_Log_Meisai"), QStringList{"11:00:00" + kColon + "c"});
    QTest::keyClick(titles, Qt::Key_Up);
    EXPECT_EQ(lines("Lst_Log_Meisai"), QStringList{"10:00:00" + kColon + "b"});
}

TEST_F(LogWindowTest, EveryShowReadsTheFileAsItIsNow) {
    open(record("20261207 090000", QStringLiteral("A"), QStringLiteral("a")));
    clickTitle(0);
    window.close();
    dir.write(QStringLiteral("Log.txt"), record("20261207 090000", QStringLiteral("A"), QStringLiteral("a")) +
                                             record("20261209 090000", QStringLiteral("New"), QStringLiteral("n")));
    window.open();
    EXPECT_EQ(lines("Lst_Log_Title"), (QStringList{"2026/12/07" + kColon + "A", "2026/12/09" + kColon + "New"}));
    EXPECT_TRUE(lines("Lst_Log_Meisai").isEmpty()); // nothing chosen yet in the new lists
}

TEST_F(LogWindowTest, AnUnreadableLogOpensEmptyAndSwitchesLoggingOff) {
    open(record("20261207 090000", QStringLiteral("A"), QStringLiteral("a")));
    window.close();
    QFile::remove(dir.filePath(QStringLiteral("Log.txt")));
    window.open();
    EXPECT_EQ(dialogs.texts(), QStringList{dir.filePath(QStringLiteral("Log.txt")) +
                                           QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\nログファイルを無効にします。")});
    EXPECT_EQ(logsDisabled, 1);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(lines("Lst_Log_Title").isEmpty());
    EXPECT_TRUE(lines("Lst_Log_Temp").isEmpty());
}

} // namespace
