#include "address/address_book.h"
#include "common/cp932.h"
#include "common/errors.h"

#include "fixtures/file_size_limit.h"
#include "fixtures/fake_dialogs.h"
#include "fixtures/temp_start_dir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>


using namespace tessaly;
using Strings = std::vector<std::string>;

namespace {

const std::string kEigyo = "\x89\x63\x8b\xc6";   // 営業
const std::string kYamada = "\x8e\x52\x93\x63";  // 山田
const QString kNoMember = QStringLiteral("グループメンバーが選択されていません。");
const std::string kDummyText(address::kDummy);

QByteArray line(const Strings& fields) {
    QByteArray out;
    for (std::size_t i = 0; i < fields.size(); ++i)
        out += (i ? ",\"" : "\"") + QByteArray::fromStdString(fields[i]) + "\"";
    return out + "\r\n";
}

class AddressBookTest : public ::testing::Test {
protected:
    TempStartDir dir;
    FakeDialogs dialogs;
    AddressBook book{dialogs};
    std::string path = dir.filePathBytes(QStringLiteral("Address.csv"));
    int disabled = 0;

    AddressBookLoad load() { return AddressBook_Load(book, path, [this] { ++disabled; }); }
    // Loads a file of the given records; groups and members listed for the first group.
    void loadRecords(const std::vector<Strings>& records) {
        QByteArray bytes;
        for (const Strings& r : records)
            bytes += line(r);
        dir.write(QStringLiteral("Address.csv"), bytes);
        ASSERT_EQ(load(), AddressBookLoad::Loaded);
    }
    void loadSample() {
        loadRecords({
            {"&DUMMY&", "&DUMMY&", "&DUMMY&", "", "1"},
            {"work", "&DUMMY&", "&DUMMY&", "", "1"},
            {"work", "team", "&DUMMY&", "", "1"},
            {"work", "team", "Sato", "sato@example.jp", "0"},
            {"work", "team", "Ito", "ito@example.jp", "1"},
            {"work", "boss", kYamada, "yamada@example.jp", "0"},
            {"home", "&DUMMY&", "&DUMMY&", "", "1"},
            {"home", "family", kYamada, "yamada@home.jp", "0"},
        });
        ASSERT_TRUE(AddressBook_ListMembers(book, "work"));
    }
    int memberRow(const std::string& name) const { return book.members().indexOf(name); }
};

TEST_F(AddressBookTest, MissingFileIsCreatedWithTheBookMarker) {
    EXPECT_EQ(load(), AddressBookLoad::Created);
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")), QByteArray("\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"));
    EXPECT_EQ(book.records(), Strings{std::string(address::kBookMarker)});
    EXPECT_TRUE(book.groups().empty());
    EXPECT_TRUE(dialogs.calls.empty());
}

TEST_F(AddressBookTest, EmptyPathDisablesTheBookAndCreatesNothing) {
    path.clear();
    EXPECT_EQ(load(), AddressBookLoad::Disabled);
    EXPECT_TRUE(book.records().empty());
    EXPECT_TRUE(dialogs.calls.empty());
    EXPECT_EQ(disabled, 0);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    EXPECT_FALSE(AddressBook_Save(book, path));
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("アドレス帳ファイル：\r\nファイルの作成に失敗しました。")});
}

TEST_F(AddressBookTest, UnreadableFileDisablesTheBook) {
    QDir(dir.path()).mkdir(QStringLiteral("Address.csv"));
    EXPECT_EQ(load(), AddressBookLoad::Disabled);
    EXPECT_EQ(disabled, 1);
    EXPECT_TRUE(book.records().empty());
    EXPECT_EQ(dialogs.texts(),
              QStringList{QString::fromStdString(path) +
                          QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\nアドレス帳を無効にします。")});
}

TEST_F(AddressBookTest, EmptyFileIsOneRecordOfEmptyFields) {
    dir.write(QStringLiteral("Address.csv"), {});
    EXPECT_EQ(load(), AddressBookLoad::Loaded);
    EXPECT_EQ(book.records(), Strings{"#*:%#*:%#*:%#*:%"});
    EXPECT_TRUE(book.groups().empty());
    ASSERT_TRUE(AddressBook_Save(book, path));
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")), QByteArray("\"\",\"\",\"\",\"\",\"\"\r\n"));
}

