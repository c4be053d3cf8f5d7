#include "common/atomic_file.h"
#include "common/errors.h"
#include "fixtures/file_size_limit.h"
#include "fixtures/temp_start_dir.h"

#include <QDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Everything in the folder, hidden files included, sorted and joined for a readable failure.
QString folderEntries(const TempStartDir& dir) {
    return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name).join(u',');
}

// The text of the FileError `write` raises; empty (and a failure) when it raises none.
template <typename Write>
std::string thrownText(Write write) {
    try {
        write();
    } catch (const tessaly::FileError& e) {
        return e.what();
    }
    ADD_FAILURE() << "no FileError";
    return {};
}

mode_t permissions(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(AtomicFile, CreatesAndReplacesKeepingPermissions) {
    TempStartDir dir;
    const std::string path = dir.filePathBytes(QStringLiteral("Log.txt"));

    tessaly::writeFileAtomically(path, "first\r\n");
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")), QByteArray("first\r\n"));

    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    tessaly::writeFileAtomically(path, std::string("second\0\x82\xA0", 9));
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")), QByteArray("second\0\x82\xA0", 9));
    EXPECT_EQ(permissions(path), mode_t(0640));

    tessaly::writeFileAtomically(path, "");
    EXPECT_EQ(dir.read(QStringLiteral("Log.txt")), QByteArray());
    EXPECT_EQ(folderEntries(dir), QStringLiteral("Log.txt")); // no temporary file left
}

TEST(AtomicFile, WritesThroughASymbolicLinkToItsFile) {
    TempStartDir dir;
    dir.write(QStringLiteral("real.ini"), "old");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("real.ini")), dir.filePath(QStringLiteral("TSY2.ini"))));
    tessaly::writeFileAtomically(dir.filePathBytes(QStringLiteral("TSY2.ini")), "new");
    EXPECT_EQ(dir.read(QStringLiteral("real.ini")), QByteArray("new"));
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("TSY2.ini"))).isSymLink());
}

TEST(AtomicFile, FailedWritesRaiseTheGivenTextAndLeaveEverythingAsItWas) {
    TempStartDir dir;
    dir.write(QStringLiteral("Address.csv"), "keep me");
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder")));

    // A folder where the file should be: the default text names the path.
    const std::string folder = dir.filePathBytes(QStringLiteral("folder"));
    EXPECT_EQ(thrownText([&] { tessaly::writeFileAtomically(folder, "x"); }), folder + " に書き込めません");
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("folder"))).isDir());

    // A folder that does not exist: the caller's text.
    EXPECT_EQ(thrownText([&] {
                  tessaly::writeFileAtomically(dir.filePathBytes(QStringLiteral("missing/Log.txt")), "x", "ログに書けません");
              }),
              "ログに書けません");

    // The disk fills up in the middle of the write.
    {
        FileSizeLimit limit(4);
        EXPECT_EQ(thrownText([&] {
                      tessaly::writeFileAtomically(dir.filePathBytes(QStringLiteral("Address.csv")), "a much longer text");
                  }),
                  dir.filePathBytes(QStringLiteral("Address.csv")) + " に書き込めません");
    }

    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")), QByteArray("keep me"));
    EXPECT_EQ(folderEntries(dir), QStringLiteral("Address.csv,folder"));
}

} // namespace
