#include "app_harness.h"

#include "address/address_window.h"
#include "app/hit_list_window.h"
#include "log/log_window.h"
#include "settings/settings_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>

#include <sys/utsname.h>

namespace {

using apptest::App;
using Kind = FakeDialogs::Kind;

const QString kInvalidAddress = QStringLiteral("アドレス入力に誤りがあります。");

TEST(MainWindowStart, CreatesTheWindowAsLaidOut) {
    App app;
    TTSY_MainF& main = app.main();
    EXPECT_EQ(main.windowTitle(), QStringLiteral("Tessaly 2.7S"));
    EXPECT_EQ(main.size(), QSize(562, 421));
    EXPECT_EQ(main.pos(), QPoint(30, 40)); // Main_X, Main_Y
    EXPECT_EQ(main.statusText(), QStringLiteral("送信メッセージの作成！"));
    EXPECT_EQ(app.edit("Edt_Subject")->text(), QStringLiteral("無題"));
    EXPECT_EQ(app.edit("Edt_Subject")->toolTip(), QStringLiteral("無題では送信できません"));
    EXPECT_EQ(app.edit("Edt_To")->geometry(), QRect(60, 31, 491, 21));
    EXPECT_EQ(app.body()->geometry(), QRect(10, 136, 541, 255));
    EXPECT_EQ(app.child<QStatusBar>("StatusBar1")->geometry(), QRect(0, 397, 562, 24));
    EXPECT_EQ(app.child<QToolBar>("ToolBar1")->geometry(), QRect(0, 0, 562, 29));
    QProgressBar* progress = app.child<QProgressBar>("ProgressBar1");
    ASSERT_TRUE(progress);
    EXPECT_EQ(progress->parentWidget(), app.child<QStatusBar>("StatusBar1"));
    EXPECT_EQ(progress->geometry(), QRect(5, 5, 221, 16));

    // Toolbar buttons: a picture each, the hint as tooltip and accessible name, start states.
    struct Button {
        const char* name;
        const char* hint;
        bool enabled;
    };
    for (const Button& b : {Button{"TB_Send", "メール送信開始", false},
                            Button{"TB_Stop", "送信中止", false},
                            Button{"TB_Address", "アドレス帳", true},
                            Button{"TB_Read", "本文読み込み", true},
                            Button{"TB_Save", "送信内容保存", true},
                            Button{"TB_Clear", "クリア", true},
                            Button{"TB_Log_Disp", "送信ログ表示", true},
                            Button{"TB_Settei", "環境設定画面表示", true},
                            Button{"TB_End", "終了", true}}) {
        QToolButton* button = app.tool(b.name);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->toolTip(), QString::fromUtf8(b.hint)) << b.name;
        EXPECT_EQ(button->accessibleName(), QString::fromUtf8(b.hint)) << b.name;
        EXPECT_FALSE(button->icon().isNull()) << b.name;
        EXPECT_EQ(button->isEnabled(), b.enabled) << b.name;
    }
    EXPECT_FALSE(app.child<QPushButton>("Cmd_Del")->isEnabled());

    // The other controls: place, size, caption and hint.
    struct Control {
        const char* name;
        QRect geometry;
        const char* caption;
        const char* hint;
    };
    for (const Control& c : {Control{"Cmd_To", {5, 56, 51, 21}, "宛先 ...", "宛先データの読み込み"},
                             Control{"List_To", {60, 56, 491, 46}, "", ""},
                             Control{"Cmd_Del", {5, 81, 51, 21}, "削除", "宛先を削除"},
                             Control{"Edt_Subject", {60, 111, 491, 21}, "無題",
                                     "無題では送信できません"}}) {
        QWidget* w = app.child<QWidget>(c.name);
        ASSERT_TRUE(w);
        EXPECT_EQ(w->geometry(), c.geometry) << c.name;
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(c.hint)) << c.name;
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(button->text(), QString::fromUtf8(c.caption)) << c.name;
        }
    }
    EXPECT_EQ(app.child<QLabel>("Label2")->text(), QStringLiteral("To　："));
    EXPECT_EQ(app.child<QLabel>("Label2")->pos(), QPoint(15, 36));
    EXPECT_EQ(app.child<QLabel>("Label1")->text(), QStringLiteral("Subject："));
    EXPECT_EQ(app.child<QLabel>("Label1")->pos(), QPoint(10, 111));
    EXPECT_EQ(app.recipients()->selectionMode(), QAbstractItemView::ExtendedSelection);

    // Tab order: Edt_To, Cmd_To, Edt_Subject, Memo_Sjis and round again; the list, Cmd_Del and
    // the toolbar buttons are no tab stops.
    main.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
    app.edit("Edt_To")->setFocus();
    QStringList visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_EQ(visited, (QStringList{QStringLiteral("Cmd_To"), QStringLiteral("Edt_Subject"),
                                    QStringLiteral("Memo_Sjis"), QStringLiteral("Edt_To")}));

    // The kernel's version stands for the operating system's.
    utsname name{};
    ASSERT_EQ(uname(&name), 0);
    int major = 0;
    int minor = 0;
    ASSERT_EQ(std::sscanf(name.release, "%d.%d", &major, &minor), 2);
    EXPECT_EQ(main.OsMajorVersion(), major);
    EXPECT_EQ(main.OsMinorVersion(), minor);
    EXPECT_TRUE(app.dialogs.calls.empty());
}