TEST_F(AddressBookTest, GroupsAreListedInFileOrderAndSavedSorted) {
    loadRecords({
        {"beta", "&DUMMY&", "&DUMMY&", "", "1"},
        {"&DUMMY&", "&DUMMY&", "&DUMMY&", "", "1"},
        {"Alpha", "&DUMMY&", "&DUMMY&", "", "1"},
        {"beta", "&DUMMY&", "&DUMMY&", "", "1"},
        {"alpha", "x", "&DUMMY&", "", "1"},
    });
    EXPECT_EQ(book.groups().items(), (Strings{"beta", "Alpha", "beta"}));
    EXPECT_TRUE(AddressBook_ListMembers(book, "beta"));
    EXPECT_TRUE(book.members().empty());

    ASSERT_TRUE(AddressBook_Save(book, path));
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")),
              line({"&DUMMY&", "&DUMMY&", "&DUMMY&", "", "1"}) + line({"Alpha", "&DUMMY&", "&DUMMY&", "", "1"}) +
                  line({"alpha", "x", "&DUMMY&", "", "1"}) + line({"beta", "&DUMMY&", "&DUMMY&", "", "1"}) +
                  line({"beta", "&DUMMY&", "&DUMMY&", "", "1"}));
}

TEST_F(AddressBookTest, FailedSaveLeavesTheOldFile) {
    loadSample();
    const QByteArray before = dir.read(QStringLiteral("Address.csv"));
    for (int i = 0; i < 50; ++i)
        book.insert(AddressRecord_Join("work", "team", "N" + std::to_string(i), "n@example.jp", "0"));

    // A file size limit makes the write fail part-way, as a full disk would (even for root).
    bool saved = true;
    {
        FileSizeLimit limit(200);
        saved = AddressBook_Save(book, path);
    }

    EXPECT_FALSE(saved);
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("アドレス帳ファイル：") + QString::fromStdString(path) +
                                           QStringLiteral("\r\nファイルの作成に失敗しました。")});
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Address.csv")});
}

TEST_F(AddressBookTest, LinesWithAnUnclosedQuoteAreLeftOutReportedAndKeptInTheBackup) {
    // Line 3 holds a comma inside quotes, line 7 lost a quotation mark, lines 8 and 9 are one
    // record with a line break in its name; blank lines and a lone LF count as lines, as an
    // editor shows them.
    const QByteArray original = line({"&DUMMY&", "&DUMMY&", "&DUMMY&", "", "1"}) +
                                line({"G", "&DUMMY&", "&DUMMY&", "", "1"}) +
                                "\"G\",\"M\",\"Sato, Ichiro\",\"sato@example.jp\",\"0\"\r\n"
                                "\r\n\n" + line({"G", "M", "Ito", "ito@example.jp", "0"}) +
                                "\"G\",\"M\",\"Kato\",\"kato@example.jp,\"0\"\r\n"
                                "\"G\",\"M\",\"inj\r\nrcpt\",\"injrcpt@example.com\",\"0\"\r\n";
    dir.write(QStringLiteral("Address.csv"), original);
    ASSERT_EQ(load(), AddressBookLoad::Loaded);
    EXPECT_EQ(dialogs.texts(),
              QStringList{QString::fromStdString(path) +
                          QStringLiteral("ファイルの\r\n4 行（3, 7, 8, 9 行目）は引用符が閉じていないため、読み込めませんでした。\r\n"
                                         "保存する前に、テキストエディタで該当する行を直してください。\r\n"
                                         "そのまま保存すると、元のファイルを Address.csv.bak として残します。")});
    // Nothing of them is in the book: no group, member or entry, nothing the search could offer.
    EXPECT_EQ(book.records(), (Strings{std::string(address::kBookMarker), AddressRecord_Join("G", kDummyText, kDummyText, "", "1"),
                                       AddressRecord_Join("G", "M", "Ito", "ito@example.jp", "0")}));
    EXPECT_EQ(book.groups().items(), Strings{"G"});
    for (const std::string text : {"Sato", "Kato", "inj", "rcpt", "0"})
        EXPECT_EQ(AddressBook_FindByName(book, text).outcome, AddressSearchResult::NoHit) << text;

    // The first save keeps the file as it was; it holds what the new one cannot.
    ASSERT_TRUE(AddressBook_Save(book, path));
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv.bak")), original);
    EXPECT_EQ(dir.read(QStringLiteral("Address.csv")),
              line({"&DUMMY&", "&DUMMY&", "&DUMMY&", "", "1"}) + line({"G", "&DUMMY&", "&DUMMY&", "", "1"}) +
                  line({"G", "M", "Ito", "ito@example.jp", "0"}));

    // Later saves have nothing more to keep: the copy is not made again.
    QFile::remove(dir.filePath(QStringLiteral("Address.csv.bak")));
    ASSERT_TRUE(AddressBook_Save(book, path));
    EXPECT_FALSE(dir.exists(QStringLiteral("Address.csv.bak")));
    EXPECT_EQ(dialogs.texts().size(), 1);
}

