#include "address/utf8_address_file.h"

#include "address/address_book.h"
#include "common/cp932.h"

#include "fixtures/fake_dialogs.h"
#include "fixtures/temp_start_dir.h"

#include <QDir>
#include <gtest/gtest.h>

using namespace tessaly;

namespace {

std::string sjis(const std::string& utf8) { return cp932::fromUtf8(utf8).bytes; }

TEST(LooksLikeUtf8Text, TellsUtf8FromShiftJisAsPeopleWriteIt) {
    const struct Row {
        const char* name;
        std::string bytes;
        bool utf8;
    } rows[] = {
        {"Shift-JIS", sjis("\"営業\",\"山田 太郎\",\"yamada@example.jp\""), false},
        {"ASCII only", "\"G\",\"M\",\"Sato\",\"sato@example.jp\",\"0\"\r\n", false},
        {"UTF-8 kanji, also valid Shift-JIS bytes (蝟ｶ讌ｭ)", "\"営業\",\"山田 太郎\"", true},
        {"UTF-8 kana, also valid Shift-JIS bytes (縺ゅ＞)", "あい", true},
        {"UTF-8 beyond code page 932", "\"吉田\",\"𠮷田\"", true},
        {"a byte order mark before ASCII", "\xEF\xBB\xBF\"G\"", true},
        {"broken UTF-8", "\"営業\xE5\x96\"", false},
        // Half-width katakana that happen to be valid UTF-8 (ý) read better as what they are.
        {"Shift-JIS half-width katakana", sjis("ﾃｽ"), false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(LooksLikeUtf8Text(row.bytes), row.utf8) << row.name;
}

class Utf8AddressFileTest : public ::testing::Test {
protected:
    TempStartDir dir;
    FakeDialogs dialogs;
    std::string path = dir.filePathBytes(QStringLiteral("Address.csv"));
    // A book as an editor on Linux saves it: UTF-8 with a byte order mark, LF line ends.
    const QByteArray utf8Book = QByteArray("\xEF\xBB\xBF") +
                                "\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\n"
                                "\"営業部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\n"
                                "\"営業部\",\"第一課\",\"髙橋 一郎\",\"ichiro@example.jp\",\"0\"\n";
};

TEST_F(Utf8AddressFileTest, AsksThenRewritesTheFileInShiftJisKeepingTheOldOne) {
    dir.write(QStringLiteral("Address.csv"), QByteArray::fromStdString(sjis(utf8Book.toStdString().substr(3))));
    EXPECT_FALSE(AddressFile_FindUtf8(path)) << "a Shift-JIS book is no question";
    EXPECT_FALSE(AddressFile_FindUtf8(dir.filePathBytes(QStringLiteral("none.csv"))));
    EXPECT_FALSE(AddressFile_FindUtf8(""));

    dir.write(QStringLiteral("Address.csv"), utf8Book);
    const std::optional<Utf8AddressFile> found = AddressFile_FindUtf8(path);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->question,
              QStringLiteral("アドレス帳ファイル：") + dir.filePath(QStringLiteral("Address.csv")) +
                  QStringLiteral("\r\nは UTF-8 で書かれているようです（例：「営業部」）。\r\n"
                                 "UTF-8 として読み込み、Shift-JIS で保存し直しますか？\r\n"
                                 "元のファイルは Address.csv.bak として残します。\r\n"
                                 "「いいえ」のときは、ファイルをそのまま読み込みます。"));

    ASSERT_TRUE(AddressFile_ConvertToShiftJis(*found, path, dialogs, nullptr));
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv.bak")), utf8Book);
    // 髙 as code page 932 writes it; the line ends as they were.
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")),
              QByteArray::fromStdString(sjis("\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\n"
                                             "\"営業部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\n"
                                             "\"営業部\",\"第一課\",\"髙橋 一郎\",\"ichiro@example.jp\",\"0\"\n")));

    AddressBook book(dialogs);
    ASSERT_EQ(AddressBook_Load(book, path, {}), AddressBookLoad::Loaded);
    EXPECT_EQ(book.groups().items(), std::vector<std::string>{sjis("営業部")});
    EXPECT_EQ(AddressBook_FindByName(book, sjis("髙橋")).hits,
              std::vector<std::string>{sjis("髙橋 一郎 <ichiro@example.jp>")});
}

TEST_F(Utf8AddressFileTest, ACharacterShiftJisCannotHoldIsNamedAndNothingIsWritten) {
    const QByteArray book = utf8Book + "\"営業部\",\"第一課\",\"𠮷田 花子\",\"hanako@example.jp\",\"0\"\n";
    dir.write(QStringLiteral("Address.csv"), book);
    const std::optional<Utf8AddressFile> found = AddressFile_FindUtf8(path);
    ASSERT_TRUE(found);
    EXPECT_FALSE(AddressFile_ConvertToShiftJis(*found, path, dialogs, nullptr));
    EXPECT_EQ(dialogs.texts(),
              QStringList{QStringLiteral("アドレス帳ファイル：") + dir.filePath(QStringLiteral("Address.csv")) +
                          QStringLiteral("\r\nは Shift-JIS に直せませんでした。4 行目の 14 文字目の「𠮷」(U+20BB7)は"
                                         " Shift-JIS で扱えない文字です。\r\n"
                                         "テキストエディタでその文字を直してから、Tessaly を起動し直してください。")});
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")), book);
    EXPECT_FALSE(dir.exists(QStringLiteral("Address.csv.bak")));
}

TEST_F(Utf8AddressFileTest, AFileThatCannotBeWrittenIsSaidAndLeftAsItWas) {
    dir.write(QStringLiteral("Address.csv"), utf8Book);
    const std::optional<Utf8AddressFile> found = AddressFile_FindUtf8(path);
    ASSERT_TRUE(found);
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Address.csv.bak"))); // no file can go there
    EXPECT_FALSE(AddressFile_ConvertToShiftJis(*found, path, dialogs, nullptr));
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("アドレス帳ファイル：") +
                                           dir.filePath(QStringLiteral("Address.csv.bak")) +
                                           QStringLiteral("\r\nファイルの作成に失敗しました。")});
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")), utf8Book);
}

} // namespace