TEST(MainWindowStart, AFailedStepOfTheFirstShowingEndsItButTheWindowShows) {
    // The log file cannot be created: the settings load stops there, the signature is not added.
    TempStartDir probe; // only to name a signature file that exists
    probe.write(QStringLiteral("sig.txt"), "Sig\r\n");
    App app({{QStringLiteral("Syomei"), probe.filePath(QStringLiteral("sig.txt"))},
             {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")},
             {QStringLiteral("Log"), QStringLiteral("/nonexistent-folder/Log.txt")}});
    EXPECT_TRUE(app.main().isVisible());
    ASSERT_EQ(app.dialogs.count(Kind::Error), 1);
    EXPECT_TRUE(app.body()->toPlainText().isEmpty());
}

TEST(Recipients, TypedTextIsLookedUpThenChecked) {
    App app({}, apptest::sampleAddressBook());
    QLineEdit* to = app.edit("Edt_To");

    // Enter in an empty field changes nothing.
    QTest::keyClick(to, Qt::Key_Return);
    EXPECT_EQ(app.recipients()->count(), 0);

    // One name matches: its entry is taken, without a window.
    app.typeRecipient(QStringLiteral("佐藤"));
    EXPECT_EQ(app.recipientTexts(), QStringList{QStringLiteral("佐藤一郎 <ichiro@example.jp>")});
    EXPECT_TRUE(to->text().isEmpty());
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_FALSE(app.program->hitListWindow().isVisible());

    // No name matches, a valid address: added trimmed.
    app.typeRecipient(QStringLiteral("  jiro@example.jp "));
    EXPECT_EQ(app.recipientTexts().last(), QStringLiteral("jiro@example.jp"));

    // No name matches, no valid address: refused, the text stays for correction.
    for (const QString& bad : {QStringLiteral("田中"), QStringLiteral("Taro <taro@example.jp>"),
                               QStringLiteral("a@b@c")}) {
        app.dialogs.clear();
        app.typeRecipient(bad);
        EXPECT_EQ(app.dialogs.texts(), QStringList{kInvalidAddress}) << bad.toStdString();
        EXPECT_EQ(to->text(), bad);
    }
    EXPECT_EQ(app.recipients()->count(), 2);

    // Leaving the field takes the text as Enter does.
    to->setText(QStringLiteral("saburo@example.jp"));
    app.main().Edt_ToExit();
    EXPECT_EQ(app.recipientTexts().last(), QStringLiteral("saburo@example.jp"));
}

TEST(Recipients, SeveralHitsGoThroughTheHitList) {
    App app({}, apptest::sampleAddressBook());
    TTSY_Adrs_HitF& hit = app.program->hitListWindow();
    auto* hitList = hit.findChild<QListWidget*>(QStringLiteral("Hit_List"));
    ASSERT_TRUE(hitList);

    app.typeRecipient(QStringLiteral("山田"));
    ASSERT_TRUE(hit.isVisible());
    EXPECT_FALSE(app.main().isEnabled());
    EXPECT_TRUE(hit.isEnabled());
    EXPECT_TRUE(app.edit("Edt_To")->text().isEmpty());
    EXPECT_EQ(hit.pos(), app.main().pos() + QPoint(100, 100));
    EXPECT_EQ(hit.size(), QSize(357, 177));
    EXPECT_EQ(hit.windowTitle(), QStringLiteral("Tessaly 2.7S"));
    EXPECT_FALSE(hit.windowFlags() & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint));
    EXPECT_EQ(hitList->geometry(), QRect(10, 10, 331, 131));
    EXPECT_EQ(hitList->toolTip(), QStringLiteral("複数選択できます"));
    EXPECT_EQ(hitList->selectionMode(), QAbstractItemView::ExtendedSelection);
    struct HitButton {
        const char* name;
        QRect geometry;
        const char* caption;
        const char* hint;
    };
    for (const HitButton& b : {HitButton{"BitBtn1", {50, 150, 96, 25}, "宛先セット", "宛名へ転送します"},
                               HitButton{"BitBtn2", {230, 150, 86, 25}, "キャンセル", ""}}) {
        auto* button = hit.findChild<QPushButton*>(QString::fromLatin1(b.name));
        ASSERT_TRUE(button);
        EXPECT_EQ(button->geometry(), b.geometry) << b.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.caption)) << b.name;
        EXPECT_EQ(button->toolTip(), QString::fromUtf8(b.hint)) << b.name;
    }
    EXPECT_EQ(hit.focusWidget(), hitList);
    // Tab order: Hit_List, BitBtn1, BitBtn2.
    const auto nextTabStop = [](QWidget* w) {
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
        return w->objectName();
    };
    EXPECT_EQ(nextTabStop(hitList), QStringLiteral("BitBtn1"));
    EXPECT_EQ(nextTabStop(hit.findChild<QPushButton*>(QStringLiteral("BitBtn1"))),
              QStringLiteral("BitBtn2"));
    ASSERT_EQ(hitList->count(), 2);
    // In the book's order, which is sorted.
    EXPECT_EQ(hitList->item(0)->text(), QStringLiteral("山田花子 <hanako@example.jp>"));
    EXPECT_EQ(app.recipients()->count(), 0); // nothing until confirmed

    // Confirm with nothing selected: nothing added, TB_Send as it was.
    hit.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    EXPECT_FALSE(hit.isVisible());
    EXPECT_TRUE(app.main().isEnabled());
    EXPECT_EQ(app.recipients()->count(), 0);
    EXPECT_FALSE(app.tool("TB_Send")->isEnabled());

    // Both selected: added in hit-list order.
    app.typeRecipient(QStringLiteral("山田"));
    hitList->selectAll();
    hit.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    EXPECT_EQ(app.recipientTexts(), (QStringList{QStringLiteral("山田花子 <hanako@example.jp>"),
                                                 QStringLiteral("山田太郎 <taro@example.jp>")}));
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());

    // Escape cancels; Enter confirms.
    app.typeRecipient(QStringLiteral("山田"));
    hitList->item(1)->setSelected(true);
    QTest::keyClick(hitList, Qt::Key_Escape);
    EXPECT_FALSE(hit.isVisible());
    EXPECT_TRUE(app.main().isEnabled());
    EXPECT_EQ(app.recipients()->count(), 2);

    app.typeRecipient(QStringLiteral("山田"));
    hitList->clearSelection();
    hitList->item(1)->setSelected(true);
    QTest::keyClick(hitList, Qt::Key_Return);
    EXPECT_FALSE(hit.isVisible());
    EXPECT_TRUE(app.main().isEnabled());
    EXPECT_EQ(app.recipientTexts().last(), QStringLiteral("山田太郎 <taro@example.jp>"));

    // Enter on the focused "キャンセル" cancels; a focused "宛先セット" confirms.
    auto* cancel = hit.findChild<QPushButton*>(QStringLiteral("BitBtn2"));
    auto* confirm = hit.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
    for (QPushButton* focused : {cancel, confirm}) {
        app.typeRecipient(QStringLiteral("山田"));
        hitList->selectAll();
        focused->setFocus();
        QTest::keyClick(focused, Qt::Key_Return);
        EXPECT_FALSE(hit.isVisible());
        EXPECT_TRUE(app.main().isEnabled());
    }
    EXPECT_EQ(app.recipients()->count(), 5);
    EXPECT_TRUE(app.dialogs.calls.empty());
}