TEST_F(AddressBookTest, MembersAndEntriesOfTheSelectedGroup) {
    loadSample();
    EXPECT_EQ(book.groups().items(), (Strings{"work", "home"}));
    // Sorted book order; a member known only from an entry record is listed too.
    EXPECT_EQ(book.members().items(), (Strings{"boss", "team"}));

    ASSERT_TRUE(AddressBook_ListEntries(book, 0, memberRow("team")));
    EXPECT_EQ(book.entries().rows(), (std::vector<AddressEntryRow>{{"Ito", "ito@example.jp", "1"},
                                                                   {"Sato", "sato@example.jp", "0"}}));
    AddressBook_ListEntries(book, 0, -1);
    EXPECT_EQ(book.entries().rows(), std::vector<AddressEntryRow>(1));

    book.insert("broken record");
    EXPECT_FALSE(AddressBook_ListMembers(book, "work"));
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("アドレス帳の状態が異常です。")});
}

TEST(MailAddressCheck, AcceptsOneAtAndTheAllowedBytesOnly) {
    struct Row {
        std::string text;
        bool ok;
        std::string result;
    };
    const std::vector<Row> rows = {
        {" a.b-c_d@example.jp\t", true, "a.b-c_d@example.jp"},
        {"@", true, "@"},
        {"", false, ""},
        {"a@b@c", false, ""},
        {"example.jp", false, ""},
        {"a b@example.jp", false, ""},
        {"a\x81\x97" "example.jp", false, ""}, // full-width at sign
        {"Yamada <y@example.jp>", false, ""},
    };
    for (const Row& row : rows) {
        std::string result = "untouched";
        EXPECT_EQ(MailAddress_Check(row.text, result), row.ok) << row.text;
        EXPECT_EQ(result, row.result) << row.text;
    }
}

TEST(AddressRecord, JoinSplitAndOrder) {
    AddressRecord r;
    ASSERT_TRUE(AddressRecord_Split(AddressRecord_Join("g", "m", "n", "a@b", "0#*:%x"), r));
    EXPECT_EQ(r, (AddressRecord{"g", "m", "n", "a@b", "0#*:%x"}));
    AddressRecord untouched{"keep", "", "", "", ""};
    EXPECT_FALSE(AddressRecord_Split("a#*:%b#*:%c", untouched));
    EXPECT_EQ(untouched.group, "keep");

    EXPECT_TRUE(AddressRecord_Less("apple", "Banana"));
    EXPECT_FALSE(AddressRecord_Less("Apple", "apple"));
    EXPECT_FALSE(AddressRecord_Less("apple", "Apple"));
    // 0x83 0x41 (ア) and 0x83 0x61 differ even though 0x41/0x61 are 'A'/'a'.
    EXPECT_TRUE(AddressRecord_Less("\x83\x41", "\x83\x61"));
}

