// A table of recipients and their own values: a header row naming the columns, then one row per
// recipient. Read from CSV (UTF-8 with or without a byte order mark, or Shift-JIS, told apart by
// the bytes) or from an Excel .xlsx workbook. Every value is held as code page 932 bytes, like
// every other text the program mails; a character code page 932 cannot hold refuses the table.
#pragma once

#include <QString>
#include <QStringList>

#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

enum class TableSource { CsvUtf8Bom, CsvUtf8, CsvShiftJis, Xlsx };

struct MergeRow {
    int rowNumber = 0;                    // as the spreadsheet numbers it: the header is row 1
    std::vector<std::string> valuesSjis;  // one per column, empty when the row has none
};

struct MergeTable {
    QString path;
    TableSource source = TableSource::CsvShiftJis;
    QString sheet;                        // the sheet read (.xlsx only)
    QStringList sheets;                   // every sheet of the workbook (.xlsx only)
    std::vector<std::string> columnsSjis; // the header row, trimmed
    std::vector<MergeRow> rows;           // rows whose every value is empty are left out

    // The column named `nameSjis`; -1 when there is none.
    int column(std::string_view nameSjis) const;
    // "CSV（UTF-8）", "Excel（Sheet1）"...: what was read, for the window and the status bar.
    QString sourceText() const;
};

// The cells of a CSV file as Excel writes them: fields separated by commas, a field in double
// quotation marks may hold commas, line breaks and doubled quotation marks; records end at CR LF,
// LF or CR. Byte strings in, byte strings out: the quotation mark, the comma and the line ends
// never occur inside a Shift-JIS or UTF-8 character. An unclosed quotation mark raises
// tessaly::Error naming the record it began in.
std::vector<std::vector<std::string>> ParseCsvRecords(std::string_view bytes);

// Reads the CSV bytes; the encoding is detected and reported in `source`. Raises tessaly::Error
// with the Japanese text to show when the bytes are no table.
MergeTable MergeTableFromCsv(std::string_view bytes);

// The header and rows from cells in UTF-8 (from a workbook or a UTF-8 CSV) or already Shift-JIS;
// `rowNumbers` gives each cell row's number (empty: 1, 2, 3...).
MergeTable MergeTableFromCells(std::vector<std::vector<std::string>> cells, bool utf8,
                               std::vector<int> rowNumbers = {});

// The table in the file at `path`: .xlsx (the sheet named `sheet`, or the first when empty)
// or CSV. Raises tessaly::Error with the Japanese text to show.
MergeTable ReadMergeTable(const QString& path, const QString& sheet = {});

} // namespace tessaly
