// The first sheet (or a chosen one) of an Excel .xlsx workbook as a merge table: the zip is
// opened with QuaZip, its parts read with QXmlStreamReader. Strings (shared and inline), numbers
// as Excel shows them in the common formats, dates as yyyy/mm/dd.
#pragma once

#include "mailmerge/merge_table.h"

#include <QString>
#include <string>

namespace tessaly {

// Raises tessaly::Error with the Japanese text to show when the workbook cannot be read.
MergeTable ReadXlsxTable(const QString& path, const QString& sheet = {});

// A number as Excel shows it under the number format `formatCode` (built-in formats are given by
// their code); `date1904` for workbooks that count days from 1904. UTF-8.
std::string XlsxNumberText(double value, const std::string& formatCode, bool date1904 = false);

// The format code of a built-in number format, "General" when the id is none of the common ones.
std::string XlsxBuiltinFormat(int id);

} // namespace tessaly
