#include "mailmerge/merge_mail.h"

#include "common/errors.h"
#include "fixtures/refusal_of.h"
#include "fixtures/sjis.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tessaly;

namespace {

MergeTable tableOf(const std::string& csvUtf8) { return MergeTableFromCsv(sjis(csvUtf8)); }

TEST(MergeFields, FindsAndFillsFieldsByCharacter) {
    // "ボ" and "マ" end in the bytes of "{" and "}": they open or close no field.
    const std::string text = sjis("ボ{{ 名前 }}様 {{金額}}円 {{名前}} マ}} {{閉じない");
    EXPECT_EQ(FieldNames(text), (std::vector<std::string>{sjis("名前"), sjis("金額")}));
    const auto value = [](std::string_view name) -> std::string_view {
        static const std::string yamada = sjis("山田"), amount = "12,300";
        return name == sjis("名前") ? std::string_view(yamada) : std::string_view(amount);
    };
    EXPECT_EQ(FillFields(text, value), sjis("ボ山田様 12,300円 山田 マ}} {{閉じない"));
}

TEST(MergeColumnsGuess, FindsColumnsByHeaderOrContent) {
    const MergeTable named = tableOf("お名前,E-mail,会社,CC,BCC,添付ファイル\r\n山田,a@example.jp,X社,,,\r\n");
    const MergeColumns c = GuessColumns(named);
    EXPECT_EQ(c.name, 0);
    EXPECT_EQ(c.address, 1);
    EXPECT_EQ(c.cc, 3);
    EXPECT_EQ(c.bcc, 4);
    EXPECT_EQ(c.files, 5);
    const MergeTable unnamed = tableOf("会社,連絡先\r\nX社,a@example.jp\r\nY社,b@example.jp\r\n");
    EXPECT_EQ(GuessColumns(unnamed).address, 1);
}

TEST(MergeMailRuns, FillsEachRowsMessage) {
    QTemporaryDir dir;
    QFile(dir.filePath(QStringLiteral("a.pdf"))).open(QIODevice::WriteOnly);
    MergeTable table = tableOf("名前,メール,金額,CC,BCC,添付\r\n"
                               "山田 <太郎>,a@example.jp,\"12,300\",boss@example.jp; x@example.jp,"
                               "audit@example.jp,a.pdf\r\n"
                               "鈴木,b@example.jp,\"一\r\n二\",,,\r\n");
    table.path = dir.filePath(QStringLiteral("t.csv"));
    const MergedMail mail = MergeMail(table, GuessColumns(table), sjis("{{名前}}様 ご請求"),
                                      {sjis("金額: {{金額}}"), sjis("以上")});
    EXPECT_EQ(mail.recipientsSjis,
              (std::vector<std::string>{sjis("山田  太郎  <a@example.jp>"), sjis("鈴木 <b@example.jp>")}));
    ASSERT_EQ(mail.messages.size(), 2u);
    const RecipientMessage& first = mail.messages[0];
    EXPECT_EQ(first.subjectSjis, sjis("山田 <太郎>様 ご請求"));
    EXPECT_EQ(first.bodyShownSjis, (std::vector<std::string>{sjis("金額: 12,300"), sjis("以上")}));
    EXPECT_EQ(first.cc, (std::vector<std::string>{"boss@example.jp", "x@example.jp"}));
    EXPECT_EQ(first.bcc, (std::vector<std::string>{"audit@example.jp"}));
    ASSERT_EQ(first.attachmentPathsSjis.size(), 1u);
    EXPECT_EQ(first.attachmentPathsSjis[0], dir.filePath(QStringLiteral("a.pdf")).toStdString());
    // A line break in a value is a line break of the body.
    EXPECT_EQ(mail.messages[1].bodyShownSjis,
              (std::vector<std::string>{sjis("金額: 一"), sjis("二"), sjis("以上")}));
}

TEST(MergeMailRuns, RefusesInOneMessageNamingFieldsAndRows) {
    const std::string csv = "名前,メール,金額,添付\r\n山田,a@example.jp,100,\r\n"
                            ",b@example.jp,,\r\n鈴木,c@example.jp,,\r\n";
    struct Case {
        const char* name;
        std::string table;
        std::string subject;
        std::vector<std::string> body;
        std::string refusal;
    } cases[] = {
        {"unknown fields", csv, "{{名前}}様", {"{{会社}} {{部署}}"},
         "差し込みデータに次の列がありません：{{会社}}、{{部署}}\r\n"
         "列名を確かめるか、件名・本文の差し込み欄を直してください。"},
        {"empty values", csv, "{{名前}}様", {"{{金額}}円"},
         "差し込みデータの次の行は送信できません。\r\n「名前」が空です：3 行目\r\n"
         "「金額」が空です：3, 4 行目\r\n値を入れるか、その行を消してください。"},
        {"line break in the Subject", "名前,メール\r\n\"山\r\n田\",a@example.jp\r\n", "{{名前}}様", {},
         "差し込みデータの次の行は送信できません。\r\n件名に入る「名前」に改行があります：2 行目\r\n"
         "値を入れるか、その行を消してください。"},
        {"bad address rows",
         "名前,メール\r\n山田,a@example.jp\r\n鈴木,\r\n佐藤,sato@@example.jp\r\n田中,A@example.jp\r\n",
         "ご案内", {},
         "差し込みデータに送信できない行があります。\r\n3 行目：アドレスが空です\r\n"
         "4 行目：アドレスに誤りがあります\r\n5 行目：2 行目と同じアドレスです\r\n"
         "アドレスを直してから送信してください。"},
        {"missing file", "名前,メール,添付\r\n山田,a@example.jp,none.pdf; sub\r\n", "ご案内", {},
         "差し込みデータの次のファイルが見つかりません。\r\n2 行目：none.pdf\r\n2 行目：sub\r\n"
         "ファイルの名前と場所（差し込みデータと同じフォルダーから）を確かめてください。"},
    };
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("sub")); // a folder is no file to attach
    for (const Case& c : cases) {
        MergeTable table = tableOf(c.table);
        table.path = dir.filePath(QStringLiteral("t.csv"));
        std::vector<std::string> body;
        for (const std::string& line : c.body)
            body.push_back(sjis(line));
        EXPECT_EQ(refusalOf([&] { MergeMail(table, GuessColumns(table), sjis(c.subject), body); }),
                  c.refusal)
            << c.name;
    }
}

} // namespace

