#include "settings/settings_window.h"

#include "common/errors.h"
#include "fixtures/fake_dialogs.h"
#include "fixtures/temp_start_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString MsgFirstRun = QStringLiteral("Tessalyの環境を初期設定します。");
const QString MsgPort = QStringLiteral("半角の数字しか入力できません");

// A start folder, the fake dialogs, the record and the settings window with stand-ins for the
// main and address book windows, wired as the program wires them.
class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() : start_(dir_.path().toStdString()) {
        window_ = std::make_unique<TTSY_SetteiF>(dialogs_, settings_, start_, &main_);
        window_->setAddressWindow(&address_);
    }

    bool load() { return Settings_Load(settings_, start_, dialogs_, *window_, &main_, &address_); }
    void writeIni(const QByteArray& bytes) { dir_.write(QStringLiteral("TSY2.ini"), bytes); }
    QByteArray ini() const { return dir_.read(QStringLiteral("TSY2.ini")); }
    std::string path(const char* name) const { return start_ + "/" + name; }
    QString qpath(const char* name) const { return QString::fromStdString(path(name)); }

    QLineEdit* edit(const char* name) { return window_->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    QCheckBox* box(const char* name) { return window_->findChild<QCheckBox*>(QString::fromLatin1(name)); }
    QPushButton* button(const char* name) { return window_->findChild<QPushButton*>(QString::fromLatin1(name)); }

    // Shows the window as the main window's settings command does, focused and active.
    void open() {
        main_.setEnabled(false);
        window_->show();
        window_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    }

    TempStartDir dir_;
    FakeDialogs dialogs_;
    Settings settings_;
    QWidget main_;
    QWidget address_;
    std::string start_;
    std::unique_ptr<TTSY_SetteiF> window_;
};

TEST_F(SettingsWindowTest, LaysOutEveryControlInTabOrder) {
    EXPECT_EQ(window_->windowTitle(), QStringLiteral("Tessaly 2.7S 設定画面"));
    EXPECT_EQ(window_->size(), QSize(555, 433));
    struct Place {
        const char* name;
        QRect rect;
    };
    const Place places[] = {
        {"Cmd_SetteiHozon", {180, 400, 85, 25}}, {"Cmd_SetteiCancel", {310, 400, 96, 25}},
        {"Edt_Host", {85, 10, 121, 20}},         {"Edt_Port", {85, 35, 56, 20}},
        {"Edt_UserID", {85, 100, 126, 20}},      {"Edt_EMail", {85, 135, 266, 20}},
        {"Edt_Syomei", {85, 195, 366, 20}},      {"Cmd_FileSentaku", {465, 195, 75, 21}},
        {"ChkBox_Syomei", {10, 195, 76, 17}},    {"Edt_UserMei", {85, 70, 126, 20}},
        {"Edt_Reply", {85, 165, 266, 20}},       {"ChkBox_Atesaki", {10, 230, 121, 17}},
        {"Edt_Keisyou", {145, 230, 46, 20}},     {"ChkBox_EverySend", {10, 265, 97, 17}},
        {"Edt_EverySend", {95, 265, 256, 20}},   {"Edt_Address", {95, 295, 356, 20}},
        {"Cmd_FileSentaku1", {465, 295, 75, 25}}, {"Edt_Log", {95, 330, 356, 20}},
        {"ChkBox_Log", {10, 330, 76, 17}},       {"Edt_SendData", {110, 365, 341, 20}},
        {"ChkBox_SendData", {10, 365, 96, 17}},  {"Cmd_FileSentaku2", {465, 330, 75, 25}},
        {"Cmd_FileSentaku3", {465, 365, 75, 25}},
    };
    QWidget* previous = nullptr;
    for (const Place& p : places) {
        auto* w = window_->findChild<QWidget*>(QString::fromLatin1(p.name));
        ASSERT_NE(w, nullptr) << p.name;
        EXPECT_EQ(w->geometry(), p.rect) << p.name;
        if (previous) {
            EXPECT_EQ(previous->nextInFocusChain(), w) << p.name;
        }
        previous = w;
    }
    EXPECT_TRUE(button("Cmd_SetteiHozon")->isDefault());
    EXPECT_EQ(button("Cmd_SetteiCancel")->text(), QStringLiteral("キャンセル"));
    EXPECT_EQ(edit("Edt_Port")->toolTip(), QStringLiteral("通常は25のままでＯＫです"));
    auto* example = window_->findChild<QLabel*>(QStringLiteral("Label8"));
    EXPECT_EQ(example->text(), QStringLiteral("例　：　taro@example.jp"));
    EXPECT_EQ(example->pos(), QPoint(370, 140));
    EXPECT_TRUE(example->font().fixedPitch());
}

