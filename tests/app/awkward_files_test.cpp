// The whole program against files and folders a user may leave behind: a TSY2.ini that cannot be
// written, a path into a missing folder, files that are pipes or devices or far too large, files
// that cannot be opened just now, windows stored off the screen. Nothing may trap the user, block
// the program or lose a setting; the files are checked byte for byte afterwards.
#include "app_harness.h"

#include "address/address_window.h"
#include "common/window_place.h"
#include "fixtures/file_size_limit.h"
#include "fixtures/no_free_descriptors.h"
#include "fixtures/permission_checks.h"
#include "log/log_window.h"
#include "settings/settings_window.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>

#include <memory>
#include <sys/stat.h>

namespace {

using apptest::App;
using Kind = FakeDialogs::Kind;

// TSY2.ini as the program writes it, every key in its order.
QByteArray settingsFile(const QString& log, const QString& sendData, const QByteArray& window) {
    return "[Settei]\r\nHost=mail.example.jp\r\nPort=25\r\nUser=taro\r\nFrom=taro@example.jp\r\n"
           "Reply=taro@example.jp\r\nUserMei=Taro\r\nSyomei=\r\nChkBox_Syomei=0\r\nChkBox_Atesaki="
           "0\r\n"
           "Keisyou=\x97\x6c\r\nChkBox_EverySend=0\r\nEverySend=\r\nAddress=\r\nChkBox_Log="
           "1\r\nLog=" +
           log.toUtf8() + "\r\nChkBox_SendData=1\r\nSendData=" + sendData.toUtf8() +
           "\r\n[Window]\r\n" + window;
}

const QByteArray kStoredWindows =
    "Main_X=200\r\nMain_Y=90\r\nSettei_X=30\r\nSettei_Y=20\r\nAddress_X=120\r\nAddress_Y=60\r\n";

void makeFifo(const TempStartDir& dir, const QString& name) {
    ASSERT_EQ(::mkfifo(dir.filePathBytes(name).c_str(), 0600), 0);
}

bool isFifo(const TempStartDir& dir, const QString& name) {
    struct stat st {};
    return ::stat(dir.filePathBytes(name).c_str(), &st) == 0 && S_ISFIFO(st.st_mode);
}

// ---- Closing when TSY2.ini cannot be written ----

// (A TSY2.ini that cannot even be read is never written: see StartingWithUnreadableSettings.)
enum class Unwritable { ReadOnly, DiskFull };

std::string unwritableName(const ::testing::TestParamInfo<Unwritable>& info) {
    switch (info.param) {
    case Unwritable::ReadOnly:
        return "ReadOnly";
    case Unwritable::DiskFull:
        return "DiskFull";
    }
    return "?";
}

class ClosingWithUnwritableSettings : public ::testing::TestWithParam<Unwritable> {};

TEST_P(ClosingWithUnwritableSettings, TheSecondFailedCloseOffersToEndWithoutSaving) {
    const Unwritable kind = GetParam();
    QByteArray original;
    App app([&](TempStartDir& dir) {
        original = settingsFile(dir.filePath(QStringLiteral("Log.txt")),
                                dir.filePath(QStringLiteral("SendData.txt")), kStoredWindows);
        dir.write(QStringLiteral("TSY2.ini"), original);
        if (kind == Unwritable::ReadOnly) {
            EXPECT_TRUE(
                QFile::setPermissions(dir.filePath(QStringLiteral("TSY2.ini")),
                                      QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
        }
        return original;
    });
    std::unique_ptr<FileSizeLimit> fullDisk;
    if (kind == Unwritable::DiskFull)
        fullDisk = std::make_unique<FileSizeLimit>(16);
    app.main().move(250, 100); // a position the close would store
    app.dialogs.clear();
    const QString failure =
        app.dir.filePath(QStringLiteral("TSY2.ini")) + QStringLiteral(" に書き込めません");
    const QString question = QStringLiteral("設定を保存できませんでした。保存せずに終了しますか？");

    // The first failure keeps the program open, so that the file can be made writable.
    app.tool("TB_End")->click();
    EXPECT_TRUE(app.main().isVisible());
    EXPECT_EQ(app.dialogs.texts(), QStringList{failure});

    // From the second on, the user may end without saving; いいえ keeps the program open.
    app.dialogs.clear();
    app.dialogs.queueAnswer(false);
    app.main().close();
    EXPECT_TRUE(app.main().isVisible());
    EXPECT_EQ(app.dialogs.texts(), (QStringList{failure, question}));
    EXPECT_TRUE(app.dialogs.last(Kind::Question).defaultNo) << "Enter keeps the settings";

    app.dialogs.clear();
    app.dialogs.queueAnswer(true);
    app.tool("TB_End")->click();
    EXPECT_FALSE(app.main().isVisible());
    EXPECT_EQ(app.dialogs.texts(), (QStringList{failure, question}));
    fullDisk.reset();

    EXPECT_EQ(app.dir.read(QStringLiteral("TSY2.ini")), original);
    EXPECT_EQ(
        QDir(app.dir.path()).entryList({QStringLiteral(".tessaly-*")}, QDir::Files | QDir::Hidden),
        QStringList());
}

INSTANTIATE_TEST_SUITE_P(Kinds, ClosingWithUnwritableSettings,
                         ::testing::Values(Unwritable::ReadOnly, Unwritable::DiskFull),
                         unwritableName);

// ---- Starting when TSY2.ini cannot be read ----

enum class Unreadable { NoPermission, Pipe, Folder };

std::string unreadableName(const ::testing::TestParamInfo<Unreadable>& info) {
    switch (info.param) {
    case Unreadable::NoPermission:
        return "NoPermission";
    case Unreadable::Pipe:
        return "Pipe";
    case Unreadable::Folder:
        return "Folder";
    }
    return "?";
}

class StartingWithUnreadableSettings : public ::testing::TestWithParam<Unreadable> {};

// The program starts on the defaults, which are not the user's settings: it says so once, and
// no close writes them over the file, not even once the file can be read again.
TEST_P(StartingWithUnreadableSettings, SaysSoOnceAndNeverWritesTheDefaultsOverIt) {
    const Unreadable kind = GetParam();
    QByteArray original;
    std::unique_ptr<PermissionChecks> checks;
    App app([&](TempStartDir& dir) {
        original = settingsFile(dir.filePath(QStringLiteral("Log.txt")),
                                dir.filePath(QStringLiteral("SendData.txt")), kStoredWindows);
        switch (kind) {
        case Unreadable::NoPermission:
            dir.write(QStringLiteral("TSY2.ini"), original);
            EXPECT_TRUE(QFile::setPermissions(dir.filePath(QStringLiteral("TSY2.ini")), {}));
            checks = std::make_unique<PermissionChecks>();
            break;
        case Unreadable::Pipe:
            makeFifo(dir, QStringLiteral("TSY2.ini"));
            break;
        case Unreadable::Folder:
            EXPECT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("TSY2.ini")));
            break;
        }
        return QByteArray();
    });
    const QStringList told = {QStringLiteral("設定ファイル ") + app.dir.filePath(QStringLiteral("TSY2.ini")) +
                              QStringLiteral(" を読み込めませんでした。\r\n"
                                             "今回は初期設定で起動します。終了するときも、このファイルには書き込みません。\r\n"
                                             "ファイルを読み込めるようにしてから、Tessaly を起動し直してください。")};
    EXPECT_EQ(app.dialogs.texts(), told);
    TTSY_SetteiF& settei = app.program->settingsWindow();
    EXPECT_EQ(settei.Edt_Host->text(), QStringLiteral("smtp.○○○.ne.jp"));

    // Cancel in the settings window loads the file again: it is not said a second time.
    app.tool("TB_Settei")->click();
    settei.Cmd_SetteiCancel->click();
    EXPECT_EQ(app.dialogs.texts(), told);

    // Readable again by now, but what the program holds is still the defaults.
    checks.reset();
    app.main().move(250, 100);
    app.tool("TB_End")->click();
    EXPECT_FALSE(app.main().isVisible());
    EXPECT_EQ(app.dialogs.texts(), told);
    switch (kind) {
    case Unreadable::NoPermission:
        EXPECT_EQ(app.dir.read(QStringLiteral("TSY2.ini")), original);
        break;
    case Unreadable::Pipe:
        EXPECT_TRUE(isFifo(app.dir, QStringLiteral("TSY2.ini")));
        break;
    case Unreadable::Folder:
        EXPECT_TRUE(QFileInfo(app.dir.filePath(QStringLiteral("TSY2.ini"))).isDir());
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, StartingWithUnreadableSettings,
                         ::testing::Values(Unreadable::NoPermission, Unreadable::Pipe,
                                           Unreadable::Folder),
                         unreadableName);

// ---- An address book saved as UTF-8 by another program ----

TEST(Utf8AddressBook, IsRewrittenInShiftJisOnlyAfterYes) {
    const QByteArray utf8Book = "\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\n"
                                "\"営業部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\n"
                                "\"営業部\",\"第一課\",\"髙橋 一郎\",\"ichiro@example.jp\",\"0\"\n";
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "yes" : "no");
        App app([&](TempStartDir& dir, FakeDialogs& dialogs) {
            dir.write(QStringLiteral("Address.csv"), utf8Book);
            dialogs.queueAnswer(yes);
            return settingsFile(dir.filePath(QStringLiteral("Log.txt")),
                                dir.filePath(QStringLiteral("SendData.txt")), kStoredWindows)
                .replace("Address=\r\n", "Address=" + dir.filePath(QStringLiteral("Address.csv")).toUtf8() + "\r\n");
        });
        // Asked once, with いいえ as the default: はい rewrites the file.
        ASSERT_EQ(app.dialogs.count(Kind::Question), 1);
        const FakeDialogs::Call asked = app.dialogs.last(Kind::Question);
        EXPECT_EQ(asked.title, QStringLiteral("アドレス帳の文字コード"));
        EXPECT_TRUE(asked.defaultNo);
        EXPECT_EQ(asked.text, QStringLiteral("アドレス帳ファイル：") + app.dir.filePath(QStringLiteral("Address.csv")) +
                                  QStringLiteral("\r\nは UTF-8 で書かれているようです（例：「営業部」）。\r\n"
                                                 "UTF-8 として読み込み、Shift-JIS で保存し直しますか？\r\n"
                                                 "元のファイルは Address.csv.bak として残します。\r\n"
                                                 "「いいえ」のときは、ファイルをそのまま読み込みます。"));
        EXPECT_EQ(app.dialogs.texts(), QStringList{asked.text});

        app.typeRecipient(QStringLiteral("髙橋"));
        if (yes) {
            EXPECT_EQ(app.recipientTexts(), QStringList{QStringLiteral("髙橋 一郎 <ichiro@example.jp>")});
            EXPECT_EQ(app.dir.read(QStringLiteral("Address.csv.bak")), utf8Book);
            EXPECT_EQ(tessaly::fromSjis(app.dir.read(QStringLiteral("Address.csv"))), QString::fromUtf8(utf8Book));
        } else {
            // Read as it stands, garbled; nothing written.
            EXPECT_TRUE(app.recipientTexts().isEmpty());
            EXPECT_EQ(app.dialogs.lastText(), QStringLiteral("アドレス入力に誤りがあります。"));
            EXPECT_EQ(app.dir.read(QStringLiteral("Address.csv")), utf8Book);
            EXPECT_FALSE(app.dir.exists(QStringLiteral("Address.csv.bak")));
        }
    }
}