// Without a table the address book's four fields are each recipient's own; a mail without a
// field stays the one message everyone shares, and the refusals name the fields and the entries.
TEST(AddressBookFields, FillEachRecipientsMessageOrRefuse) {
    const std::vector<std::string> recipients = {sjis("山田太郎 <taro@example.jp>"), "jiro@example.jp"};
    const std::vector<AddressBookPlace> places = {{sjis("営業部"), sjis("第一課")}, {}};
    const std::vector<std::string> body = {sjis("{{宛先名}}様（{{メールアドレス}}）"), sjis("以上")};

    // No field: nothing of a merge, whatever the places; a "{{" without its "}}" is no field.
    EXPECT_TRUE(FillAddressBookFields(sjis("会議 {{のお知らせ"), {sjis("本文 }}")}, recipients, places).empty());

    const std::vector<RecipientMessage> filled =
        FillAddressBookFields(sjis("{{宛先名}}様"), body, {recipients[0]}, places);
    ASSERT_EQ(filled.size(), 1u);
    EXPECT_EQ(filled[0].subjectSjis, sjis("山田太郎様"));
    EXPECT_EQ(filled[0].bodyShownSjis,
              (std::vector<std::string>{sjis("山田太郎様（taro@example.jp）"), sjis("以上")}));
    EXPECT_EQ(FillAddressBookFields(sjis("{{グループ}}・{{メンバー}}"), {}, {recipients[0]}, places)[0].subjectSjis,
              sjis("営業部・第一課"));

    const struct {
        const char* subject;
        const char* refusal;
    } refusals[] = {
        {"{{会社}}様 {{宛先名}} {{金額}}",
         "差し込みデータを開いていないため、次の差し込み欄は使えません：{{会社}}、{{金額}}\r\n"
         "使えるのは {{宛先名}}・{{メールアドレス}}・{{グループ}}・{{メンバー}} です。"
         "件名・本文の差し込み欄を直してください。"},
        // The typed address has no group.
        {"{{グループ}} {{宛先名}}",
         "次の宛先には送信できません。\r\n「グループ」が空です：2 件目\r\n"
         "アドレス帳から選んだ宛先だけにするか、差し込み欄を直してください。"},
    };
    for (const auto& r : refusals)
        EXPECT_EQ(refusalOf([&] { FillAddressBookFields(sjis(r.subject), body, recipients, places); }),
                  std::string(r.refusal))
            << r.subject;
}