// An address book written on Windows may hold 髙 under its NEC-selected code EE E0, where typing
// gives its IBM code FB FC: the name search and the hit list go by the character, and the
// recipient keeps the bytes the book holds.
TEST(Recipients, EitherCodeOfAnIbmExtensionIsFoundByTypedName) {
    const QByteArray necTakahashi = QByteArray("\xEE\xE0") + sjis(QStringLiteral("橋 一郎"));
    const QByteArray ibmTakahashi = sjis(QStringLiteral("髙橋 花子"));
    ASSERT_TRUE(ibmTakahashi.startsWith("\xFB\xFC"));
    App app({}, sjis(QStringLiteral("\"G\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n\"G\",\"M\",\"")) + necTakahashi +
                    "\",\"ichiro@example.jp\",\"0\"\r\n\"G\",\"M\",\"" + ibmTakahashi +
                    "\",\"hanako@example.jp\",\"0\"\r\n");
    app.typeRecipient(QStringLiteral("髙橋 一"));
    ASSERT_EQ(app.recipientTexts(), QStringList{QStringLiteral("髙橋 一郎 <ichiro@example.jp>")});
    EXPECT_EQ(app.recipients()->item(0)->data(Qt::UserRole).toByteArray(), necTakahashi + " <ichiro@example.jp>");

    app.typeRecipient(QStringLiteral("髙橋"));
    TTSY_Adrs_HitF& hit = app.program->hitListWindow();
    ASSERT_TRUE(hit.isVisible());
    auto* hitList = hit.findChild<QListWidget*>(QStringLiteral("Hit_List"));
    ASSERT_EQ(hitList->count(), 2);
    hitList->selectAll();
    hit.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    EXPECT_EQ(app.recipientTexts(), (QStringList{QStringLiteral("髙橋 一郎 <ichiro@example.jp>"),
                                                 QStringLiteral("髙橋 一郎 <ichiro@example.jp>"),
                                                 QStringLiteral("髙橋 花子 <hanako@example.jp>")}));
    EXPECT_EQ(app.recipients()->item(2)->data(Qt::UserRole).toByteArray(), ibmTakahashi + " <hanako@example.jp>");
    EXPECT_TRUE(app.dialogs.calls.empty());
}

