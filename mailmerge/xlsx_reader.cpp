#include "mailmerge/xlsx_reader.h"

#include "common/errors.h"

#include <quazip.h>
#include <quazipfile.h>
#include <quazipfileinfo.h>

#include <QFileInfo>
#include <QHash>
#include <QXmlStreamReader>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

namespace tessaly {

namespace {

// No part of a workbook of recipients comes near this; a larger one is a zip bomb or no table.
constexpr qint64 kMaxPartBytes = 512LL * 1024 * 1024;
// Excel's last column, XFD.
constexpr int kMaxColumns = 16384;

std::string formatted(const char* format, int precision, double value) {
    char text[512];
    std::snprintf(text, sizeof text, format, precision, value);
    return text;
}

// "1234567.5" -> "1,234,567.5"
std::string grouped(const std::string& number) {
    const std::size_t start = number.starts_with('-') ? 1 : 0;
    std::size_t end = number.find('.');
    if (end == std::string::npos)
        end = number.size();
    std::string out = number.substr(0, start);
    for (std::size_t i = start; i < end; ++i) {
        out += number[i];
        const std::size_t left = end - i - 1;
        if (left > 0 && left % 3 == 0)
            out += ',';
    }
    return out + number.substr(end);
}

struct NumberFormat {
    enum Kind { General, Fixed, Date, Time, Text } kind = General;
    int decimals = 0;
    bool grouping = false;
    bool percent = false;
    bool seconds = false;
    std::string prefix, suffix; // literal text around the number ("¥", "円")
};

// What a format code's first section asks for; literal texts, colours and locales stripped.
NumberFormat classify(const std::string& code) {
    NumberFormat f;
    if (code.empty() || code == "General")
        return f;
    if (code == "@") {
        f.kind = NumberFormat::Text;
        return f;
    }
    std::string pattern; // the code without its literals
    bool seenPlaceholder = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == ';')
            break;
        std::string literal;
        if (c == '"') {
            const std::size_t end = code.find('"', i + 1);
            literal = code.substr(i + 1, (end == std::string::npos ? code.size() : end) - i - 1);
            i = end == std::string::npos ? code.size() : end;
        } else if (c == '\\' && i + 1 < code.size()) {
            // One escaped character, which may be several UTF-8 bytes.
            std::size_t len = 1;
            while (i + 1 + len < code.size() && (static_cast<unsigned char>(code[i + 1 + len]) & 0xC0) == 0x80)
                ++len;
            literal = code.substr(i + 1, len);
            i += len;
        } else if (c == '[') {
            const std::size_t end = code.find(']', i);
            const std::string inside = code.substr(i + 1, (end == std::string::npos ? code.size() : end) - i - 1);
            if (inside.starts_with('$')) // [$¥-411]: a currency symbol and a locale
                literal = inside.substr(1, inside.find('-') == std::string::npos ? std::string::npos
                                                                                 : inside.find('-') - 1);
            else if (!inside.empty() && (inside[0] == 'h' || inside[0] == 'm' || inside[0] == 's'))
                pattern += inside; // elapsed time
            i = end == std::string::npos ? code.size() : end;
        } else if (c == '_' || c == '*') {
            ++i; // room for a character, or a fill
        } else {
            if (c == '0' || c == '#' || c == '?')
                seenPlaceholder = true;
            pattern += c;
            continue;
        }
        (seenPlaceholder ? f.suffix : f.prefix) += literal;
    }
    bool date = false, time = false;
    for (const char raw : pattern) {
        const char c = static_cast<char>(std::tolower(static_cast<unsigned char>(raw)));
        if (c == 'y' || c == 'd' || c == 'e' || c == 'g')
            date = true;
        else if (c == 'h' || c == 's')
            time = true;
        if (c == 's')
            f.seconds = true;
    }
    if (!date && !time && pattern.find_first_of("mM") != std::string::npos)
        date = true;
    if (date) {
        f.kind = NumberFormat::Date;
        f.prefix.clear();
        f.suffix.clear();
        return f;
    }
    if (time) {
        f.kind = NumberFormat::Time;
        f.prefix.clear();
        f.suffix.clear();
        return f;
    }
    if (pattern.find_first_of("eE") != std::string::npos || !seenPlaceholder)
        return {};
    f.kind = NumberFormat::Fixed;
    f.percent = pattern.find('%') != std::string::npos;
    const std::size_t point = pattern.find('.');
    const std::size_t firstPlaceholder = pattern.find_first_of("0#?");
    const std::size_t lastPlaceholder = pattern.find_last_of("0#?");
    const std::size_t comma = pattern.find(',');
    f.grouping = comma != std::string::npos && comma > firstPlaceholder && comma < lastPlaceholder &&
                 (point == std::string::npos || comma < point);
    if (point != std::string::npos)
        for (std::size_t i = point + 1; i < pattern.size(); ++i)
            if (pattern[i] == '0' || pattern[i] == '#' || pattern[i] == '?')
                ++f.decimals;
    return f;
}

