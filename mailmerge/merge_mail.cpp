#include "mailmerge/merge_mail.h"

#include "address/address_book.h"
#include "common/cp932.h"
#include "common/errors.h"
#include "common/regular_file.h"
#include "common/sjis_bytes.h"
#include "common/text.h"
#include "sending/run_checks.h"

#include <QDir>
#include <QFileInfo>

#include <map>
#include <sys/stat.h>

namespace tessaly {

const char* const kAddressBookFields[4] = {"宛先名", "メールアドレス", "グループ", "メンバー"};

namespace {

// A table's addresses go to the server as typed in the table, so they are held to what a server
// takes in MAIL and RCPT (a "+" in a local part is fine), as every recipient of a run is.
bool usableAddress(std::string_view address) { return MailboxFault(address).isEmpty(); }

// Position of "{{" or "}}" (`pair`) at a character boundary of the Shift-JIS text, from `from`.
std::size_t findPair(std::string_view s, char pair, std::size_t from) {
    for (std::size_t i = from; i + 1 < s.size();) {
        if (s[i] == pair && s[i + 1] == pair)
            return i;
        i += isSjisLeadByte(static_cast<unsigned char>(s[i])) ? 2 : 1;
    }
    return std::string_view::npos;
}

// Calls `field(name, begin, end)` for each field of the text, `end` past its "}}".
template <typename Field> void eachField(std::string_view s, Field field) {
    std::size_t pos = 0;
    for (;;) {
        const std::size_t open = findPair(s, '{', pos);
        if (open == std::string_view::npos)
            return;
        const std::size_t close = findPair(s, '}', open + 2);
        if (close == std::string_view::npos)
            return;
        field(trimBlanks(s.substr(open + 2, close - open - 2)), open, close + 2);
        pos = close + 2;
    }
}

std::vector<std::string> splitList(std::string_view value, std::string_view separators) {
    std::vector<std::string> items;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= value.size(); ++i) {
        if (i == value.size() || separators.find(value[i]) != std::string_view::npos) {
            const std::string_view item = trimBlanks(value.substr(start, i - start));
            if (!item.empty())
                items.emplace_back(item);
            start = i + 1;
        }
    }
    return items;
}

bool hasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

// "2, 5, 7 行目", at most ten numbers; `unit` is "行" for a table's rows, "件" for the list's entries.
QString rowList(const std::vector<int>& rows, const QString& unit) {
    QStringList shown;
    for (std::size_t i = 0; i < rows.size() && i < 10; ++i)
        shown << QString::number(rows[i]);
    QString text = shown.join(QStringLiteral(", ")) + QStringLiteral(" %1目").arg(unit);
    if (rows.size() > 10)
        text += QStringLiteral("ほか %1 %2").arg(rows.size() - 10).arg(unit);
    return text;
}

QString text(std::string_view sjis) { return fromSjis(sjis); }

bool headerLike(const QString& name, std::initializer_list<const char16_t*> words) {
    const QString folded = name.toCaseFolded().remove(QLatin1Char(' ')).remove(QLatin1Char('-'));
    for (const char16_t* w : words)
        if (folded.contains(QString::fromUtf16(w)))
            return true;
    return false;
}

bool headerIs(const QString& name, std::initializer_list<const char16_t*> words) {
    const QString folded = name.trimmed().toCaseFolded();
    for (const char16_t* w : words)
        if (folded == QString::fromUtf16(w))
            return true;
    return false;
}

// Every field of the mail once, the Subject's first; the first `subjectCount` are in the Subject.
std::vector<std::string> mailFields(std::string_view subjectSjis, const std::vector<std::string>& bodyShownSjis,
                                    std::size_t& subjectCount) {
    std::vector<std::string> fields = FieldNames(subjectSjis);
    subjectCount = fields.size();
    for (const std::string& line : bodyShownSjis)
        for (std::string& name : FieldNames(line))
            if (std::find(fields.begin(), fields.end(), name) == fields.end())
                fields.push_back(std::move(name));
    return fields;
}

// The column of each field; the fields the table does not have, as "{{名前}}", in `unknown`.
std::vector<int> columnsOf(const std::vector<std::string>& fields, const MergeTable& table, QStringList& unknown) {
    std::vector<int> columns;
    for (const std::string& name : fields) {
        const int column = name.empty() ? -1 : table.column(name);
        if (column < 0)
            unknown << QStringLiteral("{{%1}}").arg(text(name));
        columns.push_back(column);
    }
    return columns;
}

// Every empty value and every line break in the Subject, per field: what keeps rows from being
// sent, for one message that names them all.
QStringList valueProblems(const std::vector<std::string>& fields, std::size_t subjectCount,
                          const std::vector<int>& fieldColumns, const std::vector<MergeRow>& rows,
                          const QString& unit) {
    QStringList problems;
    for (std::size_t f = 0; f < fields.size(); ++f) {
        std::vector<int> empty, broken;
        const auto column = static_cast<std::size_t>(fieldColumns[f]);
        const bool inSubject = f < subjectCount;
        for (const MergeRow& row : rows) {
            const std::string& v = row.valuesSjis[column];
            if (trimBlanks(v).empty())
                empty.push_back(row.rowNumber);
            else if (inSubject && hasLineBreak(v))
                broken.push_back(row.rowNumber);
        }
        if (!empty.empty())
            problems << QStringLiteral("「%1」が空です：%2").arg(text(fields[f]), rowList(empty, unit));
        if (!broken.empty())
            problems << QStringLiteral("件名に入る「%1」に改行があります：%2")
                            .arg(text(fields[f]), rowList(broken, unit));
    }
    return problems;
}

// The Subject and the body split once into their text and their fields, each field as its
// table column: a row's texts are put together from the pieces, without every line of every row
// searched for fields again.
class MailTemplate {
public:
    MailTemplate(std::string_view subjectSjis, const std::vector<std::string>& bodyShownSjis,
                 const MergeTable& table)
        : body_(bodyShownSjis), subject_(split(subjectSjis, table)) {
        lines_.reserve(bodyShownSjis.size());
        for (const std::string& line : bodyShownSjis)
            lines_.push_back(line.find("{{") == std::string::npos ? Text() : split(line, table));
    }