// ---- A load that stops early ----

TEST(StoppedLoad, KeysTheLoadNeverReachedAreKeptUnlessTheUserSetsThem) {
    QByteArray original;
    QString sendData;
    App app([&](TempStartDir& dir) {
        sendData = dir.filePath(QStringLiteral("Sent.txt"));
        dir.write(QStringLiteral("Sent.txt"), {});
        dir.write(QStringLiteral("New.txt"), {});
        original =
            settingsFile(dir.filePath(QStringLiteral("missing/Log.txt")), sendData, kStoredWindows);
        return original;
    });
    ASSERT_EQ(app.dialogs.texts(Kind::Error),
              QStringList{app.dir.filePath(QStringLiteral("missing/Log.txt")) +
                          QStringLiteral(" を作成できません")});
    // As before: the load stopped at the log, the later switches stayed off.
    TTSY_SetteiF& settei = app.program->settingsWindow();
    EXPECT_FALSE(settei.ChkBox_SendData->isChecked());

    // What the user sets after it is saved, even for a key the load never reached...
    const QString newSendData = app.dir.filePath(QStringLiteral("New.txt"));
    app.tool("TB_Settei")->click();
    settei.Edt_SendData->setText(newSendData);
    settei.ChkBox_SendData->setChecked(true);
    settei.Cmd_SetteiHozon->click();
    QByteArray expected = original;
    expected.replace("SendData=" + sendData.toUtf8(), "SendData=" + newSendData.toUtf8());
    EXPECT_EQ(app.dir.read(QStringLiteral("TSY2.ini")), expected);

    // ... and every other key it never reached is written back as it was read, positions too.
    app.main().move(300, 150);
    app.tool("TB_End")->click();
    EXPECT_FALSE(app.main().isVisible());
    EXPECT_EQ(app.dir.read(QStringLiteral("TSY2.ini")), expected);
}