std::string twoDigits(long long v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02lld", v);
    return text;
}

std::string generalText(double value) {
    if (std::floor(value) == value && std::fabs(value) < 1e15)
        return formatted("%.*f", 0, value);
    std::string text = formatted("%.*g", 15, value);
    for (char& c : text)
        if (c == 'e')
            c = 'E';
    return text;
}

} // namespace

std::string XlsxBuiltinFormat(int id) {
    switch (id) {
    case 1: return "0";
    case 2: return "0.00";
    case 3: return "#,##0";
    case 4: return "#,##0.00";
    case 9: return "0%";
    case 10: return "0.00%";
    case 14: case 15: case 16: case 17: case 22:
    case 27: case 28: case 29: case 30: case 31: case 34: case 35: case 36:
    case 50: case 51: case 52: case 53: case 54: case 57: case 58:
        return "yyyy/mm/dd";
    case 18: case 20: return "h:mm";
    case 19: case 21: case 45: case 46: case 47: return "h:mm:ss";
    case 32: case 33: case 55: case 56: return "h:mm";
    case 37: case 38: return "#,##0";
    case 39: case 40: return "#,##0.00";
    case 49: return "@";
    default: return "General";
    }
}

std::string XlsxNumberText(double value, const std::string& formatCode, bool date1904) {
    if (!std::isfinite(value))
        return generalText(value);
    const NumberFormat f = classify(formatCode);
    switch (f.kind) {
    case NumberFormat::General:
    case NumberFormat::Text:
        return generalText(value);
    case NumberFormat::Fixed: {
        const double shown = f.percent ? value * 100 : value;
        std::string number = formatted("%.*f", f.decimals, shown);
        if (number.starts_with('-') && number.find_first_not_of("-0.") == std::string::npos)
            number.erase(0, 1); // Excel shows no sign on a value that rounds to zero
        if (f.grouping)
            number = grouped(number);
        return f.prefix + number + (f.percent ? "%" : "") + f.suffix;
    }
    case NumberFormat::Date: {
        using namespace std::chrono;
        long long serial = static_cast<long long>(std::floor(value));
        // Excel's 1900 system counts 29 February 1900, which never was: serials from 61 on are
        // days since 30 December 1899, those below 60 one day later.
        sys_days base = date1904 ? sys_days(1904y / January / 1)
                        : serial < 60 ? sys_days(1899y / December / 31)
                                      : sys_days(1899y / December / 30);
        const year_month_day d{base + days(serial)};
        return std::to_string(static_cast<int>(d.year())) + "/" +
               twoDigits(static_cast<unsigned>(d.month())) + "/" +
               twoDigits(static_cast<unsigned>(d.day()));
    }
    case NumberFormat::Time: {
        const double fraction = value - std::floor(value);
        long long secondsOfDay = std::llround(fraction * 86400.0) % 86400;
        std::string text = std::to_string(secondsOfDay / 3600) + ":" + twoDigits(secondsOfDay / 60 % 60);
        if (f.seconds)
            text += ":" + twoDigits(secondsOfDay % 60);
        return text;
    }
    }
    return generalText(value);
}

namespace {

class Workbook {
public:
    explicit Workbook(const QString& path) : zip_(path), name_(QFileInfo(path).fileName()) {
        if (!QFileInfo(path).isFile() || !zip_.open(QuaZip::mdUnzip))
            damaged();
    }
    ~Workbook() { zip_.close(); }