    // One row's Subject and body; a value's line break starts a new body line.
    RecipientMessage filled(const std::vector<std::string>& valuesSjis) const {
        RecipientMessage m;
        m.subjectSjis = fill(subject_, valuesSjis);
        m.bodyShownSjis.reserve(body_.size());
        for (std::size_t l = 0; l < body_.size(); ++l) {
            // Most lines hold no field: they are each row's as they are.
            if (lines_[l].empty()) {
                m.bodyShownSjis.push_back(body_[l]);
                continue;
            }
            const std::string text = fill(lines_[l], valuesSjis);
            std::size_t start = 0;
            for (std::size_t i = 0; i < text.size(); ++i) {
                if (text[i] != '\r' && text[i] != '\n')
                    continue;
                m.bodyShownSjis.push_back(text.substr(start, i - start));
                if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                    ++i;
                start = i + 1;
            }
            m.bodyShownSjis.push_back(text.substr(start));
        }
        return m;
    }

private:
    // Text followed by the value of a column; -1 when no value follows (the end, or a field the
    // table does not have, which the checks refuse before anything is filled).
    struct Piece {
        std::string_view text;
        int column = -1;
    };
    using Text = std::vector<Piece>;

    static Text split(std::string_view s, const MergeTable& table) {
        Text pieces;
        std::size_t copied = 0;
        eachField(s, [&](std::string_view name, std::size_t begin, std::size_t end) {
            pieces.push_back({s.substr(copied, begin - copied), table.column(name)});
            copied = end;
        });
        pieces.push_back({s.substr(copied), -1});
        return pieces;
    }

