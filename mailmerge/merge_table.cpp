#include "mailmerge/merge_table.h"

#include "address/utf8_address_file.h"
#include "common/cp932.h"
#include "common/errors.h"
#include "mailmerge/xlsx_reader.h"

#include <QFile>
#include <QFileInfo>

namespace tessaly {

namespace {

// A table is read whole into memory; a file beyond this is no list of recipients.
constexpr qint64 kMaxTableBytes = 256LL * 1024 * 1024;

[[noreturn]] void refuse(const QString& text) { throw Error(text.toStdString()); }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

bool allEmpty(const std::vector<std::string>& values) {
    for (const std::string& v : values)
        if (!trimmed(v).empty())
            return false;
    return true;
}

} // namespace

int MergeTable::column(std::string_view nameSjis) const {
    for (std::size_t i = 0; i < columnsSjis.size(); ++i)
        if (columnsSjis[i] == nameSjis)
            return static_cast<int>(i);
    return -1;
}

QString MergeTable::sourceText() const {
    switch (source) {
    case TableSource::CsvUtf8Bom: return QStringLiteral("CSV（UTF-8 BOM付き）");
    case TableSource::CsvUtf8: return QStringLiteral("CSV（UTF-8）");
    case TableSource::CsvShiftJis: return QStringLiteral("CSV（Shift-JIS）");
    case TableSource::Xlsx: return QStringLiteral("Excel（%1）").arg(sheet);
    }
    return {};
}

std::vector<std::vector<std::string>> ParseCsvRecords(std::string_view b) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    std::size_t i = 0;
    const std::size_t n = b.size();
    bool atRecordStart = true;
    while (i < n) {
        if (b[i] == '"') {
            // Quoted: up to the quotation mark that is not doubled; what follows it up to the
            // separator stays too, as Excel reads such a field.
            ++i;
            for (;;) {
                const std::size_t q = b.find('"', i);
                if (q == std::string_view::npos)
                    throw Error(QStringLiteral("差し込みデータの %1 行目の引用符（\"）が閉じていません。"
                                               "ファイルを確かめてください。")
                                    .arg(records.size() + 1)
                                    .toStdString());
                field.append(b.substr(i, q - i));
                i = q + 1;
                if (i < n && b[i] == '"') {
                    field += '"';
                    ++i;
                    continue;
                }
                break;
            }
        }
        // A plain loop: find_first_of with a set searches the set once per byte of the text.
        std::size_t end = i;
        while (end < n && b[end] != ',' && b[end] != '\r' && b[end] != '\n')
            ++end;
        field.append(b.substr(i, end - i));
        i = end;
        atRecordStart = false;
        record.push_back(std::move(field));
        field.clear();
        if (i >= n)
            break;
        if (b[i] == ',') {
            ++i;
            if (i >= n)
                record.emplace_back(); // a last comma ends an empty last field
            continue;
        }
        // A line end: CR LF, CR or LF.
        if (b[i] == '\r' && i + 1 < n && b[i + 1] == '\n')
            ++i;
        ++i;
        const std::size_t width = record.size();
        records.push_back(std::move(record));
        record.clear();
        record.reserve(width); // the next record is most likely as wide
        atRecordStart = true;
    }
    if (!atRecordStart || !record.empty())
        records.push_back(std::move(record));
    return records;
}

