#include "address/vexo_csv.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> items(const TVexo_CSV& csv) {
    return {csv.Items.begin() + 1, csv.Items.begin() + 1 + csv.ItemCount};
}

struct Record {
    std::vector<std::string> fields;
    bool error;
    bool eof;
};

class VexoCsvFile : public ::testing::Test {
protected:
    QTemporaryDir dir;
    std::string path = dir.filePath(QStringLiteral("data.csv")).toStdString();

    // Reads every record the way the program's readers do: until eof.
    std::vector<Record> readFile(const std::string& bytes, int itemCount, bool lfEndsLine = false) {
        writeAll(path, bytes);
        TVexo_CSV csv;
        csv.ItemCount = itemCount;
        csv.LfEndsLine = lfEndsLine;
        csv.OpenRead(path);
        EXPECT_FALSE(csv.ErrorDetect);
        EXPECT_FALSE(csv.eof);
        std::vector<Record> records;
        for (int guard = 0; guard < 1000 && !csv.eof; ++guard) {
            csv.ReadRecord();
            records.push_back({items(csv), csv.ErrorDetect, csv.eof});
        }
        csv.CloseFile();
        return records;
    }
};

TEST(VexoCsvSplit, UnquotesEachFieldByItsRule) {
    struct Row {
        const char* name;
        std::string raw;
        std::string value;
    };
    const std::vector<Row> rows = {
        {"quoted", "\"abc\"", "abc"},
        {"blanks around quotes", "  \"abc\"  ", "abc"},
        {"empty quotes", "\"\"", ""},
        {"unquoted is trimmed", " \tabc  ", "abc"},
        {"lone quote kept raw", " \"abc ", " \"abc "},
        {"doubled quote is no escape", "\"a\"\"b\"", "a"},
        {"inner blanks in quotes kept", "\" a b \"", " a b "},
        {"shift-jis bytes untouched", "\x83\x65\x83\x58\x83\x67", "\x83\x65\x83\x58\x83\x67"},
    };
    for (const Row& row : rows) {
        TVexo_CSV csv;
        csv.ItemCount = 1;
        csv.SplitLine(row.raw);
        EXPECT_EQ(csv.Items[1], row.value) << row.name;
        EXPECT_FALSE(csv.ErrorDetect) << row.name;
    }
}

TEST(VexoCsvSplit, CountsFieldsAgainstItemCount) {
    struct Row {
        const char* name;
        std::string line;
        int itemCount;
        std::vector<std::string> fields;
        bool error;
        std::string kugirimoji = ",";
    };
    const std::vector<Row> rows = {
        {"short line", "a,b", 5, {"a", "b", "", "", ""}, true},
        {"long line", "a,b,c,d,e", 3, {"a", "b", "c"}, false},
        {"trailing comma", "a,b,", 3, {"a", "b", ""}, false},
        {"empty line", "", 3, {"", "", ""}, false},
        {"comma inside quotes splits", "\"a,b\",\"c\"", 3, {"\"a", "b\"", "c"}, false},
        {"every Kugirimoji byte separates", "a;b,c", 3, {"a", "b", "c"}, false, ",;"},
    };
    for (const Row& row : rows) {
        TVexo_CSV csv;
        csv.ItemCount = row.itemCount;
        csv.Kugirimoji = row.kugirimoji;
        csv.Items[2] = "stale";
        csv.SplitLine(row.line);
        EXPECT_EQ(items(csv), row.fields) << row.name;
        EXPECT_EQ(csv.ErrorDetect, row.error) << row.name;
    }
}