// ---- Files that cannot be opened just now ----

TEST(TemporaryReadFailure, TurnsTheFeatureOffForThisSessionAndKeepsThePath) {
    QByteArray original;
    App app([&](TempStartDir& dir) {
        original = settingsFile(
            dir.filePath(QStringLiteral("Log.txt")), dir.filePath(QStringLiteral("SendData.txt")),
            "Main_X=30\r\nMain_Y=40\r\nSettei_X=0\r\nSettei_Y=0\r\nAddress_X=0\r\nAddress_Y=0\r\n");
        original.replace("Address=\r\n",
                         "Address=" + dir.filePath(QStringLiteral("Address.csv")).toUtf8() +
                             "\r\n");
        dir.write(QStringLiteral("Log.txt"), {});
        dir.write(QStringLiteral("SendData.txt"), {});
        dir.write(QStringLiteral("Address.csv"), apptest::sampleAddressBook());
        return original;
    });
    TTSY_AddressF& address = app.program->addressWindow();
    TTSY_LogF& log = app.program->logWindow();
    // Shown once before, so that nothing but the file needs opening while descriptors are out.
    app.tool("TB_Address")->click();
    address.Cmd_Close->click();
    app.tool("TB_Log_Disp")->click();
    log.BitBtn1->click();
    ASSERT_TRUE(app.dialogs.calls.empty());

    const QString thisSession =
        QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\n今回は%1を無効にします。\r\n"
                       "ファイルを確認してから Tessaly を起動し直すと、もう一度読み込みます。");
    {
        const NoFreeDescriptors busy;
        app.tool("TB_Address")->click();
    }
    address.Cmd_Close->click();
    {
        const NoFreeDescriptors busy;
        app.tool("TB_Log_Disp")->click();
    }
    log.BitBtn1->click();
    EXPECT_EQ(app.dialogs.texts(),
              (QStringList{app.dir.filePath(QStringLiteral("Address.csv")) +
                               thisSession.arg(QStringLiteral("アドレス帳")),
                           app.dir.filePath(QStringLiteral("Log.txt")) +
                               thisSession.arg(QStringLiteral("ログファイル"))}));
    // Off for this session, as before.
    TTSY_SetteiF& settei = app.program->settingsWindow();
    EXPECT_TRUE(settei.Edt_Address->text().isEmpty());
    EXPECT_TRUE(settei.Edt_Log->text().isEmpty());
    EXPECT_FALSE(settei.logOn());

    // The next start finds the paths and the log switch as the user set them.
    app.tool("TB_End")->click();
    EXPECT_EQ(app.dir.read(QStringLiteral("TSY2.ini")), original);
}