TEST_F(AddressBookTest, ImportSkipsBadLinesAndAddsTheRest) {
    loadSample();
    dir.write(QStringLiteral("import.txt"), "\"name\",\"mail\"\r\n\"Kato\",\"kato@example.jp\"\r\nonlyname\r\n"
                                            "Mori , mori@example.jp\r\n\"Bad#*:%\",\"bad@example.jp\"\r\n");
    const int team = memberRow("team");
    dialogs.queueFileName(dir.filePath(QStringLiteral("import.txt")));
    ASSERT_TRUE(AddressBook_Import(book, 0, team));
    const FileDialogOptions asked = dialogs.last(FakeDialogs::Kind::OpenFile).options;
    EXPECT_EQ(asked.title, QStringLiteral("アドレス帳の選択！！"));
    EXPECT_EQ(asked.filter, QStringLiteral("Text files (*.txt);;CSV files (*.csv)"));
    EXPECT_EQ(asked.defaultExt, QStringLiteral("txt"));
    EXPECT_EQ(dialogs.texts(FakeDialogs::Kind::Message),
              (QStringList{QStringLiteral("宛名：name\r\nメール：mail\r\nはアドレス入力に誤りがあるため登録しません。"),
                           QStringLiteral("宛名：onlyname\r\nメール：\r\nはアドレス入力に誤りがあるため登録しません。"),
                           QStringLiteral("宛名：Bad#*:%\r\n宛先名には #*:% は使用できません\r\n（制限文字です）")}));
    EXPECT_EQ(book.entries().rows(), (std::vector<AddressEntryRow>{{"Ito", "ito@example.jp", "1"},
                                                                   {"Kato", "kato@example.jp", "0"},
                                                                   {"Mori", "mori@example.jp", "0"},
                                                                   {"Sato", "sato@example.jp", "0"}}));

    dialogs.clear();
    dialogs.queueFileName(dir.filePath(QStringLiteral("import.txt")));
    EXPECT_FALSE(AddressBook_Import(book, 0, -1));
    EXPECT_EQ(dialogs.texts(), QStringList{kNoMember});

    dialogs.clear();
    dialogs.queueFileName(dir.filePath(QStringLiteral("gone.txt")));
    EXPECT_FALSE(AddressBook_Import(book, 0, team));
    EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("アドレス帳ファイル：") + dir.filePath(QStringLiteral("gone.txt")) +
                                           QStringLiteral("\r\nファイルが見つかりません。")});

    dialogs.clear();
    dialogs.queueFileName(QString());
    EXPECT_FALSE(AddressBook_Import(book, 0, team));
}

TEST_F(AddressBookTest, FindByNameGivesNoneOneOrSeveralHits) {
    loadSample();
    const AddressSearchResult one = AddressBook_FindByName(book, "Sat");
    EXPECT_EQ(one.outcome, AddressSearchResult::OneHit);
    EXPECT_EQ(one.hits, Strings{"Sato <sato@example.jp>"});

    // An addressee in two members is offered twice.
    const AddressSearchResult several = AddressBook_FindByName(book, kYamada);
    EXPECT_EQ(several.outcome, AddressSearchResult::SeveralHits);
    EXPECT_EQ(several.hits, (Strings{kYamada + " <yamada@home.jp>", kYamada + " <yamada@example.jp>"}));

    for (const std::string text : {"DUMMY", "sato", "", "nobody"})
        EXPECT_EQ(AddressBook_FindByName(book, text).outcome, AddressSearchResult::NoHit) << text;
}