TEST_F(VexoCsvFile, WrittenRecordsReadBack) {
    writeAll(path, std::string(100, 'o') + "\r\n"); // an older, longer file is emptied first
    TVexo_CSV out;
    out.ItemCount = 3;
    out.OpenWrite(path);
    ASSERT_FALSE(out.ErrorDetect);
    out.Items[1] = "a";
    out.Items[2] = "b";
    out.Items[3] = "c";
    out.WriteRecord();
    EXPECT_EQ(out.text, "\"a\",\"b\",\"c\"");
    out.Items[1] = "\x88\xb6"; // a Shift-JIS character
    out.Items[2] = "";
    out.Items[3] = "z";
    out.WriteRecord();
    out.CloseFile();
    EXPECT_EQ(readAll(path), "\"a\",\"b\",\"c\"\r\n\"\x88\xb6\",\"\",\"z\"\r\n");

    TVexo_CSV in;
    in.ItemCount = 3;
    in.OpenRead(path);
    in.ReadRecord();
    EXPECT_EQ(items(in), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_FALSE(in.eof);
    in.ReadRecord();
    EXPECT_EQ(items(in), (std::vector<std::string>{"\x88\xb6", "", "z"}));
    EXPECT_TRUE(in.eof);
}

TEST_F(VexoCsvFile, CommaOrQuoteInsideAFieldDoesNotSurvive) {
    TVexo_CSV out;
    out.ItemCount = 3;
    out.OpenWrite(path);
    out.Items[1] = "x,y";
    out.Items[2] = "b";
    out.Items[3] = "c";
    out.WriteRecord();
    out.Items[1] = "ab\"cd";
    out.Items[2] = "e";
    out.Items[3] = "f";
    out.WriteRecord();
    out.CloseFile();

    const auto records = readFile(readAll(path), 3);
    ASSERT_EQ(records.size(), 2u);
    // Each part keeps its one quotation mark; the last field is pushed out.
    EXPECT_EQ(records[0].fields, (std::vector<std::string>{"\"x", "y\"", "b"}));
    EXPECT_EQ(records[1].fields, (std::vector<std::string>{"ab", "e", "f"}));
}

TEST_F(VexoCsvFile, LineEndsAndEndOfData) {
    struct Row {
        const char* name;
        std::string bytes;
        std::vector<std::vector<std::string>> records;
        bool lfEndsLine = false;
    };
    const std::vector<Row> rows = {
        {"empty file gives one empty record", "", {{"", ""}}},
        {"LF alone ends a line when asked to", "a,b\nc,d\n\n\ne,f", {{"a", "b"}, {"c", "d"}, {"e", "f"}}, true},
        {"CR LF stays one line end then", "a,b\r\n\r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}, true},
        {"LF alone stays in the line", "a,b\nc,d\n", {{"a", "b\nc"}}},
        {"CR alone ends a line", "a,b\rc,d", {{"a", "b"}, {"c", "d"}}},
        {"empty lines inside are skipped", "a,b\r\n\r\n  \r\nc,d\r\n", {{"a", "b"}, {"c", "d"}}},
        {"a leading empty line gives an empty record", "\r\na,b\r\n", {{"", ""}, {"a", "b"}}},
        {"0x1A ends the data", "a,b\r\n\x1A" "c,d\r\n", {{"a", "b"}}},
        {"0x1A inside a line ends it", "a,b\x1A,c\r\nx,y", {{"a", "b"}}},
        {"no CR LF after the last line", "a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
    };
    for (const Row& row : rows) {
        const auto records = readFile(row.bytes, 2, row.lfEndsLine);
        std::vector<std::vector<std::string>> fields;
        for (const Record& r : records)
            fields.push_back(r.fields);
        EXPECT_EQ(fields, row.records) << row.name;
        ASSERT_FALSE(records.empty());
        EXPECT_TRUE(records.back().eof) << row.name;
    }
}

TEST_F(VexoCsvFile, LongLinesCrossTheBuffer) {
    const std::string big(200000, 'x');
    std::string bytes;
    for (int i = 0; i < 3; ++i)
        bytes += "\"" + big + "\",\"" + std::to_string(i) + "\"\r\n";
    const auto records = readFile(bytes, 2);
    ASSERT_EQ(records.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(records[static_cast<std::size_t>(i)].fields, (std::vector<std::string>{big, std::to_string(i)}));
}

TEST_F(VexoCsvFile, FailedOpensOnlySetErrorDetect) {
    TVexo_CSV csv;
    csv.ItemCount = 2;
    csv.OpenRead(dir.filePath(QStringLiteral("missing.csv")).toStdString());
    EXPECT_TRUE(csv.ErrorDetect);
    EXPECT_FALSE(csv.isOpen());

    csv.OpenRead(dir.path().toStdString()); // a folder
    EXPECT_TRUE(csv.ErrorDetect);

    TVexo_CSV unnamed;
    unnamed.OpenRead();
    EXPECT_TRUE(unnamed.ErrorDetect);
    unnamed.OpenWrite();
    EXPECT_TRUE(unnamed.ErrorDetect);

    TVexo_CSV nowhere;
    nowhere.OpenWrite(dir.filePath(QStringLiteral("no/such/folder.csv")).toStdString());
    EXPECT_TRUE(nowhere.ErrorDetect);

    // Opening an open component fails and leaves it open.
    writeAll(path, "a,b\r\n");
    TVexo_CSV twice;
    twice.ItemCount = 2;
    twice.OpenRead(path);
    ASSERT_FALSE(twice.ErrorDetect);
    twice.OpenRead(path);
    EXPECT_TRUE(twice.ErrorDetect);
    EXPECT_TRUE(twice.isOpen());
    twice.ReadRecord();
    EXPECT_EQ(items(twice), (std::vector<std::string>{"a", "b"}));
}

} // namespace
