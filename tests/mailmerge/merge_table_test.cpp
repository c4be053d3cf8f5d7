#include "mailmerge/merge_table.h"
#include "mailmerge/xlsx_reader.h"

#include "common/errors.h"
#include "fixtures/refusal_of.h"
#include "fixtures/sjis.h"
#include "fixtures/xlsx_writer.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace tessaly;
using Records = std::vector<std::vector<std::string>>;

namespace {

void writeFile(const QString& path, const std::string& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes.data(), static_cast<qint64>(bytes.size()));
}

TEST(CsvRecords, ReadsFieldsAsExcelWritesThem) {
    struct Case {
        const char* name;
        std::string bytes;
        Records records;
    } cases[] = {
        {"plain", "a,b\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
        {"no last line end", "a,b\nc,d", {{"a", "b"}, {"c", "d"}}},
        {"comma and line break quoted", "\"a,1\",\"x\r\ny\"\r\n", {{"a,1", "x\r\ny"}}},
        {"doubled quotation mark", "\"say \"\"hi\"\"\",b\r\n", {{"say \"hi\"", "b"}}},
        {"empty fields kept", ",b,\r\n", {{"", "b", ""}}},
        {"unquoted blanks kept", " a ,b\r\n", {{" a ", "b"}}},
        {"quotation mark inside an unquoted field", "a\"b,c\n", {{"a\"b", "c"}}},
        {"CR alone ends a record", "a\rb\r", {{"a"}, {"b"}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseCsvRecords(c.bytes), c.records) << c.name;
    EXPECT_EQ(refusalOf([] { ParseCsvRecords("a,b\r\nc,\"d\r\n"); }),
              "差し込みデータの 2 行目の引用符（\"）が閉じていません。ファイルを確かめてください。");
}

// The same table saved by Excel as UTF-8 with BOM, as UTF-8 and as Shift-JIS, and as .xlsx.
TEST(MergeTables, EveryFormatGivesTheSameTable) {
    const std::string utf8 = "氏名,メール,金額\r\n山田 太郎,taro@example.jp,\"12,300\"\r\n,,\r\n"
                             "ボマ{},hana@example.jp,500\r\n";
    QTemporaryDir dir;
    const QString xlsx = dir.filePath(QStringLiteral("t.xlsx"));
    ASSERT_TRUE(test::WriteXlsx(
        xlsx, {{QStringLiteral("名簿"),
                {{{QStringLiteral("氏名")}, {QStringLiteral("メール")}, {QStringLiteral("金額")}},
                 {test::withReading(QStringLiteral("山田 太郎"), QStringLiteral("ヤマダ")),
                  test::inlineText(QStringLiteral("taro@example.jp")),
                  test::num(12300, 2)},
                 {},
                 {{QStringLiteral("ボマ{}")}, {QStringLiteral("hana@example.jp")}, test::num(500)}}}}));

    const MergeTable bom = MergeTableFromCsv("\xEF\xBB\xBF" + utf8);
    const MergeTable plain = MergeTableFromCsv(utf8);
    const MergeTable shiftJis = MergeTableFromCsv(sjis(utf8));
    const MergeTable excel = ReadMergeTable(xlsx);
    EXPECT_EQ(bom.source, TableSource::CsvUtf8Bom);
    EXPECT_EQ(plain.source, TableSource::CsvUtf8);
    EXPECT_EQ(shiftJis.source, TableSource::CsvShiftJis);
    EXPECT_EQ(excel.sourceText(), QStringLiteral("Excel（名簿）"));
    const std::vector<std::string> columns{sjis("氏名"), sjis("メール"), sjis("金額")};
    const std::vector<std::string> second{sjis("ボマ{}"), "hana@example.jp", "500"};
    for (const MergeTable* t : {&bom, &plain, &shiftJis, &excel}) {
        EXPECT_EQ(t->columnsSjis, columns);
        ASSERT_EQ(t->rows.size(), 2u); // the empty row is left out
        EXPECT_EQ(t->rows[0].valuesSjis,
                  (std::vector<std::string>{sjis("山田 太郎"), "taro@example.jp", "12,300"}));
        EXPECT_EQ(t->rows[1].rowNumber, 4);
        EXPECT_EQ(t->rows[1].valuesSjis, second);
    }
}

TEST(MergeTables, RefusesWhatIsNoTable) {
    struct Case {
        const char* name;
        std::string bytes;
        std::string refusal;
    } cases[] = {
        {"empty", "", "差し込みデータに見出しの行がありません。1 行目に列名を入れてください。"},
        {"bytes of no code", "a,b\r\n\x81\x20\xff,c\r\n",
         "差し込みデータの文字コードを読み取れません。UTF-8 か Shift-JIS の CSV で保存してください。"},
        {"a character Shift-JIS lacks", "名前,メール\r\n😀,a@example.jp\r\n",
         "差し込みデータの 2 行目「名前」列の「😀」(U+1F600)は Shift-JIS にない文字です。別の文字に直してください。"},
        {"two columns of one name", "メール,メール\r\n",
         "差し込みデータの列名「メール」が 2 つあります。列名をそれぞれ別のものにしてください。"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(refusalOf([&] { MergeTableFromCsv(c.bytes); }), c.refusal) << c.name;
}

TEST(XlsxNumbers, ShowsNumbersAsExcelDoes) {
    struct Case {
        double value;
        std::string format;
        std::string shown;
    } cases[] = {
        {12300, "General", "12300"},
        {0.1 + 0.2, "General", "0.3"},
        {9012345678, "General", "9012345678"},
        {1234567.891, "#,##0", "1,234,568"},
        {-0.4, "0", "0"},
        {1234.5, "#,##0.00", "1,234.50"},
        {0.125, "0.0%", "12.5%"},
        {12300, "\"¥\"#,##0", "¥12,300"},
        {12300, "[$¥-411]#,##0", "¥12,300"},
        {500, "#,##0\"円\"", "500円"},
        {46000, "yyyy/mm/dd", "2025/12/09"},
        {46000.75, "yyyy\"年\"m\"月\"d\"日\"", "2025/12/09"},
        {1, "m/d/yy", "1900/01/01"},
        {61, "yyyy/mm/dd", "1900/03/01"},
        {0, "yyyy/mm/dd", "1899/12/31"},
        {0.75, "h:mm", "18:00"},
        {12300, "@", "12300"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XlsxNumberText(c.value, c.format), c.shown) << c.format << " " << c.value;
    EXPECT_EQ(XlsxNumberText(0, "yyyy/mm/dd", true), "1904/01/01");
    EXPECT_EQ(XlsxBuiltinFormat(14), "yyyy/mm/dd");
}

TEST(XlsxWorkbooks, ReadsTheChosenSheetWithItsFormats) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("book.xlsx"));
    ASSERT_TRUE(test::WriteXlsx(
        path, {{QStringLiteral("表紙"), {{{QStringLiteral("なし")}}}},
               {QStringLiteral("宛先"),
                {{{QStringLiteral("日付")}, {QStringLiteral("金額")}, {QStringLiteral("率")},
                  {QStringLiteral("メモ")}},
                 {test::num(46000, 1), test::num(12300, 3), test::num(0.05, 4),
                  {QStringLiteral("一行目\n二行目")}}}}}));
    const MergeTable table = ReadMergeTable(path, QStringLiteral("宛先"));
    EXPECT_EQ(table.sheets, (QStringList{QStringLiteral("表紙"), QStringLiteral("宛先")}));
    ASSERT_EQ(table.rows.size(), 1u);
    EXPECT_EQ(table.rows[0].valuesSjis,
              (std::vector<std::string>{"2025/12/09", sjis("¥12,300"), "5.0%", sjis("一行目\n二行目")}));
    EXPECT_EQ(ReadMergeTable(path).sheet, QStringLiteral("表紙"));
    EXPECT_EQ(refusalOf([&] { ReadMergeTable(path, QStringLiteral("無い")); }),
              "Excel ファイル「book.xlsx」にシート「無い」がありません。");
}

TEST(XlsxWorkbooks, RefusesDamagedFiles) {
    QTemporaryDir dir;
    const std::string damaged =
        "Excel ファイル「x.xlsx」を読み込めませんでした（壊れているか、.xlsx 形式ではありません）。"
        "Excel で開いて保存し直してください。";
    const QString path = dir.filePath(QStringLiteral("x.xlsx"));
    writeFile(path, "PK\x03\x04 not really a zip");
    EXPECT_EQ(refusalOf([&] { ReadMergeTable(path); }), damaged) << "not a zip";

    ASSERT_TRUE(test::WriteXlsxStrings(path, {{QStringLiteral("メール")}, {QStringLiteral("a@example.jp")}}));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    const QByteArray whole = f.readAll();
    f.resize(whole.size() / 2); // cut off, as by a broken copy
    f.close();
    EXPECT_EQ(refusalOf([&] { ReadMergeTable(path); }), damaged) << "cut off";
    EXPECT_EQ(refusalOf([&] { ReadMergeTable(dir.filePath(QStringLiteral("none.csv"))); }),
              "差し込みデータ「none.csv」を読み込めませんでした。ファイルを確かめてください。");
}

} // namespace