MergeTable MergeTableFromCells(std::vector<std::vector<std::string>> cells, bool utf8,
                               std::vector<int> rowNumbers) {
    const auto numberOf = [&](std::size_t i) {
        return i < rowNumbers.size() ? rowNumbers[i] : static_cast<int>(i) + 1;
    };
    MergeTable table;
    std::size_t first = 0;
    while (first < cells.size() && allEmpty(cells[first]))
        ++first;
    if (first == cells.size())
        refuse(QStringLiteral("差し込みデータに見出しの行がありません。1 行目に列名を入れてください。"));

    // Cells to code page 932, each by itself, so that a refusal names the row and the column.
    const auto sjis = [&](std::string& cell, std::size_t row, std::size_t col) {
        if (!utf8)
            return;
        cp932::EncodeResult r = cp932::fromUtf8(cell);
        if (!r.ok()) {
            const char32_t c = r.refused.front().codePoint;
            const QString column =
                col < table.columnsSjis.size()
                    ? QString::fromStdString(cp932::toUtf8(table.columnsSjis[col]))
                    : QString::number(col + 1);
            refuse(QStringLiteral("差し込みデータの %1 行目「%2」列の「%3」(U+%4)は Shift-JIS に"
                                  "ない文字です。別の文字に直してください。")
                       .arg(numberOf(row))
                       .arg(column, QString::fromUcs4(&c, 1),
                            QStringLiteral("%1").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'))
                                .toUpper()));
        }
        cell = std::move(r.bytes);
    };

    for (std::size_t c = 0; c < cells[first].size(); ++c) {
        std::string& name = cells[first][c];
        sjis(name, first, c);
        name = std::string(trimmed(name));
    }
    // Empty names at the end are no columns (a spreadsheet's trailing separators).
    std::vector<std::string>& header = cells[first];
    while (!header.empty() && header.back().empty())
        header.pop_back();
    for (std::size_t c = 0; c < header.size(); ++c)
        for (std::size_t d = 0; d < c; ++d)
            if (!header[c].empty() && header[c] == header[d])
                refuse(QStringLiteral("差し込みデータの列名「%1」が 2 つあります。"
                                      "列名をそれぞれ別のものにしてください。")
                           .arg(QString::fromStdString(cp932::toUtf8(header[c]))));
    table.columnsSjis = std::move(header);

    const std::size_t width = table.columnsSjis.size();
    table.rows.reserve(cells.size() - first - 1);
    for (std::size_t r = first + 1; r < cells.size(); ++r) {
        std::vector<std::string>& values = cells[r];
        values.resize(width); // values beyond the named columns belong to no field
        if (allEmpty(values))
            continue;
        for (std::size_t c = 0; c < width; ++c)
            sjis(values[c], r, c);
        table.rows.push_back({numberOf(r), std::move(values)});
    }
    return table;
}

MergeTable MergeTableFromCsv(std::string_view bytes) {
    TableSource source = TableSource::CsvShiftJis;
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        bytes.remove_prefix(3);
        source = TableSource::CsvUtf8Bom;
    } else if (LooksLikeUtf8Text(bytes)) {
        source = TableSource::CsvUtf8;
    } else if (!cp932::isValid(bytes)) {
        refuse(QStringLiteral("差し込みデータの文字コードを読み取れません。"
                              "UTF-8 か Shift-JIS の CSV で保存してください。"));
    }
    // A UTF-8 file is converted whole: the separators, quotation marks and line ends are the same
    // bytes in both codes, and one conversion costs far less than one per cell. Only a file with
    // a character Shift-JIS lacks is converted cell by cell, so that the refusal names the cell.
    MergeTable table;
    if (source == TableSource::CsvShiftJis) {
        table = MergeTableFromCells(ParseCsvRecords(bytes), false);
    } else if (cp932::EncodeResult whole = cp932::fromUtf8(bytes); whole.ok()) {
        table = MergeTableFromCells(ParseCsvRecords(whole.bytes), false);
    } else {
        table = MergeTableFromCells(ParseCsvRecords(bytes), true);
    }
    table.source = source;
    return table;
}

MergeTable ReadMergeTable(const QString& path, const QString& sheet) {
    const QFileInfo info(path);
    if (info.suffix().compare(QStringLiteral("xlsx"), Qt::CaseInsensitive) == 0) {
        MergeTable table = ReadXlsxTable(path, sheet);
        table.path = path;
        return table;
    }
    QFile file(path);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        refuse(QStringLiteral("差し込みデータ「%1」を読み込めませんでした。ファイルを確かめてください。")
                   .arg(info.fileName()));
    if (file.size() > kMaxTableBytes)
        refuse(QStringLiteral("差し込みデータ「%1」が大きすぎます（256 MB まで）。")
                   .arg(info.fileName()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        refuse(QStringLiteral("差し込みデータ「%1」を読み込めませんでした。ファイルを確かめてください。")
                   .arg(info.fileName()));
    MergeTable table =
        MergeTableFromCsv(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    table.path = path;
    return table;
}

} // namespace tessaly