    [[noreturn]] void damaged() const {
        throw Error(QStringLiteral("Excel ファイル「%1」を読み込めませんでした（壊れているか、.xlsx "
                                   "形式ではありません）。Excel で開いて保存し直してください。")
                        .arg(name_)
                        .toStdString());
    }

    // Reads one part of the zip with `read`; false when there is no such part.
    template <typename Read> bool part(const QString& name, Read read) {
        if (!zip_.setCurrentFile(name))
            return false;
        QuaZipFileInfo64 info;
        if (!zip_.getCurrentFileInfo(&info) || static_cast<qint64>(info.uncompressedSize) > kMaxPartBytes)
            damaged();
        QuaZipFile file(&zip_);
        if (!file.open(QIODevice::ReadOnly))
            damaged();
        QXmlStreamReader xml(&file);
        read(xml);
        if (xml.hasError())
            damaged();
        file.close();
        if (file.getZipError() != UNZ_OK)
            damaged();
        return true;
    }

private:
    QuaZip zip_;
    QString name_;
};

QString attribute(const QXmlStreamReader& xml, QStringView localName) {
    for (const QXmlStreamAttribute& a : xml.attributes())
        if (a.name() == localName)
            return a.value().toString();
    return {};
}

// "_x000D_" and the like: characters XML cannot carry as they are.
QString unescaped(QString text) {
    if (!text.contains(QStringLiteral("_x")))
        return text;
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'_' && i + 6 < text.size() && text[i + 1] == u'x' && text[i + 6] == u'_') {
            bool ok = false;
            const uint code = text.mid(i + 2, 4).toUInt(&ok, 16);
            if (ok) {
                out += QChar(static_cast<char16_t>(code));
                i += 6;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

// The text of an <si> or <is> element: its <t>, or the <t> of every run; the reading aid
// (<rPh>, furigana) is not part of the value.
QString stringItem(QXmlStreamReader& xml) {
    QString text;
    int depth = 0; // elements open inside the item
    while (!xml.atEnd()) {
        const auto token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (xml.name() == u"t")
                text += xml.readElementText();
            else if (xml.name() == u"rPh" || xml.name() == u"phoneticPr")
                xml.skipCurrentElement();
            else
                ++depth;
        } else if (token == QXmlStreamReader::EndElement) {
            if (depth == 0)
                break;
            --depth;
        }
    }
    return unescaped(text);
}

int columnOf(QStringView ref) {
    int column = 0;
    for (const QChar c : ref) {
        if (c < u'A' || c > u'Z')
            break;
        column = column * 26 + (c.unicode() - u'A' + 1);
        if (column > kMaxColumns)
            return -1;
    }
    return column - 1;
}

} // namespace

MergeTable ReadXlsxTable(const QString& path, const QString& wanted) {
    Workbook book(path);

    struct Sheet {
        QString name, relId;
    };
    std::vector<Sheet> sheets;
    bool date1904 = false;
    if (!book.part(QStringLiteral("xl/workbook.xml"), [&](QXmlStreamReader& xml) {
            while (!xml.atEnd()) {
                if (xml.readNext() != QXmlStreamReader::StartElement)
                    continue;
                if (xml.name() == u"sheet")
                    sheets.push_back({attribute(xml, u"name"), attribute(xml, u"id")});
                else if (xml.name() == u"workbookPr") {
                    const QString v = attribute(xml, u"date1904");
                    date1904 = v == u"1" || v == u"true";
                }
            }
        }) || sheets.empty())
        book.damaged();

    QHash<QString, QString> targets;
    book.part(QStringLiteral("xl/_rels/workbook.xml.rels"), [&](QXmlStreamReader& xml) {
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"Relationship")
                targets.insert(attribute(xml, u"Id"), attribute(xml, u"Target"));
    });