TEST_F(SettingsWindowTest, FirstStartUsesDefaultsAndWritesOnlyOnSave) {
    EXPECT_TRUE(load());
    EXPECT_EQ(dialogs_.texts(), QStringList{MsgFirstRun});
    // The box says where to go next, and where the guide tells more.
    ASSERT_EQ(dialogs_.nextSteps.size(), 1);
    EXPECT_TRUE(dialogs_.nextSteps[0].contains(QStringLiteral("「環境設定画面表示」")));
    EXPECT_TRUE(dialogs_.nextSteps[0].contains(QStringLiteral("「最初の起動」")));
    EXPECT_EQ(edit("Edt_Host")->text(), QStringLiteral("smtp.○○○.ne.jp"));
    EXPECT_EQ(edit("Edt_Port")->text(), QStringLiteral("25"));
    EXPECT_EQ(edit("Edt_Keisyou")->text(), QStringLiteral("様"));
    EXPECT_EQ(edit("Edt_Address")->text(), qpath("Address.csv"));
    EXPECT_EQ(edit("Edt_Log")->text(), qpath("Log.txt"));
    EXPECT_EQ(edit("Edt_SendData")->text(), qpath("SendData.txt"));
    EXPECT_EQ(settings_.Port, "25");
    EXPECT_EQ(settings_.Log, path("Log.txt"));
    EXPECT_TRUE(dir_.exists(QStringLiteral("Log.txt")));
    EXPECT_TRUE(dir_.exists(QStringLiteral("SendData.txt")));
    EXPECT_TRUE(dir_.read(QStringLiteral("Log.txt")).isEmpty());
    EXPECT_FALSE(dir_.exists(QStringLiteral("Address.csv")));
    EXPECT_FALSE(dir_.exists(QStringLiteral("TSY2.ini")));

    open();
    EXPECT_EQ(QApplication::focusWidget(), button("Cmd_SetteiHozon")); // first in tab order
    QTest::keyClick(edit("Edt_Host"), Qt::Key_Return); // Enter in a field saves
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(main_.isEnabled());
    EXPECT_TRUE(ini().contains("Host=smtp.\x81\x9b\x81\x9b\x81\x9b.ne.jp\r\nPort=25\r\n"));
    EXPECT_TRUE(ini().contains(QByteArray("Keisyou=\x97\x6c\r\n")));
    EXPECT_EQ(dialogs_.texts(), QStringList{MsgFirstRun});
}