// ---- Files that are no regular files, or far too large ----

struct AwkwardFile {
    const char* name;
    // Lays out the file, gives the TSY2.ini lines that point at it (key, value).
    std::function<apptest::IniValues(TempStartDir&)> prepare;
    // The command that reads it after the start (none: the start reads it).
    const char* command;
    QString bodyFile; // the file the command's file dialog gives
    std::function<QString(const TempStartDir&)> message;
    Kind kind;
};

const QString kNotRegular =
    QStringLiteral("ファイル %1 は通常のファイルではないため、読み込みに失敗しました。\r\n"
                   "別のファイルを指定してください。");
const QString kTooLarge =
    QStringLiteral("ファイル %1 は 1MB を超えているため、読み込みに失敗しました。\r\n"
                   "1MB 以下のファイルを指定してください。");

class AwkwardFiles : public ::testing::TestWithParam<AwkwardFile> {};

TEST_P(AwkwardFiles, AreRefusedWithAMessageWithoutBlocking) {
    const AwkwardFile& c = GetParam();
    App app([&](TempStartDir& dir) {
        return TestIni(c.prepare(dir))
            .window(QStringLiteral("Main_X"), QStringLiteral("30"))
            .window(QStringLiteral("Main_Y"), QStringLiteral("40"))
            .bytes();
    });
    if (c.command) {
        app.setBody(QStringLiteral("書きかけの本文"));
        if (!c.bodyFile.isEmpty())
            app.dialogs.queueFileName(app.dir.filePath(c.bodyFile));
        app.tool(c.command)->click();
        if (!c.bodyFile.isEmpty()) {
            EXPECT_EQ(app.body()->toPlainText(), QStringLiteral("書きかけの本文"));
        }
    }
    const QStringList shown = app.dialogs.texts();
    EXPECT_EQ(shown, QStringList{c.message(app.dir)});
    EXPECT_EQ(app.dialogs.last(c.kind).text, c.message(app.dir));
    EXPECT_FALSE(shown.join(QString()).contains(QStringLiteral("std::")));
}