// Code page 932 writes 髙 as FB FC (what typing gives) and, in books from other programs, as its
// NEC-selected code EE E0; ≒ as 81 E0 and as NEC row 13's 87 90. Names compare by character and
// keep their bytes.
TEST_F(AddressBookTest, FindByNameComparesCharactersNotCodes) {
    const std::string takahashiNec = "\xEE\xE0\x8b\xb4 \x88\xea\x98\x59";  // 髙橋 一郎, 髙 as EE E0
    const std::string takahashiIbm = "\xFB\xFC\x8b\xb4 \x89\xd4\x8e\x71"; // 髙橋 花子, 髙 as FB FC
    loadRecords({
        {"G", "M", takahashiNec, "ichiro@example.jp", "0"},
        {"G", "M", takahashiIbm, "hanako@example.jp", "0"},
        {"G", "M", "\x87\x90", "nearly@example.jp", "0"}, // ≒ under its NEC row 13 code
        {"G", "M", "\x83\x41", "a@example.jp", "0"},      // ア: its second byte is "A"
    });
    const std::string typedTakahashi = cp932::fromUtf8("髙橋").bytes; // as typing gives it
    ASSERT_EQ(typedTakahashi, "\xFB\xFC\x8b\xb4");
    const AddressSearchResult both = AddressBook_FindByName(book, typedTakahashi);
    EXPECT_EQ(both.outcome, AddressSearchResult::SeveralHits);
    EXPECT_EQ(both.hits, (Strings{takahashiNec + " <ichiro@example.jp>", takahashiIbm + " <hanako@example.jp>"}));
    EXPECT_EQ(AddressBook_FindByName(book, typedTakahashi + " \x88\xea").hits,
              Strings{takahashiNec + " <ichiro@example.jp>"});
    EXPECT_EQ(AddressBook_FindByName(book, "\x81\xe0").hits, Strings{"\x87\x90 <nearly@example.jp>"});
    EXPECT_EQ(AddressBook_FindByName(book, "A").outcome, AddressSearchResult::NoHit);
}

TEST_F(AddressBookTest, RecipientFileKeepsValidLinesAndReportsTheOthers) {
    dir.write(QStringLiteral("to.txt"), "  a@example.jp \r\n\r\nnot an address\r\nb@example.jp\r\n"
                                        "Yamada <y@example.jp>\r\na@example.jp");
    const Strings got = RecipientFile_Read(dir.filePathBytes(QStringLiteral("to.txt")), dialogs);
    EXPECT_EQ(got, (Strings{"a@example.jp", "b@example.jp", "a@example.jp"}));
    EXPECT_EQ(dialogs.texts(), (QStringList{QStringLiteral("not an addressは\r\nアドレス入力に誤りがあります。"),
                                            QStringLiteral("Yamada <y@example.jp>は\r\nアドレス入力に誤りがあります。")}));
    EXPECT_THROW(RecipientFile_Read(dir.filePathBytes(QStringLiteral("none.txt")), dialogs), FileError);
}

// Files from other programs end their lines with LF (most editors on Linux) or CR (old Macs): the
// address book, an import and a recipients file read them as they read CR LF.
TEST_F(AddressBookTest, EveryLineEndEndsALine) {
    const Strings bookLines = {"\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"", "\"G\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"",
                               "\"G\",\"M\",\"&DUMMY&\",\"\",\"1\"", "\"G\",\"M\",\"Sato\",\"sato@example.jp\",\"0\"",
                               "\"G\",\"M\",\"" + kYamada + "\",\"yamada@example.jp\",\"0\""};
    const auto joined = [](const Strings& lines, const std::string& end) {
        QByteArray bytes;
        for (const std::string& l : lines)
            bytes += QByteArray::fromStdString(l + end);
        return bytes;
    };
    for (const std::string end : {"\r\n", "\n", "\r"}) {
        SCOPED_TRACE(end == "\n" ? "LF" : end == "\r" ? "CR" : "CR LF");
        dialogs.clear();
        dir.write(QStringLiteral("Address.csv"), joined(bookLines, end));
        ASSERT_EQ(load(), AddressBookLoad::Loaded);
        EXPECT_EQ(book.size(), 5u);
        EXPECT_EQ(book.groups().items(), Strings{"G"});
        ASSERT_TRUE(AddressBook_ListMembers(book, "G"));

        dir.write(QStringLiteral("import.txt"), joined({"\"Kato\",\"kato@example.jp\"", "Mori,mori@example.jp"}, end));
        dialogs.queueFileName(dir.filePath(QStringLiteral("import.txt")));
        ASSERT_TRUE(AddressBook_Import(book, 0, 0));
        EXPECT_EQ(book.entries().rows().size(), 4u);

        dir.write(QStringLiteral("to.txt"), joined({"a@example.jp", "", "bad line", "b@example.jp"}, end));
        EXPECT_EQ(RecipientFile_Read(dir.filePathBytes(QStringLiteral("to.txt")), dialogs),
                  (Strings{"a@example.jp", "b@example.jp"}));
        EXPECT_EQ(dialogs.texts(), QStringList{QStringLiteral("bad lineは\r\nアドレス入力に誤りがあります。")});
    }
}