TEST(Recipients, DeletingSeveralSelected) {
    App app;
    for (const char* address : {"a@example.jp", "b@example.jp", "c@example.jp"})
        app.typeRecipient(QString::fromLatin1(address));
    QListWidget* list = app.recipients();
    auto* del = app.child<QPushButton>("Cmd_Del");

    // Click the first, Ctrl+click the third, as a user selects several.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      list->visualItemRect(list->item(0)).center());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier,
                      list->visualItemRect(list->item(2)).center());
    ASSERT_TRUE(del->isEnabled());
    del->click();
    EXPECT_EQ(app.recipientTexts(), QStringList{QStringLiteral("b@example.jp")});
    EXPECT_FALSE(del->isEnabled());
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());

    list->item(0)->setSelected(true);
    app.main().List_ToClick();
    del->click();
    EXPECT_EQ(list->count(), 0);
    EXPECT_FALSE(app.tool("TB_Send")->isEnabled());
}

TEST(Recipients, ReadFromAFile) {
    App app;
    app.dir.write(QStringLiteral("to.txt"),
                  "a@example.jp\r\n  b@example.jp  \r\n\r\nTaro <t@example.jp>\r\nc@example.jp");
    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("to.txt")));
    app.child<QPushButton>("Cmd_To")->click();

    const auto dialog = app.dialogs.last(Kind::OpenFile);
    EXPECT_EQ(dialog.options.title, QStringLiteral("宛先をファイルから読み込む"));
    EXPECT_EQ(dialog.options.initialDir, app.dir.path());
    EXPECT_EQ(dialog.options.defaultExt, QStringLiteral("txt"));
    EXPECT_EQ(dialog.options.filter, QStringLiteral("Text files (*.txt);;全てのファイル(*.*) (*)"));
    EXPECT_EQ(app.recipientTexts(),
              (QStringList{QStringLiteral("a@example.jp"), QStringLiteral("b@example.jp"),
                           QStringLiteral("c@example.jp")}));
    EXPECT_EQ(app.dialogs.texts(Kind::Message),
              QStringList{QStringLiteral("Taro <t@example.jp>は\r\nアドレス入力に誤りがあります。")});
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());

    // Cancelled: nothing read, TB_Send still follows the list.
    app.tool("TB_Send")->setEnabled(false);
    app.dialogs.queueFileName(QString());
    app.child<QPushButton>("Cmd_To")->click();
    EXPECT_EQ(app.recipients()->count(), 3);
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
}