apptest::IniValues signature(const QString& path) {
    return {{QStringLiteral("Syomei"), path},
            {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")}};
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AwkwardFiles,
    ::testing::Values(
        AwkwardFile{
            "SignatureDevice",
            [](TempStartDir&) { return signature(QStringLiteral("/dev/zero")); },
            nullptr,
            {},
            [](const TempStartDir&) { return kNotRegular.arg(QStringLiteral("/dev/zero")); },
            Kind::Error},
        AwkwardFile{"SignaturePipe",
                    [](TempStartDir& dir) {
                        makeFifo(dir, QStringLiteral("sig.txt"));
                        return signature(dir.filePath(QStringLiteral("sig.txt")));
                    },
                    nullptr,
                    {},
                    [](const TempStartDir& dir) {
                        return kNotRegular.arg(dir.filePath(QStringLiteral("sig.txt")));
                    },
                    Kind::Error},
        AwkwardFile{"SignatureTooLarge",
                    [](TempStartDir& dir) {
                        dir.write(QStringLiteral("sig.txt"), QByteArray(1024 * 1024 + 1, 'a'));
                        return signature(dir.filePath(QStringLiteral("sig.txt")));
                    },
                    nullptr,
                    {},
                    [](const TempStartDir& dir) {
                        return kTooLarge.arg(dir.filePath(QStringLiteral("sig.txt")));
                    },
                    Kind::Error},
        AwkwardFile{"BodyPipe",
                    [](TempStartDir& dir) {
                        makeFifo(dir, QStringLiteral("body.txt"));
                        return apptest::IniValues{};
                    },
                    "TB_Read", QStringLiteral("body.txt"),
                    [](const TempStartDir& dir) {
                        return kNotRegular.arg(dir.filePath(QStringLiteral("body.txt")));
                    },
                    Kind::Error},
        AwkwardFile{"BodyTooLarge",
                    [](TempStartDir& dir) {
                        dir.write(QStringLiteral("body.txt"), QByteArray(2 * 1024 * 1024, '\n'));
                        return apptest::IniValues{};
                    },
                    "TB_Read", QStringLiteral("body.txt"),
                    [](const TempStartDir& dir) {
                        return kTooLarge.arg(dir.filePath(QStringLiteral("body.txt")));
                    },
                    Kind::Error},
        AwkwardFile{"BodySavedIntoPipe",
                    [](TempStartDir& dir) {
                        makeFifo(dir, QStringLiteral("body.txt"));
                        return apptest::IniValues{};
                    },
                    "TB_Save", QStringLiteral("body.txt"),
                    [](const TempStartDir& dir) {
                        return QStringLiteral("ファイル %1 に書き込めません")
                            .arg(dir.filePath(QStringLiteral("body.txt")));
                    },
                    Kind::Error},
        AwkwardFile{
            "AddressBookPipe",
            [](TempStartDir& dir) {
                makeFifo(dir, QStringLiteral("Address.csv"));
                return apptest::IniValues{};
            },
            nullptr,
            {},
            [](const TempStartDir& dir) {
                return dir.filePath(QStringLiteral("Address.csv")) +
                       QStringLiteral(
                           "ファイルの\r\n読み込みに失敗しました。\r\nアドレス帳を無効にします。");
            },
            Kind::Message},
        AwkwardFile{"LogPipe",
                    [](TempStartDir& dir) {
                        makeFifo(dir, QStringLiteral("Log.txt"));
                        return apptest::IniValues{};
                    },
                    "TB_Log_Disp",
                    {},
                    [](const TempStartDir& dir) {
                        return dir.filePath(QStringLiteral("Log.txt")) +
                               QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\nログファイ"
                                              "ルを無効にします。");
                    },
                    Kind::Message}),
    [](const ::testing::TestParamInfo<AwkwardFile>& info) { return std::string(info.param.name); });

// ---- Windows stored off the screen ----

TEST(WindowsOffScreen, ComeBackWhollyOnTheScreenAndThatPlaceIsSaved) {
    App app([](TempStartDir&) {
        return QByteArray(
            "[Settei]\r\n[Window]\r\nMain_X=5000\r\nMain_Y=40\r\nSettei_X=-3000\r\nSettei_Y=100\r\n"
            "Address_X=5000\r\nAddress_Y=-5000\r\n");
    });
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    TTSY_MainF& main = app.main();
    TTSY_SetteiF& settei = app.program->settingsWindow();
    TTSY_AddressF& address = app.program->addressWindow();
    const QPoint mainAt(screen.right() + 1 - tessaly::outerSize(main).width(), 40);
    const QPoint setteiAt(screen.left(), 100);
    const QPoint addressAt(screen.right() + 1 - tessaly::outerSize(address).width(), screen.top());
    EXPECT_EQ(main.pos(), mainAt);
    EXPECT_EQ(settei.pos(), setteiAt);
    EXPECT_EQ(address.pos(), addressAt);

    // The address book, which holds the main window disabled, opens where it can be used.
    app.tool("TB_Address")->click();
    EXPECT_TRUE(address.isVisible());
    EXPECT_TRUE(screen.contains(address.frameGeometry().topLeft()));
    address.Cmd_Close->click();

    app.tool("TB_End")->click();
    const QByteArray ini = app.dir.read(QStringLiteral("TSY2.ini"));
    const QByteArray window = ini.mid(ini.indexOf("[Window]"));
    EXPECT_EQ(window,
              QStringLiteral("[Window]\r\nMain_X=%1\r\nMain_Y=%2\r\nSettei_X=%3\r\nSettei_Y=%4\r\n"
                             "Address_X=%5\r\nAddress_Y=%6\r\n")
                  .arg(mainAt.x())
                  .arg(mainAt.y())
                  .arg(setteiAt.x())
                  .arg(setteiAt.y())
                  .arg(addressAt.x())
                  .arg(addressAt.y())
                  .toUtf8());
}

} // namespace