TEST_F(AddressBookTest, RecipientFileHandsOverEachAddressAsItIsRead) {
    // Lines before a later failure must already be in the caller's list.
    dir.write(QStringLiteral("to.txt"), "a@example.jp\r\nbad line\r\nb@example.jp\r\n");
    Strings added;
    Strings addedWhenReported;
    dialogs.onCall = [&](const FakeDialogs::Call&) { addedWhenReported = added; };
    RecipientFile_Read(dir.filePathBytes(QStringLiteral("to.txt")), dialogs, nullptr,
                       [&](const std::string& a) { added.push_back(a); });
    EXPECT_EQ(addedWhenReported, Strings{"a@example.jp"});
    EXPECT_EQ(added, (Strings{"a@example.jp", "b@example.jp"}));
}

TEST_F(AddressBookTest, GroupCommands) {
    loadSample();
    struct Refusal {
        std::string name;
        QString message;
    };
    for (const Refusal& r : std::vector<Refusal>{
             {"", QStringLiteral("新しいグループ名がセットされていません。")},
             {"work", QStringLiteral("既にグループ名が存在します。")},
             {"a,b", QStringLiteral("グループ名には ，は使用できません\r\n（制限文字です）")},
             {"say \"hi\"", QStringLiteral("グループ名には ”は使用できません\r\n（制限文字です）")},
             {"two\r\nlines", QStringLiteral("グループ名には改行は使用できません\r\n（制限文字です）")},
             {"&DUMMY&", QStringLiteral("グループ名には &DUMMY& は使用できません\r\n（予約語です）")},
         }) {
        dialogs.clear();
        const Strings before = book.records();
        EXPECT_FALSE(AddressBook_AddGroup(book, r.name)) << r.name;
        EXPECT_EQ(dialogs.texts(), QStringList{r.message}) << r.name;
        EXPECT_EQ(book.records(), before);
    }
    dialogs.clear();
    ASSERT_TRUE(AddressBook_AddGroup(book, kEigyo));
    EXPECT_EQ(book.groups().items(), (Strings{"work", "home", kEigyo}));

    // Rename: every record of the group moves, the book is sorted again.
    int newRow = -1;
    EXPECT_FALSE(AddressBook_RenameGroup(book, 0, "work", newRow));
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("同一のグループ名です。"));
    ASSERT_TRUE(AddressBook_RenameGroup(book, 0, "Alpha", newRow));
    EXPECT_EQ(book.groups().items(), (Strings{"Alpha", "home", kEigyo}));
    EXPECT_EQ(newRow, 0);
    EXPECT_EQ(book.members().items(), (Strings{"boss", "team"}));
    EXPECT_TRUE(std::is_sorted(book.records().begin(), book.records().end(),
                               [](const std::string& a, const std::string& b) { return AddressRecord_Less(a, b); }));

    // Delete: the question, then every record of the group is gone.
    dialogs.clear();
    dialogs.queueAnswer(false);
    EXPECT_FALSE(AddressBook_DeleteGroup(book, 0));
    dialogs.queueAnswer(true);
    ASSERT_TRUE(AddressBook_DeleteGroup(book, 0));
    EXPECT_EQ(dialogs.last(FakeDialogs::Kind::Question).text,
              QStringLiteral("Alphaグループの\r\nメンバーは全て削除されます。\r\nよろしいですか？"));
    EXPECT_EQ(dialogs.last(FakeDialogs::Kind::Question).title, QStringLiteral("警告"));
    EXPECT_EQ(book.groups().items(), (Strings{"home", kEigyo}));
    EXPECT_EQ(book.members().items(), Strings{"family"});
    EXPECT_EQ(AddressBook_FindByName(book, "Sato").outcome, AddressSearchResult::NoHit);
}