    static std::string fill(const Text& pieces, const std::vector<std::string>& values) {
        const auto value = [&](const Piece& p) {
            return p.column < 0 ? std::string_view() : std::string_view(values[static_cast<std::size_t>(p.column)]);
        };
        std::size_t size = 0;
        for (const Piece& p : pieces)
            size += p.text.size() + value(p).size();
        std::string out;
        out.reserve(size);
        for (const Piece& p : pieces) {
            out += p.text;
            out += value(p);
        }
        return out;
    }

    const std::vector<std::string>& body_;
    Text subject_;
    std::vector<Text> lines_; // empty for a line without a field
};

} // namespace

std::vector<std::string> FieldNames(std::string_view sjis) {
    std::vector<std::string> names;
    eachField(sjis, [&](std::string_view name, std::size_t, std::size_t) {
        for (const std::string& n : names)
            if (n == name)
                return;
        names.emplace_back(name);
    });
    return names;
}

std::string FillFields(std::string_view sjis,
                       const std::function<std::string_view(std::string_view)>& value) {
    std::string out;
    std::size_t copied = 0;
    eachField(sjis, [&](std::string_view name, std::size_t begin, std::size_t end) {
        out.append(sjis.substr(copied, begin - copied));
        out.append(value(name));
        copied = end;
    });
    out.append(sjis.substr(copied));
    return out;
}

MergeColumns GuessColumns(const MergeTable& table) {
    MergeColumns c;
    const int n = static_cast<int>(table.columnsSjis.size());
    for (int i = 0; i < n; ++i) {
        const QString name = text(table.columnsSjis[static_cast<std::size_t>(i)]);
        if (c.bcc < 0 && headerIs(name, {u"bcc"}))
            c.bcc = i;
        else if (c.cc < 0 && headerIs(name, {u"cc"}))
            c.cc = i;
        else if (c.address < 0 && headerLike(name, {u"メール", u"mail", u"アドレス", u"address", u"宛先アドレス"}))
            c.address = i;
        else if (c.files < 0 && headerLike(name, {u"添付", u"ファイル", u"attach", u"file"}))
            c.files = i;
        else if (c.name < 0 && headerLike(name, {u"宛先名", u"氏名", u"名前", u"宛名", u"name"}))
            c.name = i;
    }
    if (c.address < 0) {
        // The column most of whose values are addresses.
        std::size_t best = 0;
        for (int i = 0; i < n; ++i) {
            if (i == c.cc || i == c.bcc)
                continue;
            std::size_t count = 0;
            for (const MergeRow& row : table.rows)
                count += usableAddress(row.valuesSjis[static_cast<std::size_t>(i)]);
            if (count > best && count * 2 > table.rows.size()) {
                best = count;
                c.address = i;
            }
        }
    }
    return c;
}

std::vector<UnusableRow> UnusableRows(const MergeTable& table, const MergeColumns& columns) {
    std::vector<UnusableRow> unusable;
    if (columns.address < 0)
        return unusable;
    std::map<std::string, int> seen; // address (lower case) -> first row
    for (const MergeRow& row : table.rows) {
        const std::string address(trimBlanks(row.valuesSjis[static_cast<std::size_t>(columns.address)]));
        if (address.empty()) {
            unusable.push_back({row.rowNumber, QStringLiteral("アドレスが空です")});
            continue;
        }
        if (!usableAddress(address)) {
            unusable.push_back({row.rowNumber, QStringLiteral("アドレスに誤りがあります")});
            continue;
        }
        std::string key = address;
        for (char& ch : key)
            ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        const auto [it, fresh] = seen.emplace(key, row.rowNumber);
        if (!fresh) {
            unusable.push_back({row.rowNumber, QStringLiteral("%1 行目と同じアドレスです").arg(it->second)});
            continue;
        }
        for (const int column : {columns.cc, columns.bcc}) {
            if (column < 0)
                continue;
            for (const std::string& copy : splitList(row.valuesSjis[static_cast<std::size_t>(column)], ";,")) {
                if (!usableAddress(copy)) {
                    unusable.push_back({row.rowNumber,
                                        QStringLiteral("%1 のアドレスに誤りがあります")
                                            .arg(text(table.columnsSjis[static_cast<std::size_t>(column)]))});
                    break;
                }
            }
        }
    }
    return unusable;
}