TEST_F(SettingsWindowTest, StoredValuesComeBackAndFailedSwitchesAreSavedOff) {
    writeIni(QByteArray("[Settei]\r\nPort=25a\r\nAddress=\r\n"
                        "Syomei=") + path("gone.txt").c_str() + "\r\nChkBox_Syomei=1\r\n"
             "Keisyou=\x93\x61\r\nChkBox_Atesaki=1\r\n"
             "EverySend=me@example.jp\r\nChkBox_EverySend=1\r\n"
             "ChkBox_Log=yes\r\nChkBox_SendData=2\r\n"
             "[Window]\r\nMain_X=$20\r\nMain_Y=-3\r\nSettei_X=40\r\nSettei_Y=50\r\nAddress_X=60\r\nAddress_Y=0x46\r\n");
    load();
    EXPECT_EQ(dialogs_.texts(), (QStringList{MsgPort, QStringLiteral("署名ファイルが存在しません。")}));

    EXPECT_EQ(edit("Edt_Port")->text(), QStringLiteral("25"));
    EXPECT_EQ(settings_.Port, "25");
    EXPECT_EQ(edit("Edt_Address")->text(), QString()); // present but empty: not the default
    EXPECT_EQ(edit("Edt_Syomei")->text(), QString());
    EXPECT_FALSE(box("ChkBox_Syomei")->isChecked());
    EXPECT_EQ(settings_.Syomei, path("gone.txt"));
    EXPECT_TRUE(box("ChkBox_Atesaki")->isChecked());
    EXPECT_EQ(edit("Edt_Keisyou")->text(), QStringLiteral("殿"));
    EXPECT_TRUE(box("ChkBox_EverySend")->isChecked());
    EXPECT_EQ(settings_.EverySend, "me@example.jp");
    EXPECT_FALSE(box("ChkBox_Log")->isChecked());
    EXPECT_TRUE(box("ChkBox_SendData")->isChecked());
    EXPECT_EQ(main_.pos(), QPoint(32, 0)); // three pixels above the screen: moved onto it
    EXPECT_EQ(window_->pos(), QPoint(40, 50));
    EXPECT_EQ(address_.pos(), QPoint(60, 70));

    EXPECT_TRUE(Settings_Save(settings_, start_));
    const QByteArray saved = ini();
    EXPECT_TRUE(saved.contains(QByteArray("Syomei=") + path("gone.txt").c_str() + "\r\nChkBox_Syomei=0\r\n"));
    EXPECT_TRUE(saved.contains("ChkBox_Log=0\r\n"));
    EXPECT_TRUE(saved.contains("ChkBox_SendData=1\r\n"));
    EXPECT_TRUE(saved.contains("Port=25\r\n"));
    EXPECT_TRUE(saved.contains("Main_X=32\r\n"));
}

TEST_F(SettingsWindowTest, EmptyLogAndSendDataPathsCreateNothing) {
    writeIni("[Settei]\r\nLog=\r\nChkBox_Log=1\r\nSendData=\r\nChkBox_SendData=0\r\n");
    load();
    EXPECT_EQ(dialogs_.texts(), QStringList{QStringLiteral("ＬＯＧファイルが存在しません。")});
    EXPECT_FALSE(box("ChkBox_Log")->isChecked());
    EXPECT_FALSE(settings_.ChkBox_Log);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("TSY2.ini")});
}

TEST_F(SettingsWindowTest, ALogFileThatCannotBeCreatedStopsTheLoadThere) {
    writeIni(QByteArray("[Settei]\r\nLog=") + path("missing/Log.txt").c_str() +
             "\r\nChkBox_Log=1\r\nChkBox_SendData=1\r\n[Window]\r\nSettei_X=70\r\n");
    open();
    try {
        load();
        FAIL() << "no error";
    } catch (const tessaly::FileError& e) {
        EXPECT_EQ(std::string(e.what()), path("missing/Log.txt") + " を作成できません");
    }
    EXPECT_FALSE(settings_.ChkBox_Log);
    EXPECT_FALSE(box("ChkBox_SendData")->isChecked());
    EXPECT_NE(window_->pos(), QPoint(70, 0));

    // From Cancel the error is shown and the window stays open.
    button("Cmd_SetteiCancel")->click();
    EXPECT_EQ(dialogs_.texts(FakeDialogs::Kind::Error),
              QStringList{QString::fromStdString(path("missing/Log.txt")) + QStringLiteral(" を作成できません")});
    EXPECT_TRUE(window_->isVisible());
    EXPECT_FALSE(main_.isEnabled());
}