TEST_F(AddressBookTest, MemberCommands) {
    loadSample();
    EXPECT_FALSE(AddressBook_AddMember(book, 0, "team"));
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("既にメンバー名が存在します。"));
    ASSERT_TRUE(AddressBook_AddMember(book, 0, "aides"));
    EXPECT_EQ(book.members().items(), (Strings{"aides", "boss", "team"}));

    EXPECT_FALSE(AddressBook_RenameMember(book, 0, -1, "x"));
    EXPECT_EQ(dialogs.lastText(), kNoMember);
    ASSERT_TRUE(AddressBook_RenameMember(book, 0, memberRow("team"), "crew"));
    EXPECT_EQ(book.members().items(), (Strings{"aides", "boss", "crew"}));
    AddressBook_ListEntries(book, 0, memberRow("crew"));
    EXPECT_EQ(book.entries().rows().size(), 2u);

    dialogs.queueAnswer(true);
    ASSERT_TRUE(AddressBook_DeleteMember(book, 0, memberRow("crew")));
    EXPECT_EQ(dialogs.last(FakeDialogs::Kind::Question).text,
              QStringLiteral("workグループの\r\nメンバー：crewは全て削除されます。\r\nよろしいですか？"));
    EXPECT_EQ(book.members().items(), (Strings{"aides", "boss"}));
    EXPECT_EQ(AddressBook_FindByName(book, "Ito").outcome, AddressSearchResult::NoHit);
}

TEST_F(AddressBookTest, EntryCommandsAndTransfers) {
    loadSample();
    const int team = memberRow("team");
    EXPECT_FALSE(AddressBook_AddEntry(book, 0, team, {"宛先名", "メールアドレス", "0"}));
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("アドレス入力に誤りがあります。"));
    EXPECT_FALSE(AddressBook_AddEntry(book, 0, team, {"Ueda", "ueda@example.jp", "2"}));
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("通知区分は 通知：0 または 非通知：1 でなければなりません。"));
    ASSERT_TRUE(AddressBook_AddEntry(book, 0, team, {"Ueda", "ueda@example.jp", "0"}));
    EXPECT_EQ(book.entries().rows().size(), 3u);

    // Only flag "0" entries go with the whole member; a single entry goes whatever its flag.
    EXPECT_EQ(AddressBook_MemberRecipients(book, 0, team),
              (Strings{"Sato <sato@example.jp>", "Ueda <ueda@example.jp>"}));
    const AddressEntryRow ito{"Ito", "ito@example.jp", "1"};
    EXPECT_EQ(AddressBook_EntryRecipients(book, 0, team, ito), Strings{"Ito <ito@example.jp>"});

    // An update stays in place (first grid row) until the next load sorts it.
    EXPECT_FALSE(AddressBook_UpdateEntry(book, 0, team, ito, {"Ito", "ito@example.jp", "1,2"}));
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("非通知区分には ，は使用できません\r\n（制限文字です）"));
    ASSERT_TRUE(AddressBook_UpdateEntry(book, 0, team, ito, {"Zeta", "z@example.jp", "0"}));
    EXPECT_EQ(book.entries().row(0), (AddressEntryRow{"Zeta", "z@example.jp", "0"}));

    ASSERT_TRUE(AddressBook_DeleteEntry(book, 0, team, {"Zeta", "z@example.jp", "0"}));
    EXPECT_EQ(book.entries().rows(), (std::vector<AddressEntryRow>{{"Sato", "sato@example.jp", "0"},
                                                                   {"Ueda", "ueda@example.jp", "0"}}));
    dialogs.clear();
    EXPECT_TRUE(AddressBook_MemberRecipients(book, 0, -1).empty());
    EXPECT_EQ(dialogs.texts(), QStringList{kNoMember});
}

} // namespace