class Body : public ::testing::TestWithParam<bool> {};

TEST_P(Body, SaveAndReadBackWithAndWithoutSignature) {
    const bool signature = GetParam();
    TempStartDir sigDir;
    sigDir.write(QStringLiteral("sig.txt"), sjis(QStringLiteral("山田太郎\r\ntaro@example.jp\r\n")));
    App app(signature ? apptest::IniValues{{QStringLiteral("Syomei"),
                                            sigDir.filePath(QStringLiteral("sig.txt"))},
                                           {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")}}
                      : apptest::IniValues{});
    // Every line the program adds ends with a line break.
    const QString signatureBlock =
        signature ? QStringLiteral("\n--\n山田太郎\ntaro@example.jp\n") : QString();
    EXPECT_EQ(app.body()->toPlainText(), signatureBlock);

    const QString text = QStringLiteral("各位\n\nお疲れさまです。ｶﾅも含めて\n.\n以上");
    app.setBody(text);
    const QString saved = app.dir.filePath(QStringLiteral("body.txt"));
    app.dialogs.queueFileName(saved);
    app.tool("TB_Save")->click();
    EXPECT_EQ(app.dialogs.last(Kind::SaveFile).options.title, QStringLiteral("送信内容のＳａｖｅ！！"));
    EXPECT_EQ(app.dialogs.last(Kind::SaveFile).options.filter, QStringLiteral("Text files (*.txt)"));
    EXPECT_EQ(app.dialogs.last(Kind::SaveFile).options.defaultExt, QStringLiteral("txt"));
    EXPECT_TRUE(app.tool("TB_Save")->isEnabled());
    EXPECT_EQ(app.dir.read(QStringLiteral("body.txt")),
              sjis(QStringLiteral("各位\r\n\r\nお疲れさまです。ｶﾅも含めて\r\n.\r\n以上\r\n")));

    app.setBody(QStringLiteral("消える"));
    app.dialogs.queueFileName(saved);
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.dialogs.last(Kind::OpenFile).options.title,
              QStringLiteral("メール本文をファイルから読み込む"));
    EXPECT_EQ(app.dialogs.last(Kind::OpenFile).options.filter, QStringLiteral("Text files (*.txt)"));
    EXPECT_EQ(app.dialogs.last(Kind::OpenFile).options.defaultExt, QStringLiteral("txt"));
    EXPECT_TRUE(app.tool("TB_Read")->isEnabled());
    EXPECT_EQ(app.body()->toPlainText(), text + QStringLiteral("\n") + signatureBlock);

    // Cancelled read: nothing changes.
    app.dialogs.queueFileName(QString());
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.body()->toPlainText(), text + QStringLiteral("\n") + signatureBlock);
    EXPECT_TRUE(app.dialogs.texts().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Signature, Body, ::testing::Bool());

// A body saved with its signature reads back as it was saved, the signature once: it is the same
// mail. A signature edited since the save is no longer this program's block and gets the new one.
TEST(BodyFiles, ASavedSignatureReadsBackOnce) {
    TempStartDir sigDir;
    sigDir.write(QStringLiteral("sig.txt"), sjis(QStringLiteral("山田太郎\r\n")));
    App app({{QStringLiteral("Syomei"), sigDir.filePath(QStringLiteral("sig.txt"))},
             {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")}});
    app.body()->moveCursor(QTextCursor::Start);
    app.body()->insertPlainText(QStringLiteral("各位\n"));
    const QString sent = app.body()->toPlainText();
    ASSERT_EQ(sent, QStringLiteral("各位\n\n--\n山田太郎\n"));
    const QString saved = app.dir.filePath(QStringLiteral("body.txt"));
    app.dialogs.queueFileName(saved);
    app.tool("TB_Save")->click();

    app.setBody(QStringLiteral("消える"));
    app.dialogs.queueFileName(saved);
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.body()->toPlainText(), sent);

    sigDir.write(QStringLiteral("sig.txt"), sjis(QStringLiteral("山田花子\r\n")));
    app.dialogs.queueFileName(saved);
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.body()->toPlainText(), sent + QStringLiteral("\n--\n山田花子\n"));
    EXPECT_TRUE(app.dialogs.texts().isEmpty());
}

TEST(BodyFiles, LineEndsAndUnreadableFile) {
    App app;
    app.dir.write(QStringLiteral("mixed.txt"), "one\rtwo\r\nthree\nfour");
    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("mixed.txt")));
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.body()->toPlainText(), QStringLiteral("one\ntwo\nthree\nfour\n"));

    // A file that cannot be read leaves the text the user had.
    app.setBody(QStringLiteral("書きかけの本文"));
    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("missing.txt")));
    app.tool("TB_Read")->click();
    EXPECT_EQ(app.dialogs.count(Kind::Error), 1);
    EXPECT_TRUE(app.tool("TB_Read")->isEnabled());
    EXPECT_EQ(app.body()->toPlainText(), QStringLiteral("書きかけの本文"));
}