    std::vector<std::string> shared;
    book.part(QStringLiteral("xl/sharedStrings.xml"), [&](QXmlStreamReader& xml) {
        while (!xml.atEnd())
            if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"si")
                shared.push_back(stringItem(xml).toStdString());
    });

    // Cell style index -> number format code.
    std::vector<std::string> styleFormats;
    book.part(QStringLiteral("xl/styles.xml"), [&](QXmlStreamReader& xml) {
        QHash<int, std::string> custom;
        bool inCellXfs = false;
        while (!xml.atEnd()) {
            const auto token = xml.readNext();
            if (token == QXmlStreamReader::EndElement && xml.name() == u"cellXfs")
                inCellXfs = false;
            if (token != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"numFmt")
                custom.insert(attribute(xml, u"numFmtId").toInt(),
                              attribute(xml, u"formatCode").toStdString());
            else if (xml.name() == u"cellXfs")
                inCellXfs = true;
            else if (inCellXfs && xml.name() == u"xf") {
                const int id = attribute(xml, u"numFmtId").toInt();
                styleFormats.push_back(custom.contains(id) ? custom.value(id) : XlsxBuiltinFormat(id));
            }
        }
    });

    MergeTable table;
    for (const Sheet& s : sheets)
        table.sheets << s.name;
    const Sheet* chosen = &sheets.front();
    if (!wanted.isEmpty()) {
        chosen = nullptr;
        for (const Sheet& s : sheets)
            if (s.name == wanted)
                chosen = &s;
        if (!chosen)
            throw Error(QStringLiteral("Excel ファイル「%1」にシート「%2」がありません。")
                            .arg(QFileInfo(path).fileName(), wanted)
                            .toStdString());
    }
    QString target = targets.value(chosen->relId);
    if (target.isEmpty())
        book.damaged();
    target = target.startsWith(u'/') ? target.mid(1) : QStringLiteral("xl/") + target;

    std::vector<std::vector<std::string>> cells;
    std::vector<int> rowNumbers;
    const bool found = book.part(target, [&](QXmlStreamReader& xml) {
        int rowNumber = 0;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == u"row") {
                const int r = attribute(xml, u"r").toInt();
                rowNumber = r > 0 ? r : rowNumber + 1;
                cells.emplace_back();
                rowNumbers.push_back(rowNumber);
                continue;
            }
            if (xml.name() != u"c" || cells.empty())
                continue;
            std::vector<std::string>& row = cells.back();
            const QString ref = attribute(xml, u"r");
            const int column = ref.isEmpty() ? static_cast<int>(row.size()) : columnOf(ref);
            if (column < 0 || column >= kMaxColumns)
                book.damaged();
            const QString type = attribute(xml, u"t");
            const int style = attribute(xml, u"s").toInt();
            QString raw;
            bool inlineText = false;
            while (xml.readNextStartElement()) {
                if (xml.name() == u"v") {
                    raw = xml.readElementText();
                } else if (xml.name() == u"is") {
                    raw = stringItem(xml);
                    inlineText = true;
                } else {
                    xml.skipCurrentElement();
                }
            }
            std::string value;
            if (inlineText || type == u"inlineStr" || type == u"str") {
                value = unescaped(raw).toStdString();
            } else if (type == u"s") {
                bool ok = false;
                const qsizetype index = raw.toLongLong(&ok);
                if (!ok || index < 0 || static_cast<std::size_t>(index) >= shared.size())
                    book.damaged();
                value = shared[static_cast<std::size_t>(index)];
            } else if (type == u"b") {
                value = raw == u"1" ? "TRUE" : "FALSE";
            } else if (type == u"e" || type == u"d") {
                value = raw.toStdString();
            } else if (!raw.isEmpty()) {
                bool ok = false;
                const double number = raw.toDouble(&ok);
                if (!ok)
                    book.damaged();
                const std::string& code =
                    style >= 0 && static_cast<std::size_t>(style) < styleFormats.size()
                        ? styleFormats[static_cast<std::size_t>(style)]
                        : std::string("General");
                value = XlsxNumberText(number, code, date1904);
            }
            if (row.size() <= static_cast<std::size_t>(column))
                row.resize(static_cast<std::size_t>(column) + 1);
            row[static_cast<std::size_t>(column)] = std::move(value);
        }
    });
    if (!found)
        book.damaged();

    MergeTable read = MergeTableFromCells(std::move(cells), true, std::move(rowNumbers));
    read.source = TableSource::Xlsx;
    read.sheet = chosen->name;
    read.sheets = table.sheets;
    return read;
}

} // namespace tessaly