TEST_F(SettingsWindowTest, PortFieldKeepsOnlyDigits) {
    load();
    open();
    QLineEdit* port = edit("Edt_Port");
    struct Case {
        const char* typed;
        bool paste;
        const char* shown;
        int messages;
    };
    const Case cases[] = {
        {"25a", false, "25", 1}, // typed key by key: only the "a" is refused
        {"a25", true, "", 1},
        {"2a5", true, "2", 1},
        {"a2b5", true, "", 1},   // cut before "b", then "a2" once more: one edit, one message
        {"8080", true, "8080", 0},
    };
    for (const Case& c : cases) {
        port->clear();
        dialogs_.clear();
        if (c.paste) {
            QApplication::clipboard()->setText(QString::fromLatin1(c.typed));
            port->setFocus();
            QTest::keyClick(port, Qt::Key_V, Qt::ControlModifier);
        } else {
            QTest::keyClicks(port, QString::fromLatin1(c.typed));
        }
        EXPECT_EQ(port->text(), QString::fromLatin1(c.shown)) << c.typed;
        EXPECT_EQ(settings_.Port, c.shown) << c.typed;
        EXPECT_EQ(dialogs_.texts(), QStringList(c.messages, MsgPort)) << c.typed;
    }
}

TEST_F(SettingsWindowTest, AStoredPortWithNonDigitsIsToldOncePerLoad) {
    const std::pair<const char*, const char*> stored[] = {
        {"abc", ""}, {"\x82\x51\x82\x54" /* ２５ */, ""}, {"abcdefghijklmnopqrst", ""}, {"8a0b8c", "8"}};
    for (const auto& [port, kept] : stored) {
        writeIni(QByteArray("[Settei]\r\nPort=") + port + "\r\n");
        window_->assignText(edit("Edt_Port"), "25");
        dialogs_.clear();
        load();
        EXPECT_EQ(dialogs_.texts(), QStringList{MsgPort}) << port;
        EXPECT_EQ(settings_.Port, kept) << port;
    }
}

TEST_F(SettingsWindowTest, SwitchesRefuseWhatCannotWork) {
    load();
    dialogs_.clear();
    struct Case {
        const char* box;
        const char* edit;
        QString text;
        QString message;
        QString left; // what the field shows afterwards
    };
    const Case cases[] = {
        {"ChkBox_Log", "Edt_Log", qpath("none.txt"), QStringLiteral("ＬＯＧファイルが存在しません。"), qpath("none.txt")},
        {"ChkBox_SendData", "Edt_SendData", qpath("none.txt"), QStringLiteral("送信データ保存ファイルが存在しません。"),
         qpath("none.txt")},
        {"ChkBox_Syomei", "Edt_Syomei", qpath("none.txt"), QStringLiteral("署名ファイルが存在しません。"), QString()},
        {"ChkBox_Atesaki", "Edt_Keisyou", QString(), QStringLiteral("敬称が未入力です。"), QString()},
        {"ChkBox_EverySend", "Edt_EverySend", QString(), QStringLiteral("毎回通知先が未入力です。"), QString()},
    };
    for (const Case& c : cases) {
        edit(c.edit)->setText(c.text);
        dialogs_.clear();
        box(c.box)->click();
        EXPECT_EQ(dialogs_.texts(), QStringList{c.message}) << c.box;
        EXPECT_FALSE(box(c.box)->isChecked()) << c.box;
        EXPECT_EQ(edit(c.edit)->text(), c.left) << c.box;
    }
    EXPECT_FALSE(settings_.ChkBox_Log || settings_.ChkBox_SendData || settings_.ChkBox_Syomei ||
                 settings_.ChkBox_Atesaki || settings_.ChkBox_EverySend);
}