TEST(BodyField, ShiftEnterBreaksTheLineLikeEnter) {
    // Otherwise an invisible line separator would stand inside the line and the run refuse it.
    App app;
    app.body()->setFocus();
    QTest::keyClicks(app.body(), QStringLiteral("one"));
    QTest::keyClick(app.body(), Qt::Key_Return, Qt::ShiftModifier);
    QTest::keyClicks(app.body(), QStringLiteral("two"));
    EXPECT_EQ(app.body()->toPlainText(), QStringLiteral("one\ntwo"));
    EXPECT_EQ(app.body()->document()->blockCount(), 2);
}

TEST(Clear, StartsANewMailWithTheSignature) {
    TempStartDir sigDir;
    sigDir.write(QStringLiteral("sig.txt"), "Sig\r\n");
    App app({{QStringLiteral("Syomei"), sigDir.filePath(QStringLiteral("sig.txt"))},
             {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")}});
    app.typeRecipient(QStringLiteral("a@example.jp"));
    app.edit("Edt_Subject")->setText(QStringLiteral("件名"));
    app.setBody(QStringLiteral("本文"));
    app.tool("TB_Clear")->click();
    EXPECT_EQ(app.recipients()->count(), 0);
    EXPECT_EQ(app.edit("Edt_Subject")->text(), QStringLiteral("無題"));
    EXPECT_EQ(app.body()->toPlainText(), QStringLiteral("\n--\nSig\n"));
    EXPECT_FALSE(app.tool("TB_Send")->isEnabled());
    EXPECT_EQ(app.main().statusText(), QStringLiteral("送信メッセージの作成！"));

    // The signature file went missing: the message, the "--" lines stay, the switch goes off.
    QFile::remove(sigDir.filePath(QStringLiteral("sig.txt")));
    app.tool("TB_Clear")->click();
    EXPECT_EQ(app.dialogs.texts(),
              QStringList{QStringLiteral("署名ファイル\r\n") +
                          sigDir.filePath(QStringLiteral("sig.txt")) +
                          QStringLiteral("が見つかりません。\r\n設定をクリアします。")});
    EXPECT_EQ(app.body()->toPlainText(), QStringLiteral("\n--\n"));
    EXPECT_FALSE(app.program->settingsWindow().syomeiOn());
    EXPECT_TRUE(app.program->settings().Syomei.empty());
}

TEST(SecondaryWindows, OpenWithTheMainWindowDisabledAndCloseEnablingIt) {
    App app;
    TTSY_MainF& main = app.main();
    struct Case {
        const char* button;
        QWidget* window;
        std::function<void()> close;
    };
    TTSY_SetteiF& settei = app.program->settingsWindow();
    TTSY_AddressF& address = app.program->addressWindow();
    TTSY_LogF& log = app.program->logWindow();
    const Case cases[] = {
        {"TB_Settei", &settei, [&] { settei.Cmd_SetteiCancel->click(); }},
        {"TB_Settei", &settei, [&] { settei.close(); }},
        {"TB_Address", &address, [&] { address.Cmd_Close->click(); }},
        {"TB_Address", &address, [&] { address.close(); }},
        {"TB_Log_Disp", &log, [&] { log.BitBtn1->click(); }},
        {"TB_Log_Disp", &log, [&] { log.close(); }},
    };
    for (const Case& c : cases) {
        app.tool(c.button)->click();
        EXPECT_TRUE(c.window->isVisible()) << c.button;
        EXPECT_FALSE(main.isEnabled()) << c.button;
        EXPECT_TRUE(c.window->isEnabled()) << c.button;
        c.close();
        EXPECT_FALSE(c.window->isVisible()) << c.button;
        EXPECT_TRUE(main.isEnabled()) << c.button;
    }
    EXPECT_EQ(log.pos(), main.pos());
    EXPECT_EQ(app.dialogs.count(Kind::Error), 0);
}

TEST(Closing, WritesTheSettingsWithThePosition) {
    App app({{QStringLiteral("Host"), QStringLiteral("mail.example.jp")}});
    app.main().move(123, 77);
    app.tool("TB_End")->click();
    EXPECT_FALSE(app.main().isVisible());
    const QByteArray ini = app.dir.read(QStringLiteral("TSY2.ini"));
    EXPECT_TRUE(ini.contains("Host=mail.example.jp\r\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("Main_X=123\r\n")) << ini.toStdString();
    EXPECT_TRUE(ini.contains("Main_Y=77\r\n")) << ini.toStdString();
}

TEST(Closing, AFailedSaveKeepsTheProgramOpen) {
    App app;
    // TSY2.ini replaced by a folder cannot be written.
    QFile::remove(app.dir.filePath(QStringLiteral("TSY2.ini")));
    ASSERT_TRUE(QDir(app.dir.path()).mkdir(QStringLiteral("TSY2.ini")));
    app.main().close();
    EXPECT_TRUE(app.main().isVisible());
    EXPECT_EQ(app.dialogs.count(Kind::Error), 1);
    QDir(app.dir.filePath(QStringLiteral("TSY2.ini"))).removeRecursively();
}

// The Subject checks come first; a Subject that passes them reaches the host check, which here
// fails on a host that does not resolve.
TEST(SubjectChecks, RefuseEmptyDefaultQuoteAndComma) {
    App app({{QStringLiteral("Host"), QStringLiteral("no such host")}});
    app.typeRecipient(QStringLiteral("a@example.jp"));
    const QString empty = QStringLiteral("Subjectが入力されていません");
    const QString quote = QStringLiteral("Subjectには ”は使用できません\r\n（制限文字です）");
    const QString comma = QStringLiteral("Subjectには ，は使用できません\r\n（制限文字です）");
    const QString passed = QStringLiteral("ホスト接続が有効ではありません！");
    const std::pair<QString, QString> rows[] = {
        {QString(), empty},
        {QStringLiteral("無題"), empty},
        {QStringLiteral("   "), passed},
        {QStringLiteral("a\"b"), quote},
        {QStringLiteral("a,b"), comma},
        {QStringLiteral("a,b\"c"), quote},
        {QStringLiteral("全角，カンマ"), passed},
        {QStringLiteral("全角”引用符"), passed},
    };
    for (const auto& [subject, expected] : rows) {
        app.dialogs.clear();
        app.edit("Edt_Subject")->setText(subject);
        app.tool("TB_Send")->click();
        EXPECT_EQ(app.dialogs.texts(), QStringList{expected}) << subject.toStdString();
        EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
        EXPECT_TRUE(app.tool("TB_Clear")->isEnabled());
        EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
    }
    EXPECT_EQ(app.main().statusText(), QStringLiteral("ホスト接続を確認して下さい"));
}

TEST(SendRefusals, TextThatCannotBeMailedStopsTheRunBeforeAnything) {
    App app({{QStringLiteral("Host"), QStringLiteral("no such host")}});
    app.typeRecipient(QStringLiteral("a@example.jp"));
    struct Row {
        QString subject;
        QString body;
        QString message;
    };
    const Row rows[] = {
        {QStringLiteral("絵文字😀"), QString(),
         QStringLiteral("件名の 4 文字目の「😀」(U+1F600)は Shift-JIS で扱えない文字です。")},
        {QStringLiteral("件名"), QStringLiteral("一行目\n二行目に\u2170"),
         QStringLiteral("本文 2 行目の 5 文字目の「ⅰ」(U+2170)はメールでは送れない文字です"
                        "（ISO-2022-JP にありません）。「送信サーバーの詳細」の「文字コード」を"
                        "自動か UTF-8 にすると、UTF-8 で送れます。")},
    };
    for (const Row& row : rows) {
        app.dialogs.clear();
        app.edit("Edt_Subject")->setText(row.subject);
        app.setBody(row.body);
        app.tool("TB_Send")->click();
        EXPECT_EQ(app.dialogs.texts(), QStringList{row.message});
        EXPECT_EQ(app.main().statusText(), QStringLiteral("送信メッセージの作成！"));
        EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    }
}

} // namespace