MergedMail MergeMail(const MergeTable& table, const MergeColumns& columns,
                     std::string_view subjectSjis, const std::vector<std::string>& bodyShownSjis) {
    const auto refuse = [](const QString& t) { throw Error(t.toStdString()); };
    if (columns.address < 0)
        refuse(QStringLiteral("差し込みデータのメールアドレスの列を選んでください。"));

    std::size_t subjectCount = 0;
    const std::vector<std::string> fields = mailFields(subjectSjis, bodyShownSjis, subjectCount);

    QStringList unknown;
    const std::vector<int> fieldColumns = columnsOf(fields, table, unknown);
    if (!unknown.isEmpty())
        refuse(QStringLiteral("差し込みデータに次の列がありません：%1\r\n"
                              "列名を確かめるか、件名・本文の差し込み欄を直してください。")
                   .arg(unknown.join(QStringLiteral("、"))));

    const QStringList problems =
        valueProblems(fields, subjectCount, fieldColumns, table.rows, QStringLiteral("行"));
    if (!problems.isEmpty())
        refuse(QStringLiteral("差し込みデータの次の行は送信できません。\r\n%1\r\n"
                              "値を入れるか、その行を消してください。")
                   .arg(problems.join(QStringLiteral("\r\n"))));

    const std::vector<UnusableRow> unusable = UnusableRows(table, columns);
    if (!unusable.empty()) {
        QStringList lines;
        for (std::size_t i = 0; i < unusable.size() && i < 10; ++i)
            lines << QStringLiteral("%1 行目：%2").arg(unusable[i].rowNumber).arg(unusable[i].reason);
        if (unusable.size() > 10)
            lines << QStringLiteral("ほか %1 行").arg(unusable.size() - 10);
        refuse(QStringLiteral("差し込みデータに送信できない行があります。\r\n%1\r\n"
                              "アドレスを直してから送信してください。")
                   .arg(lines.join(QStringLiteral("\r\n"))));
    }
    if (table.rows.empty())
        refuse(QStringLiteral("差し込みデータに送信する行がありません。"));

    const QDir folder = QFileInfo(table.path).absoluteDir();
    MergedMail mail;
    mail.recipientsSjis.reserve(table.rows.size());
    mail.messages.reserve(table.rows.size());
    QStringList missing;
    const MailTemplate texts(subjectSjis, bodyShownSjis, table);
    for (const MergeRow& row : table.rows) {
        const std::string address(trimBlanks(row.valuesSjis[static_cast<std::size_t>(columns.address)]));
        std::string entry = address;
        if (columns.name >= 0) {
            // The entry's angle brackets mark the address: a name keeps none of its own.
            std::string name(trimBlanks(row.valuesSjis[static_cast<std::size_t>(columns.name)]));
            std::string safe;
            for (std::size_t i = 0; i < name.size(); ++i) {
                const bool lead = isSjisLeadByte(static_cast<unsigned char>(name[i]));
                if (lead && i + 1 < name.size()) {
                    safe.append(name, i, 2);
                    ++i;
                } else {
                    safe += name[i] == '<' || name[i] == '>' || name[i] == '\r' || name[i] == '\n' ? ' ' : name[i];
                }
            }
            if (!safe.empty())
                entry = safe + " <" + address + ">";
        }
        RecipientMessage m = texts.filled(row.valuesSjis);
        if (columns.cc >= 0)
            m.cc = splitList(row.valuesSjis[static_cast<std::size_t>(columns.cc)], ";,");
        if (columns.bcc >= 0)
            m.bcc = splitList(row.valuesSjis[static_cast<std::size_t>(columns.bcc)], ";,");
        if (columns.files >= 0) {
            for (const std::string& name : splitList(row.valuesSjis[static_cast<std::size_t>(columns.files)], ";")) {
                const QString path = QDir::cleanPath(folder.absoluteFilePath(fromSjis(name)));
                struct stat st {};
                const std::string fs = path.toStdString();
                if (::stat(fs.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                    missing << QStringLiteral("%1 行目：%2").arg(row.rowNumber).arg(fromSjis(name));
                else
                    m.attachmentPathsSjis.push_back(toSjis(path, QStringLiteral("添付ファイル")));
            }
        }
        mail.recipientsSjis.push_back(std::move(entry));
        mail.messages.push_back(std::move(m));
    }
    if (!missing.isEmpty()) {
        if (missing.size() > 10) {
            const qsizetype more = missing.size() - 10;
            missing = missing.mid(0, 10);
            missing << QStringLiteral("ほか %1 件").arg(more);
        }
        refuse(QStringLiteral("差し込みデータの次のファイルが見つかりません。\r\n%1\r\n"
                              "ファイルの名前と場所（差し込みデータと同じフォルダーから）を"
                              "確かめてください。")
                   .arg(missing.join(QStringLiteral("\r\n"))));
    }
    return mail;
}

std::vector<RecipientMessage> FillAddressBookFields(std::string_view subjectSjis,
                                                   const std::vector<std::string>& bodyShownSjis,
                                                   const std::vector<std::string>& recipientsSjis,
                                                   const std::vector<AddressBookPlace>& places) {
    std::size_t subjectCount = 0;
    const std::vector<std::string> fields = mailFields(subjectSjis, bodyShownSjis, subjectCount);
    if (fields.empty())
        return {};

    // The four fields as the columns of a table with one row per recipient, so that the checks
    // and the filling are those of a table's.
    MergeTable table;
    for (const char* name : kAddressBookFields)
        table.columnsSjis.push_back(cp932::fromUtf8(name).bytes);
    QStringList unknown;
    const std::vector<int> fieldColumns = columnsOf(fields, table, unknown);
    if (!unknown.isEmpty())
        throw Error(QStringLiteral("差し込みデータを開いていないため、次の差し込み欄は使えません：%1\r\n"
                                   "使えるのは {{宛先名}}・{{メールアドレス}}・{{グループ}}・{{メンバー}} "
                                   "です。件名・本文の差し込み欄を直してください。")
                        .arg(unknown.join(QStringLiteral("、")))
                        .toStdString());

    for (std::size_t i = 0; i < recipientsSjis.size(); ++i) {
        const RecipientParts parts = SplitRecipient(recipientsSjis[i]);
        const AddressBookPlace place = i < places.size() ? places[i] : AddressBookPlace();
        table.rows.push_back({static_cast<int>(i) + 1,
                              {parts.addresseeName, parts.address, place.groupSjis, place.memberSjis}});
    }
    const QStringList problems =
        valueProblems(fields, subjectCount, fieldColumns, table.rows, QStringLiteral("件"));
    if (!problems.isEmpty())
        throw Error(QStringLiteral("次の宛先には送信できません。\r\n%1\r\n"
                                   "アドレス帳から選んだ宛先だけにするか、差し込み欄を直してください。")
                        .arg(problems.join(QStringLiteral("\r\n")))
                        .toStdString());

    std::vector<RecipientMessage> messages;
    messages.reserve(table.rows.size());
    const MailTemplate texts(subjectSjis, bodyShownSjis, table);
    for (const MergeRow& row : table.rows)
        messages.push_back(texts.filled(row.valuesSjis));
    return messages;
}

} // namespace tessaly