TEST_F(SettingsWindowTest, EditingAnOptionTextTurnsItsSwitchOffAndSaveKeepsTheOldPath) {
    load();
    open();
    dialogs_.clear();
    box("ChkBox_Log")->click();
    ASSERT_TRUE(box("ChkBox_Log")->isChecked());
    ASSERT_TRUE(settings_.ChkBox_Log);

    edit("Edt_Log")->setFocus();
    QTest::keyClick(edit("Edt_Log"), Qt::Key_Backspace);
    EXPECT_FALSE(box("ChkBox_Log")->isChecked());
    EXPECT_FALSE(settings_.ChkBox_Log);
    EXPECT_EQ(settings_.Log, path("Log.txt"));

    // A file chosen with the button is not taken until the switch is on again; the shared
    // dialog offers the last chosen name next time.
    dir_.write(QStringLiteral("sig.txt"), "--");
    dialogs_.queueFileName(qpath("sig.txt"));
    button("Cmd_FileSentaku")->click();
    EXPECT_EQ(edit("Edt_Syomei")->text(), qpath("sig.txt"));
    EXPECT_EQ(settings_.Syomei, "");
    dialogs_.queueFileName(QString()); // cancelled: nothing changes
    button("Cmd_FileSentaku3")->click();
    EXPECT_EQ(dialogs_.last(FakeDialogs::Kind::OpenFile).options.fileName, qpath("sig.txt"));
    EXPECT_EQ(edit("Edt_SendData")->text(), qpath("SendData.txt"));
    box("ChkBox_Syomei")->click();
    EXPECT_EQ(settings_.Syomei, path("sig.txt"));

    button("Cmd_SetteiHozon")->click();
    EXPECT_TRUE(ini().contains(QByteArray("ChkBox_Log=0\r\nLog=") + path("Log.txt").c_str() + "\r\n"));
    EXPECT_TRUE(ini().contains(QByteArray("Syomei=") + path("sig.txt").c_str() + "\r\nChkBox_Syomei=1\r\n"));
    EXPECT_EQ(dialogs_.texts(), QStringList());
}

TEST_F(SettingsWindowTest, EachFileButtonFillsItsOwnField) {
    load();
    const std::pair<const char*, const char*> buttons[] = {{"Cmd_FileSentaku", "Edt_Syomei"},
                                                           {"Cmd_FileSentaku1", "Edt_Address"},
                                                           {"Cmd_FileSentaku2", "Edt_Log"},
                                                           {"Cmd_FileSentaku3", "Edt_SendData"}};
    for (const auto& [name, field] : buttons) {
        const QString chosen = qpath(name);
        dialogs_.queueFileName(chosen);
        button(name)->click();
        EXPECT_EQ(edit(field)->text(), chosen) << name;
    }
    EXPECT_EQ(settings_.Address, path("Cmd_FileSentaku1")); // a plain field: taken at once
    EXPECT_EQ(settings_.Log, path("Log.txt"));             // an option: only through its switch
}

TEST_F(SettingsWindowTest, CancelRestoresControlsAndWindowPositions) {
    writeIni("[Settei]\r\nHost=mail.example.jp\r\nChkBox_SendData=1\r\n"
             "[Window]\r\nMain_X=100\r\nMain_Y=110\r\nSettei_X=120\r\nSettei_Y=130\r\n");
    load();
    open();
    main_.move(300, 300);
    address_.move(5, 5);
    edit("Edt_Host")->setText(QStringLiteral("changed.example.jp"));
    edit("Edt_UserMei")->setText(QStringLiteral("山田太郎"));
    edit("Edt_SendData")->setText(qpath("Log.txt")); // turns the switch off
    ASSERT_FALSE(box("ChkBox_SendData")->isChecked());
    edit("Edt_Port")->setText(QStringLiteral("587"));
    box("ChkBox_Log")->click(); // on in the window, off in the file
    ASSERT_TRUE(settings_.ChkBox_Log);
    window_->move(200, 200);

    QTest::keyClick(edit("Edt_UserMei"), Qt::Key_Escape);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_TRUE(main_.isEnabled());
    EXPECT_EQ(edit("Edt_Host")->text(), QStringLiteral("mail.example.jp"));
    EXPECT_EQ(settings_.Host, "mail.example.jp");
    EXPECT_EQ(edit("Edt_UserMei")->text(), QString());
    EXPECT_EQ(edit("Edt_SendData")->text(), qpath("SendData.txt"));
    EXPECT_TRUE(box("ChkBox_SendData")->isChecked());
    EXPECT_EQ(edit("Edt_Port")->text(), QStringLiteral("25"));
    EXPECT_EQ(settings_.Port, "25");
    EXPECT_FALSE(box("ChkBox_Log")->isChecked());
    EXPECT_FALSE(settings_.ChkBox_Log);
    EXPECT_EQ(main_.pos(), QPoint(100, 110));
    EXPECT_EQ(address_.pos(), QPoint(0, 0));
    EXPECT_EQ(settings_.Settei_X, 120);
    EXPECT_EQ(settings_.Settei_Y, 130);
}

