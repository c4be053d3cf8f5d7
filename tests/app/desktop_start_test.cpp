// Where Tessaly keeps its files: the folder it is started in, or, started from the desktop menu
// (with --data-folder), the XDG data folder, made on first start.
#include "app/desktop_start.h"
#include "common/errors.h"
#include "fixtures/temp_start_dir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace {

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

struct FolderCase {
    const char* name;
    QStringList arguments;
    bool xdgSet;          // XDG_DATA_HOME set, or only HOME
    const char* expected; // the working directory afterwards, below the start folder
};

void PrintTo(const FolderCase& c, std::ostream* os) { *os << c.name; }

class DataFolderTest : public testing::TestWithParam<FolderCase> {};

TEST_P(DataFolderTest, WorkingDirectoryAfterStart) {
    const FolderCase& c = GetParam();
    TempStartDir start;
    const QByteArray root = start.path().toUtf8();
    ScopedEnv home("HOME", root + "/home");
    ScopedEnv xdg("XDG_DATA_HOME", c.xdgSet ? root + "/xdg" : QByteArray());

    tessaly::enterDataFolderIfAsked(c.arguments);

    const QString expected = QFileInfo(start.path() + QString::fromUtf8(c.expected)).canonicalFilePath();
    EXPECT_EQ(QDir::currentPath(), expected);
    if (std::string(c.expected).size() > 0) {
        // The owner's alone: nothing for the group or others.
        const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                          QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
        EXPECT_EQ(QFileInfo(expected).permissions() & (others | QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner),
                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // The terminal start creates nothing.
    EXPECT_EQ(QFileInfo::exists(start.filePath(QStringLiteral("home"))) ||
                  QFileInfo::exists(start.filePath(QStringLiteral("xdg"))),
              std::string(c.expected).size() > 0);
}

INSTANTIATE_TEST_SUITE_P(
    Starts, DataFolderTest,
    testing::Values(
        FolderCase{"FromTerminal", {QStringLiteral("tessaly")}, true, ""},
        FolderCase{"SwitchAsFileNameIsNotTheProgram", {QStringLiteral("--data-folder")}, true, ""},
        FolderCase{"FromMenu", {QStringLiteral("tessaly"), QStringLiteral("--data-folder")}, true,
                   "/xdg/tessaly"},
        FolderCase{"FromMenuWithoutXdgDataHome",
                   {QStringLiteral("tessaly"), QStringLiteral("--data-folder")}, false,
                   "/home/.local/share/tessaly"}),
    [](const testing::TestParamInfo<FolderCase>& info) { return info.param.name; });

TEST(DataFolder, UncreatableFolderIsReportedAndTheStartFolderKept) {
    TempStartDir start;
    start.write(QStringLiteral("xdg"), "a file where the folder would go");
    ScopedEnv xdg("XDG_DATA_HOME", start.path().toUtf8() + "/xdg");
    try {
        tessaly::enterDataFolderIfAsked({QStringLiteral("tessaly"), QStringLiteral("--data-folder")});
        FAIL() << "no error";
    } catch (const tessaly::Error& e) {
        EXPECT_EQ(QString::fromUtf8(e.what()),
                  QStringLiteral("データフォルダ %1/xdg/tessaly を作成できません。\r\n"
                                 "ホームフォルダに書き込めるか確かめてください。")
                      .arg(start.path()));
    }
    EXPECT_EQ(QDir::currentPath(), start.path());
}

TEST(ApplicationIcon, IsDrawnFromTheInstalledSvg) {
    const QIcon icon = tessaly::applicationIcon();
    ASSERT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(48, 48).toImage().pixelColor(24, 24).alpha() == 0);
}

} // namespace
