#include "settings/ini_file.h"

#include "common/errors.h"
#include "fixtures/file_size_limit.h"
#include "fixtures/temp_start_dir.h"
#include "settings/settings.h"

#include <QDir>
#include <gtest/gtest.h>
#include <stdexcept>

namespace {

using ini::IniFile;

const char* const Sample = "; comment at the top\r\n"
                           "[Settei]\r\n"
                           "Host = smtp.example.jp \r\n"
                           "Address=\r\n"
                           "ChkBox_Log=yes\r\n"
                           "ChkBox_SendData=2\r\n"
                           "Port=25a\r\n"
                           "\r\n"
                           "[Other]\r\n"
                           "; keep this\r\n"
                           "Host=other.example.jp\r\n";

TEST(IniFile, ReadsWithPrivateProfileSemantics) {
    const IniFile f = IniFile::fromBytes("TSY2.ini", Sample);
    EXPECT_EQ(f.readString("settei", "HOST", "def"), "smtp.example.jp"); // case, blanks around the value
    EXPECT_EQ(f.readString("Other", "host", "def"), "other.example.jp");
    EXPECT_EQ(f.readString("Settei", "Address", "def"), "");            // present but empty
    EXPECT_EQ(f.readString("Settei", "Missing", "def"), "def");
    EXPECT_EQ(f.readString("Nowhere", "Host", "def"), "def");
    EXPECT_EQ(f.readString("Settei", "; comment at the top", "def"), "def");

    EXPECT_FALSE(f.readBool("Settei", "ChkBox_Log", false)); // not an integer: the default
    EXPECT_TRUE(f.readBool("Settei", "ChkBox_Log", true));
    EXPECT_TRUE(f.readBool("Settei", "ChkBox_SendData", false)); // any non-zero is true
    EXPECT_EQ(f.readInteger("Settei", "Port", 7), 7);
}

TEST(IniFile, ParsesIntegersLikeTheProfileFunctions) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    };
    const Case cases[] = {
        {"25", true, 25},          {"-7", true, -7},        {"+7", true, 7},
        {"0x1F", true, 31},        {"0X1f", true, 31},      {"$ff", true, 255},
        {"-$10", true, -16},       {"$FFFFFFFF", true, -1}, {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},  {"$100000000", false, 0}, {"25a", false, 0},
        {"", false, 0},            {"-", false, 0},         {"0x", false, 0},
        {"yes", false, 0},         {"1.5", false, 0},
    };
    for (const Case& c : cases) {
        int value = 0;
        EXPECT_EQ(ini::parseProfileInt(c.text, value), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
}

TEST(IniFile, WritesInPlaceAndLeavesEverythingElseAlone) {
    IniFile f = IniFile::fromBytes("TSY2.ini", Sample);
    f.writeString("SETTEI", "host", "mail.example.jp"); // replaced where it stands, key as written
    f.writeBool("Settei", "ChkBox_SendData", true);
    f.writeString("Settei", "User", "taro");           // added at the end of its section
    f.writeInteger("Window", "Main_X", -12);           // new section at the end of the file
    EXPECT_EQ(f.serialize(), "; comment at the top\r\n"
                             "[Settei]\r\n"
                             "Host =mail.example.jp\r\n"
                             "Address=\r\n"
                             "ChkBox_Log=yes\r\n"
                             "ChkBox_SendData=1\r\n"
                             "Port=25a\r\n"
                             "User=taro\r\n"
                             "\r\n"
                             "[Other]\r\n"
                             "; keep this\r\n"
                             "Host=other.example.jp\r\n"
                             "[Window]\r\n"
                             "Main_X=-12\r\n");
}

TEST(IniFile, ReadsAnyLineEndAndNeverLetsAValueBreakALine) {
    const IniFile lf = IniFile::fromBytes("x", "[A]\nK=v\n[B]\rK=w\r\n");
    EXPECT_EQ(lf.readString("A", "K", ""), "v");
    EXPECT_EQ(lf.readString("B", "K", ""), "w");

    IniFile f = IniFile::fromBytes("x", "[A]\r\nK=v\r\n");
    EXPECT_THROW(f.writeString("A", "K", "x\r\n[Evil]"), std::invalid_argument);
    EXPECT_THROW(f.writeString("A", "K=", "x"), std::invalid_argument);
    EXPECT_THROW(f.writeString("A]", "K", "x"), std::invalid_argument);
    EXPECT_EQ(f.serialize(), "[A]\r\nK=v\r\n");
}

TEST(IniFile, KeepsShiftJisBytesAndCutsLongValuesAtACharacter) {
    // 0x8341 is "ア": its second byte is an ASCII "A" that must not be folded or matched.
    IniFile f = IniFile::fromBytes("x", "[\x83\x41]\r\nK=\x97\x6c\r\n");
    EXPECT_EQ(f.readString("\x83\x41", "k", ""), "\x97\x6c");
    EXPECT_EQ(f.readString("\x83\x61", "k", "none"), "none");

    const std::string ascii(3000, 'a');
    f.writeString("A", "Long", ascii);
    EXPECT_EQ(f.readString("A", "Long", ""), ascii.substr(0, ini::MaxValueBytes));

    // A double-byte character across the limit is left out whole rather than split.
    const std::string straddling = std::string(2046, 'a') + "\x97\x6c" + "b";
    f.writeString("A", "Long", straddling);
    EXPECT_EQ(f.readString("A", "Long", ""), std::string(2046, 'a'));
}

TEST(IniFile, SaveWritesCrLfAndAFailedSaveKeepsTheOldFile) {
    TempStartDir dir;
    const std::string path = dir.filePathBytes(QStringLiteral("TSY2.ini"));
    dir.write(QStringLiteral("TSY2.ini"), "[Settei]\nHost=old\n");

    IniFile f(path);
    EXPECT_TRUE(f.existed());
    f.writeString("Settei", "Host", std::string(4000, 'n'));

    // The disk fills up in the middle of the write (a file size limit holds even for root).
    std::string error;
    {
        FileSizeLimit limit(64);
        try {
            f.save();
        } catch (const tessaly::FileError& e) {
            error = e.what();
        }
    }
    EXPECT_EQ(error, path + " に書き込めません");
    EXPECT_EQ(dir.read(QStringLiteral("TSY2.ini")), QByteArray("[Settei]\nHost=old\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("TSY2.ini")});

    f.writeString("Settei", "Host", "new");
    f.save();
    EXPECT_EQ(dir.read(QStringLiteral("TSY2.ini")), QByteArray("[Settei]\r\nHost=new\r\n"));
}

TEST(IniFile, AFileThatCannotBeReadIsNeverReplaced) {
    TempStartDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("TSY2.ini")));
    const std::string path = dir.filePathBytes(QStringLiteral("TSY2.ini"));
    IniFile f(path);
    EXPECT_EQ(f.readString("Settei", "Host", "def"), "def");
    f.writeString("Settei", "Host", "x");
    try {
        f.save();
        FAIL() << "no error";
    } catch (const tessaly::FileError& e) {
        EXPECT_EQ(std::string(e.what()), path + " に書き込めません");
    }
}

TEST(SettingsFile, StartDirectoryAndTheKeyOrderOfANewFile) {
    EXPECT_EQ(tessaly::iniPath(tessaly::startDirectoryOf("/")), "/TSY2.ini");
    EXPECT_EQ(tessaly::iniPath(tessaly::startDirectoryOf("/home/taro/")), "/home/taro/TSY2.ini");
    EXPECT_EQ(tessaly::iniPath(tessaly::startDirectoryOf("/home/taro")), "/home/taro/TSY2.ini");

    TempStartDir dir;
    Settings s;
    s.Host = "smtp.example.jp";
    s.Port = "25";
    s.Keisyou = "\x93\x61"; // 殿
    s.ChkBox_Log = true;
    s.Main_X = -5;
    s.Address_Y = 300;
    const std::string start = dir.path().toStdString();
    EXPECT_TRUE(Settings_Save(s, start));
    EXPECT_EQ(dir.read(QStringLiteral("TSY2.ini")),
              QByteArray("[Settei]\r\nHost=smtp.example.jp\r\nPort=25\r\nUser=\r\nFrom=\r\nReply=\r\nUserMei=\r\n"
                         "Syomei=\r\nChkBox_Syomei=0\r\nChkBox_Atesaki=0\r\nKeisyou=\x93\x61\r\nChkBox_EverySend=0\r\n"
                         "EverySend=\r\nAddress=\r\nChkBox_Log=1\r\nLog=\r\nChkBox_SendData=0\r\nSendData=\r\n"
                         "[Window]\r\nMain_X=-5\r\nMain_Y=0\r\nSettei_X=0\r\nSettei_Y=0\r\nAddress_X=0\r\nAddress_Y=300\r\n"));
}

TEST(SettingsFile, SubmissionSectionOnlyOnceItHoldsSomething) {
    TempStartDir dir;
    const std::string start = dir.path().toStdString();
    Settings s;
    ASSERT_TRUE(Settings_Save(s, start));
    const QByteArray plain = dir.read(QStringLiteral("TSY2.ini"));
    EXPECT_FALSE(plain.contains("[Submission]"));

    s.Security = 1;
    s.Login = "taro@example.jp";
    tessaly::setTrustedFingerprint(s, "Mail.Example.JP", 587, "aa11");
    tessaly::setTrustedFingerprint(s, "other.example.jp", 465, "bb22");
    tessaly::setTrustedFingerprint(s, "mail.example.jp", 587, "cc33"); // replaces the first
    s.Charset = 1;
    ASSERT_TRUE(Settings_Save(s, start));
    const QByteArray written = dir.read(QStringLiteral("TSY2.ini"));
    EXPECT_TRUE(written.startsWith(plain)); // after the existing sections, which stay as they were
    EXPECT_TRUE(written.endsWith("[Submission]\r\nSecurity=1\r\nAuth=0\r\nLogin=taro@example.jp\r\n"
                                 "SavePassword=1\r\nTrustedCerts=other.example.jp:465=bb22,"
                                 "mail.example.jp:587=cc33\r\nCharset=1\r\n"));

    Settings back;
    tessaly::Submission_Load(back, ini::IniFile::fromBytes("x", written.toStdString()));
    EXPECT_EQ(back.Security, 1);
    EXPECT_EQ(back.Login, "taro@example.jp");
    EXPECT_EQ(back.Charset, 1);
    EXPECT_EQ(tessaly::trustedFingerprint(back, "MAIL.example.jp", 587), "cc33");
    EXPECT_EQ(tessaly::trustedFingerprint(back, "mail.example.jp", 465), "");

    // Once there, the section is kept even when everything is back to its default; values out
    // of range read as the default.
    ASSERT_TRUE(Settings_Save(Settings{}, start));
    EXPECT_TRUE(dir.read(QStringLiteral("TSY2.ini")).contains("[Submission]\r\nSecurity=0\r\n"));
    tessaly::Submission_Load(back, ini::IniFile::fromBytes("x", "[Submission]\r\nSecurity=7\r\nCharset=-1\r\n"));
    EXPECT_EQ(back.Security, 0);
    EXPECT_EQ(back.Charset, 0);
}

TEST(SettingsFile, RunConductKeysOnlyOnceChanged) {
    TempStartDir dir;
    const std::string start = dir.path().toStdString();
    Settings s;
    s.Security = 1;
    ASSERT_TRUE(Settings_Save(s, start));
    EXPECT_TRUE(dir.read(QStringLiteral("TSY2.ini")).endsWith("Charset=0\r\n"));

    s.PerMinute = 30;
    s.Retry = true;
    ASSERT_TRUE(Settings_Save(s, start));
    EXPECT_TRUE(dir.read(QStringLiteral("TSY2.ini")).endsWith("Charset=0\r\nPerMinute=30\r\nRetry=1\r\n"));
    // Back to the defaults, a key the file has keeps its place.
    ASSERT_TRUE(Settings_Save(Settings{}, start));
    EXPECT_TRUE(dir.read(QStringLiteral("TSY2.ini")).endsWith("Charset=0\r\nPerMinute=0\r\nRetry=0\r\n"));

    Settings back;
    tessaly::Submission_Load(back, ini::IniFile::fromBytes("x", "[Submission]\r\nSkipRefused=1\r\n"
        "PerMinute=60\r\nPauseEvery=100\r\nPauseSeconds=300\r\nRetry=1\r\nRetryTries=5\r\n"));
    EXPECT_TRUE(back.SkipRefused);
    EXPECT_EQ(back.PerMinute, 60);
    EXPECT_EQ(back.PauseEvery, 100);
    EXPECT_EQ(back.PauseSeconds, 300);
    EXPECT_TRUE(back.Retry);
    EXPECT_EQ(back.RetryTries, 5);
    tessaly::Submission_Load(back, ini::IniFile::fromBytes("x", "[Submission]\r\nPerMinute=-1\r\n"
        "PauseSeconds=0\r\nRetryTries=0\r\n"));
    EXPECT_EQ(back.PerMinute, 0);
    EXPECT_EQ(back.PauseSeconds, 60);
    EXPECT_EQ(back.RetryTries, 3);
}

// "送信前に確認する" is on in the TSY2.ini Tessaly makes at the first start and stays off in an
// existing file without the key, whose section is then written as before.
TEST(SettingsFile, ConfirmSendOnlyInAFileMadeAtTheFirstStart) {
    TempStartDir dir;
    const std::string start = dir.path().toStdString();
    Settings first;
    tessaly::Submission_Load(first, ini::IniFile(start + "/TSY2.ini"));
    EXPECT_TRUE(first.ConfirmSend);
    ASSERT_TRUE(Settings_Save(first, start));
    EXPECT_TRUE(dir.read(QStringLiteral("TSY2.ini")).endsWith("Charset=0\r\nConfirmSend=1\r\n"));

    const std::string older = "[Settei]\r\nHost=mail.example.jp\r\n";
    Settings existing;
    tessaly::Submission_Load(existing, ini::IniFile::fromBytes("x", older));
    EXPECT_FALSE(existing.ConfirmSend);
    ini::IniFile again = ini::IniFile::fromBytes("x", older);
    tessaly::Submission_Save(existing, again);
    EXPECT_EQ(again.serialize(), older);
}

// The copies of every message are written once set, kept once the file has them, read back
// as typed; a section without them stays as it was.
TEST(SettingsFile, CopiesOfEveryMessageOnlyOnceSet) {
    const std::string before = "[Submission]\r\nSecurity=0\r\nAuth=0\r\nLogin=\r\nSavePassword=1\r\n"
                               "TrustedCerts=\r\nCharset=0\r\n";
    Settings s;
    tessaly::Submission_Load(s, ini::IniFile::fromBytes("x", before));
    ini::IniFile same = ini::IniFile::fromBytes("x", before);
    tessaly::Submission_Save(s, same);
    EXPECT_EQ(same.serialize(), before);

    s.Cc = "boss@example.jp, kacho@example.jp";
    s.Bcc = "archive@example.jp";
    ini::IniFile set = ini::IniFile::fromBytes("x", before);
    tessaly::Submission_Save(s, set);
    EXPECT_EQ(set.serialize(), before + "Cc=boss@example.jp, kacho@example.jp\r\nBcc=archive@example.jp\r\n");
    Settings back;
    tessaly::Submission_Load(back, set);
    EXPECT_EQ(back.Cc, s.Cc);
    EXPECT_EQ(back.Bcc, s.Bcc);
    back.Bcc.clear();
    tessaly::Submission_Save(back, set);
    EXPECT_EQ(set.serialize(), before + "Cc=boss@example.jp, kacho@example.jp\r\nBcc=\r\n");
}

TEST(SettingsFile, OAuthKeysOnlyOnceOAuthWasSetUp) {
    // A section written without OAuth stays as it was: no empty OAuth keys join it.
    const std::string before = "[Submission]\r\nSecurity=1\r\nAuth=1\r\nLogin=taro\r\nSavePassword=1\r\n"
                               "TrustedCerts=\r\nCharset=0\r\n";
    Settings s;
    tessaly::Submission_Load(s, ini::IniFile::fromBytes("x", before));
    ini::IniFile again = ini::IniFile::fromBytes("x", before);
    tessaly::Submission_Save(s, again);
    EXPECT_EQ(again.serialize(), before);

    s.Auth = 2;
    s.OAuthProvider = 1;
    const tessaly::OAuthProviderDefaults* google = tessaly::oauthProviderDefaults(s.OAuthProvider);
    ASSERT_NE(google, nullptr);
    s.OAuthAuthorizationUrl = google->AuthorizationUrl;
    s.OAuthTokenUrl = google->TokenUrl;
    s.OAuthScope = google->Scope;
    s.OAuthClientId = "1234-abc.apps.example";
    tessaly::Submission_Save(s, again);
    EXPECT_EQ(again.serialize(),
              "[Submission]\r\nSecurity=1\r\nAuth=2\r\nLogin=taro\r\nSavePassword=1\r\nTrustedCerts=\r\n"
              "Charset=0\r\nOAuthProvider=1\r\nOAuthClientId=1234-abc.apps.example\r\n"
              "OAuthAuthorizationUrl=https://accounts.google.com/o/oauth2/v2/auth\r\n"
              "OAuthTokenUrl=https://oauth2.googleapis.com/token\r\nOAuthScope=https://mail.google.com/\r\n");
    Settings back;
    tessaly::Submission_Load(back, again);
    EXPECT_EQ(back.Auth, 2);
    EXPECT_EQ(back.OAuthProvider, 1);
    EXPECT_EQ(back.OAuthClientId, s.OAuthClientId);
    EXPECT_EQ(back.OAuthTokenUrl, s.OAuthTokenUrl);
    EXPECT_EQ(back.OAuthScope, s.OAuthScope);
    EXPECT_EQ(back.OAuthAuthorizationUrl, s.OAuthAuthorizationUrl);
}

} // namespace