TEST_F(SettingsWindowTest, AFailedSaveIsShownAndTheWindowStaysOpen) {
    ASSERT_TRUE(QDir(dir_.path()).mkdir(QStringLiteral("TSY2.ini")));
    load();
    open();
    dialogs_.clear();
    button("Cmd_SetteiHozon")->click();
    EXPECT_EQ(dialogs_.texts(FakeDialogs::Kind::Error),
              QStringList{QString::fromStdString(path("TSY2.ini")) + QStringLiteral(" に書き込めません")});
    EXPECT_TRUE(window_->isVisible());
    EXPECT_FALSE(main_.isEnabled());
}

TEST_F(SettingsWindowTest, ShiftJisValuesRoundTripByteForByte) {
    // NEC and IBM codes of the same character, half-width kana, a wave dash and a full-width
    // tilde: each must come back as the very bytes that were stored.
    const QByteArray file = QByteArray("[Settei]\r\nHost=smtp.example.jp\r\nPort=25\r\nUser=taro\r\nFrom=taro@example.jp\r\n"
                                       "Reply=taro@example.jp\r\nUserMei=\xED\x40\xFA\x5C\xB1\xB2\x81\x60\x8E\x52\r\n"
                                       "Syomei=\r\nChkBox_Syomei=0\r\nChkBox_Atesaki=1\r\nKeisyou=\x8C\x4E\r\n"
                                       "ChkBox_EverySend=0\r\nEverySend=\r\nAddress=") +
                             path("Address.csv").c_str() + "\r\nChkBox_Log=1\r\nLog=" + path("Log.txt").c_str() +
                             "\r\nChkBox_SendData=0\r\nSendData=" + path("SendData.txt").c_str() +
                             "\r\n[Window]\r\nMain_X=1\r\nMain_Y=2\r\nSettei_X=3\r\nSettei_Y=4\r\nAddress_X=5\r\nAddress_Y=6\r\n";
    writeIni(file);
    load();
    EXPECT_EQ(dialogs_.texts(), QStringList());
    EXPECT_EQ(window_->userMeiSjis(), "\xED\x40\xFA\x5C\xB1\xB2\x81\x60\x8E\x52");
    open();
    button("Cmd_SetteiHozon")->click();
    EXPECT_EQ(ini(), file);
}

TEST_F(SettingsWindowTest, RefusesCharactersThatCannotBeStored) {
    load();
    open();
    dialogs_.clear();
    QLineEdit* name = edit("Edt_UserMei");
    name->setFocus();
    name->insert(QStringLiteral("山田")); // as an input method commits it
    name->insert(QStringLiteral("☃"));
    EXPECT_EQ(name->text(), QStringLiteral("山田"));
    EXPECT_EQ(window_->userMeiSjis(), "\x8E\x52\x93\x63");
    EXPECT_EQ(settings_.UserMei, "\x8E\x52\x93\x63");
    ASSERT_EQ(dialogs_.texts().size(), 1);
    EXPECT_TRUE(dialogs_.texts().front().contains(QStringLiteral("U+2603"))) << dialogs_.texts().front().toStdString();
    EXPECT_TRUE(dialogs_.texts().front().contains(QStringLiteral("発信者名")));
}

TEST_F(SettingsWindowTest, AddressFieldsAreCheckedWhenTheFocusLeaves) {
    load();
    open();
    dialogs_.clear();
    QLineEdit* from = edit("Edt_EMail");
    from->setFocus();
    QTest::keyClick(from, Qt::Key_Tab);
    EXPECT_EQ(dialogs_.texts(), QStringList{QStringLiteral("発信者ドレスに間違いがあります。")});
    EXPECT_EQ(QApplication::focusWidget(), from);

    dialogs_.clear();
    QTest::keyClicks(from, QStringLiteral("taro@example.jp"));
    QTest::keyClick(from, Qt::Key_Tab);
    EXPECT_EQ(dialogs_.texts(), QStringList());
    EXPECT_NE(QApplication::focusWidget(), from);

    QLineEdit* reply = edit("Edt_Reply");
    reply->setFocus();
    QTest::keyClicks(reply, QStringLiteral("taro@@example.jp"));
    edit("Edt_Host")->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(dialogs_.texts(), QStringList{QStringLiteral("返信ドレスに間違いがあります。")});
    EXPECT_EQ(QApplication::focusWidget(), reply);
    EXPECT_EQ(settings_.Reply, "taro@@example.jp"); // taken all the same
}

TEST_F(SettingsWindowTest, EnterOrEscapeInAnEmptyAddressFieldEndsTheWindowWithoutTheAddressMessage) {
    load();
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        open();
        dialogs_.clear();
        edit("Edt_EMail")->setFocus();
        QTest::keyClick(edit("Edt_EMail"), key);
        EXPECT_FALSE(window_->isVisible()) << key;
        EXPECT_TRUE(main_.isEnabled()) << key;
        EXPECT_EQ(dialogs_.texts(), QStringList()) << key;
    }
}

TEST_F(SettingsWindowTest, CancelWithoutASavedFileStartsOverFromTheDefaults) {
    load();
    open();
    QFile::remove(qpath("Log.txt"));
    edit("Edt_Keisyou")->setText(QStringLiteral("殿"));
    dialogs_.clear();
    button("Cmd_SetteiCancel")->click();
    EXPECT_EQ(dialogs_.texts(), QStringList{MsgFirstRun});
    EXPECT_EQ(edit("Edt_Keisyou")->text(), QStringLiteral("様"));
    EXPECT_TRUE(dir_.exists(QStringLiteral("Log.txt")));
    EXPECT_FALSE(dir_.exists(QStringLiteral("TSY2.ini")));
    EXPECT_FALSE(window_->isVisible());
}

TEST_F(SettingsWindowTest, OthersClearTheSignatureAndTheLog) {
    dir_.write(QStringLiteral("sig.txt"), "--");
    writeIni(QByteArray("[Settei]\r\nSyomei=") + path("sig.txt").c_str() + "\r\nChkBox_Syomei=1\r\nChkBox_Log=1\r\n");
    load();
    ASSERT_TRUE(window_->syomeiOn());
    ASSERT_TRUE(window_->logOn());

    window_->clearSignature();
    EXPECT_FALSE(window_->syomeiOn());
    EXPECT_EQ(window_->syomeiPathSjis(), "");
    EXPECT_EQ(settings_.Syomei, "");
    EXPECT_FALSE(settings_.ChkBox_Syomei);

    window_->clearLog();
    EXPECT_FALSE(window_->logOn());
    EXPECT_EQ(window_->logPathSjis(), "");
    EXPECT_EQ(settings_.Log, "");
    EXPECT_FALSE(settings_.ChkBox_Log);
}

} // namespace
