#include "address/address_book.h"

#include "address/vexo_csv.h"
#include "common/atomic_file.h"
#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/errors.h"
#include "common/regular_file.h"
#include "common/sjis_bytes.h"
#include "common/text.h"

#include <QString>
#include <QStringList>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

namespace tessaly {

using address::kDummy;
using address::kFieldSeparator;

namespace {

// Messages the user knows.
constexpr const char* kNoMemberSelected = "グループメンバーが選択されていません。";
constexpr const char* kBrokenBook = "アドレス帳の状態が異常です。";
constexpr const char* kBadAddress = "アドレス入力に誤りがあります。";
constexpr std::string_view kBookMarkerLine = "\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n";

void show(const AddressBook& book, const QString& text) { book.dialogs().message(book.dialogParent(), text); }

std::string backupPath(const std::string& addressPath) { return addressPath + ".bak"; }

QString unreadLinesMessage(const std::string& addressPath, const std::vector<int>& lines) {
    // Enough line numbers to find the place; a file broken throughout does not need them all.
    constexpr std::size_t kListed = 10;
    QStringList numbers;
    for (std::size_t i = 0; i < lines.size() && i < kListed; ++i)
        numbers << QString::number(lines[i]);
    if (lines.size() > kListed)
        numbers << QStringLiteral("…");
    const std::string backup = backupPath(addressPath);
    const QString backupName = fromSjis(std::string_view(backup).substr(backup.rfind('/') + 1));
    return fromSjis(addressPath) +
           QStringLiteral("ファイルの\r\n%1 行（%2 行目）は引用符が閉じていないため、読み込めませんでした。\r\n"
                          "保存する前に、テキストエディタで該当する行を直してください。\r\n"
                          "そのまま保存すると、元のファイルを %3 として残します。")
               .arg(lines.size())
               .arg(numbers.join(QStringLiteral(", ")), backupName);
}

unsigned char foldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c; }

using tessaly::isBlankByte;
using tessaly::isSjisLeadByte;
std::string_view trimmed(std::string_view s) { return tessaly::trimBlanks(s); }

// The five fields as views into `joined`, without copying; false without four separators.
struct RecordView {
    std::string_view group, member, name, mail, flag;
};

bool splitView(std::string_view joined, RecordView& out) {
    std::string_view field[4];
    for (auto& f : field) {
        const std::size_t at = joined.find(kFieldSeparator);
        if (at == std::string_view::npos)
            return false;
        f = joined.substr(0, at);
        joined.remove_prefix(at + kFieldSeparator.size());
    }
    out = {field[0], field[1], field[2], field[3], joined};
    return true;
}

bool isEntryOf(const RecordView& r, std::string_view group, std::string_view member,
               const AddressEntryRow& entry) {
    return r.group == group && r.member == member && r.name == entry.name && r.mail == entry.mail &&
           r.flag == entry.flag;
}

bool memberSelected(const AddressBook& book, int memberRow) {
    return memberRow >= 0 && static_cast<std::size_t>(memberRow) < book.members().size();
}

bool requireMember(const AddressBook& book, int memberRow) {
    if (memberSelected(book, memberRow))
        return true;
    show(book, QString::fromUtf8(kNoMemberSelected));
    return false;
}

// Shows the field's refusal, if any; true when the value may be stored.
bool fieldAccepted(const AddressBook& book, std::string_view label, std::string_view value) {
    const std::string refusal = AddressField_Check(label, value);
    if (refusal.empty())
        return true;
    show(book, QString::fromStdString(refusal));
    return false;
}

// The texts one kind of name (group or member) is refused with by the add and rename commands.
struct NameRules {
    std::string_view label;
    const char* emptyOnAdd;
    const char* emptyOnRename;
    const char* same;
    const char* exists;
};
const NameRules kGroupRules{kGroupLabel, "新しいグループ名がセットされていません。", "修正後のグループ名がセットされていません。",
                            "同一のグループ名です。", "既にグループ名が存在します。"};
const NameRules kMemberRules{kMemberLabel, "新しいメンバー名がセットされていません。", "修正後のメンバー名がセットされていません。",
                             "同一のメンバー名です。", "既にメンバー名が存在します。"};

// Shows the first refusal of `name` for an add (`current` null) or a rename of `current`;
// `listed` is the group or member list the name must not be in.
bool nameAccepted(const AddressBook& book, const NameRules& rules, const SjisListModel& listed,
                  const std::string& name, const std::string* current) {
    const char* refusal = nullptr;
    if (name.empty())
        refusal = current ? rules.emptyOnRename : rules.emptyOnAdd;
    else if (current && name == *current)
        refusal = rules.same;
    else if (listed.contains(name))
        refusal = rules.exists;
    if (refusal) {
        show(book, QString::fromUtf8(refusal));
        return false;
    }
    return fieldAccepted(book, rules.label, name);
}

// Index of the first record that is `entry` of the given member, or -1.
long findEntry(const AddressBook& book, std::string_view group, std::string_view member,
               const AddressEntryRow& entry) {
    const auto& records = book.records();
    RecordView r;
    for (std::size_t i = 0; i < records.size(); ++i)
        if (splitView(records[i], r) && isEntryOf(r, group, member, entry))
            return static_cast<long>(i);
    return -1;
}

// Rebuilds the book with every record `change` gives a new text for (empty optional: keep it,
// empty text: drop it); the result is sorted again.
template <typename Change>
void rebuild(AddressBook& book, Change change) {
    std::vector<std::string> records;
    records.reserve(book.size());
    RecordView r;
    for (const std::string& record : book.records()) {
        if (!splitView(record, r)) {
            records.push_back(record);
            continue;
        }
        std::optional<std::string> changed = change(r);
        if (!changed)
            records.push_back(record);
        else if (!changed->empty())
            records.push_back(std::move(*changed));
    }
    book.assignUnsorted(std::move(records));
}

} // namespace

// ---- Records ----

std::string AddressRecord_Join(std::string_view group, std::string_view member, std::string_view name,
                               std::string_view mail, std::string_view flag) {
    std::string joined;
    joined.reserve(group.size() + member.size() + name.size() + mail.size() + flag.size() +
                   4 * kFieldSeparator.size());
    joined.append(group).append(kFieldSeparator).append(member).append(kFieldSeparator);
    joined.append(name).append(kFieldSeparator).append(mail).append(kFieldSeparator).append(flag);
    return joined;
}

std::string AddressRecord_Join(const AddressRecord& r) {
    return AddressRecord_Join(r.group, r.member, r.name, r.mail, r.flag);
}

bool AddressRecord_Split(std::string_view joined, AddressRecord& out) {
    RecordView r;
    if (!splitView(joined, r))
        return false;
    out = {std::string(r.group), std::string(r.member), std::string(r.name), std::string(r.mail),
           std::string(r.flag)};
    return true;
}

bool AddressRecord_Less(std::string_view a, std::string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (ca == cb) {
            // The trail byte of a double-byte character is compared as it is, never folded.
            if (isSjisLeadByte(ca) && i + 1 < n) {
                const auto ta = static_cast<unsigned char>(a[i + 1]);
                const auto tb = static_cast<unsigned char>(b[i + 1]);
                if (ta != tb)
                    return ta < tb;
                i += 2;
            } else {
                ++i;
            }
            continue;
        }
        const unsigned char fa = foldAscii(ca);
        const unsigned char fb = foldAscii(cb);
        if (fa != fb)
            return fa < fb;
        ++i;
    }
    return a.size() < b.size();
}

bool MailAddress_Check(std::string_view text, std::string& result) {
    result.clear();
    const std::string_view t = trimmed(text);
    int ats = 0;
    for (const char ch : t) {
        const auto c = static_cast<unsigned char>(ch);
        const bool allowed = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                             c == '-' || c == '.' || c == '_' || c == '@';
        if (!allowed)
            return false;
        if (c == '@')
            ++ats;
    }
    if (ats != 1)
        return false;
    result.assign(t);
    return true;
}

std::string AddressField_Check(std::string_view label, std::string_view value) {
    const std::string field(label);
    if (value.find(kFieldSeparator) != std::string_view::npos)
        return field + "には #*:% は使用できません\r\n（制限文字です）";
    if (value.find('"') != std::string_view::npos)
        return field + "には ”は使用できません\r\n（制限文字です）";
    if (value.find(',') != std::string_view::npos)
        return field + "には ，は使用できません\r\n（制限文字です）";
    if (value.find_first_of("\r\n") != std::string_view::npos)
        return field + "には改行は使用できません\r\n（制限文字です）";
    // The placeholder turns a name into a group or member record; the entry would vanish.
    if (value == kDummy)
        return field + "には &DUMMY& は使用できません\r\n（予約語です）";
    return {};
}

std::string RecipientLine(std::string_view name, std::string_view mail) {
    std::string line;
    line.reserve(name.size() + mail.size() + 3);
    line.append(name).append(" <").append(mail).append(">");
    return line;
}

// ---- The book ----

AddressBook::AddressBook(Dialogs& dialogs) : dialogs_(&dialogs) {}

void AddressBook::insert(std::string joined) {
    const auto at = std::upper_bound(records_.begin(), records_.end(), joined,
                                     [](const std::string& a, const std::string& b) { return AddressRecord_Less(a, b); });
    records_.insert(at, std::move(joined));
}

void AddressBook::replaceAt(std::size_t index, std::string joined) { records_.at(index) = std::move(joined); }

void AddressBook::removeAt(std::size_t index) {
    if (index < records_.size())
        records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(index));
}

long AddressBook::indexOf(std::string_view joined) const {
    for (std::size_t i = 0; i < records_.size(); ++i)
        if (records_[i] == joined)
            return static_cast<long>(i);
    return -1;
}

void AddressBook::assignUnsorted(std::vector<std::string> records) {
    const auto less = [](const std::string& a, const std::string& b) { return AddressRecord_Less(a, b); };
    // A saved file is already in order; checking first keeps the common load linear.
    if (!std::is_sorted(records.begin(), records.end(), less))
        std::stable_sort(records.begin(), records.end(), less);
    records_ = std::move(records);
}

std::string AddressBook::groupAt(int groupRow) const {
    if (groupRow < 0 || static_cast<std::size_t>(groupRow) >= groups_.size())
        return {};
    return groups_.at(static_cast<std::size_t>(groupRow));
}

std::string AddressBook::memberAt(int memberRow) const {
    if (memberRow < 0 || static_cast<std::size_t>(memberRow) >= members_.size())
        return {};
    return members_.at(static_cast<std::size_t>(memberRow));
}

// ---- File ----

AddressBookLoad AddressBook_Load(AddressBook& book, const std::string& addressPath,
                                 const std::function<void()>& disableAddressBook) {
    book.groups().clear();
    book.members().clear();
    book.clear();
    // A disabled book (its path emptied after a failed read) stays disabled; nothing may be
    // created under an empty name.
    if (addressPath.empty())
        return AddressBookLoad::Disabled;

    const std::string fsPath = cp932::pathFromSjis(addressPath);
    std::error_code ec;
    const bool exists = std::filesystem::exists(fsPath, ec) || ec;
    if (!exists) {
        writeFileAtomically(fsPath, kBookMarkerLine,
                            "アドレス帳ファイル：" + cp932::toUtf8(addressPath) + "\r\nファイルの作成に失敗しました。");
        book.insert(std::string(address::kBookMarker));
        return AddressBookLoad::Created;
    }

    TVexo_CSV csv;
    csv.eof = false;
    csv.ErrorDetect = false;
    csv.ItemCount = 5;
    csv.LfEndsLine = true;
    csv.OpenRead(fsPath);
    if (csv.ErrorDetect) {
        show(book, fromSjis(addressPath) + QStringLiteral("ファイルの\r\n読み込みに失敗しました。\r\n") +
                       featureDisabledText(QStringLiteral("アドレス帳"), readFailureMayPass(fsPath)));
        if (disableAddressBook)
            disableAddressBook();
        return AddressBookLoad::Disabled;
    }
    std::vector<std::string> records;
    std::vector<std::string> groups;
    std::vector<int> unread;
    do {
        csv.ReadRecord();
        // What is left of such a line is no record: a piece of a name or an address with a
        // quotation mark in it would be offered by the name search and sent to.
        if (csv.UnclosedQuote) {
            unread.push_back(csv.LineNumber);
            continue;
        }
        const std::string& group = csv.Items[1];
        const std::string& member = csv.Items[2];
        if (group != kDummy && member == kDummy)
            groups.push_back(group);
        records.push_back(AddressRecord_Join(group, member, csv.Items[3], csv.Items[4], csv.Items[5]));
    } while (!csv.eof);
    csv.CloseFile();
    book.assignUnsorted(std::move(records));
    book.groups().setItems(std::move(groups));
    if (!unread.empty())
        show(book, unreadLinesMessage(addressPath, unread));
    book.setUnreadLines(std::move(unread));
    return AddressBookLoad::Loaded;
}

bool AddressBook_Save(AddressBook& book, const std::string& addressPath) {
    const QString failure = QStringLiteral("アドレス帳ファイル：") + fromSjis(addressPath) +
                            QStringLiteral("\r\nファイルの作成に失敗しました。");
    if (addressPath.empty()) {
        show(book, failure);
        return false;
    }
    // The lines the load could not read go out of the file with this save: the file as it was
    // is kept beside it first, so that they can still be mended by hand.
    if (!book.unreadLines().empty()) {
        std::string previous;
        const FileRead read = readRegularFile(cp932::pathFromSjis(addressPath), previous);
        try {
            if (read == FileRead::Read)
                writeFileAtomically(cp932::pathFromSjis(backupPath(addressPath)), previous);
            else if (read != FileRead::Missing)
                throw FileError(failure.toStdString());
        } catch (const FileError&) {
            show(book, failure);
            return false;
        }
    }
    TVexo_CSV csv;
    csv.ItemCount = 5;
    std::string content;
    RecordView r;
    for (const std::string& record : book.records()) {
        // Every record is made by joining; a text without separators is kept whole, not lost.
        if (!splitView(record, r))
            r = {record, {}, {}, {}, {}};
        csv.Items[1].assign(r.group);
        csv.Items[2].assign(r.member);
        csv.Items[3].assign(r.name);
        csv.Items[4].assign(r.mail);
        csv.Items[5].assign(r.flag);
        csv.BuildText();
        content += csv.text;
        content += "\r\n";
    }
    try {
        writeFileAtomically(cp932::pathFromSjis(addressPath), content, failure.toStdString());
    } catch (const FileError&) {
        show(book, failure);
        return false;
    }
    book.setUnreadLines({});
    return true;
}

bool AddressBook_Import(AddressBook& book, int groupRow, int memberRow) {
    FileDialogOptions options;
    options.title = QStringLiteral("アドレス帳の選択！！");
    options.filter = QStringLiteral("Text files (*.txt);;CSV files (*.csv)");
    options.defaultExt = QStringLiteral("txt");
    const QString fileName = book.dialogs().openFile(book.dialogParent(), options);
    if (fileName.isEmpty())
        return false;

    TVexo_CSV csv;
    csv.eof = false;
    csv.ErrorDetect = false;
    csv.ItemCount = 2;
    csv.LfEndsLine = true;
    csv.OpenRead(fileName.toStdString());
    if (csv.ErrorDetect) {
        show(book, QStringLiteral("アドレス帳ファイル：") + fileName + QStringLiteral("\r\nファイルが見つかりません。"));
        return false;
    }
    if (!requireMember(book, memberRow))
        return false;
    const std::string group = book.groupAt(groupRow);
    const std::string member = book.memberAt(memberRow);
    std::string ignored;
    do {
        csv.ReadRecord();
        const std::string& name = csv.Items[1];
        const std::string& mail = csv.Items[2];
        const QString which = QStringLiteral("宛名：") + fromSjis(name) + QStringLiteral("\r\n");
        if (!MailAddress_Check(mail, ignored)) {
            show(book, which + QStringLiteral("メール：") + fromSjis(mail) +
                           QStringLiteral("\r\nはアドレス入力に誤りがあるため登録しません。"));
            continue;
        }
        const std::string refusal = AddressField_Check(kNameLabel, name);
        if (!refusal.empty()) {
            show(book, which + QString::fromStdString(refusal));
            continue;
        }
        book.insert(AddressRecord_Join(group, member, name, mail, "0"));
    } while (!csv.eof);
    AddressBook_ListEntries(book, groupRow, memberRow);
    csv.CloseFile();
    return true;
}

void AddressBook_ListGroups(AddressBook& book) {
    std::vector<std::string> groups;
    RecordView r;
    for (const std::string& record : book.records())
        if (splitView(record, r) && r.member == kDummy && r.group != kDummy)
            groups.emplace_back(r.group);
    book.groups().setItems(std::move(groups));
}

bool AddressBook_ListMembers(AddressBook& book, std::string_view group) {
    std::vector<std::string> members;
    std::unordered_set<std::string_view> seen;
    bool intact = true;
    RecordView r;
    for (const std::string& record : book.records()) {
        if (!splitView(record, r)) {
            intact = false;
            break;
        }
        if (r.group == group && r.member != kDummy && seen.insert(r.member).second)
            members.emplace_back(r.member);
    }
    book.members().setItems(std::move(members));
    if (!intact)
        show(book, QString::fromUtf8(kBrokenBook));
    return intact;
}

bool AddressBook_ListEntries(AddressBook& book, int groupRow, int memberRow) {
    std::vector<AddressEntryRow> rows;
    if (memberSelected(book, memberRow)) {
        const std::string group = book.groupAt(groupRow);
        const std::string member = book.memberAt(memberRow);
        RecordView r;
        for (const std::string& record : book.records()) {
            if (!splitView(record, r)) {
                show(book, QString::fromUtf8(kBrokenBook));
                break;
            }
            if (r.group == group && r.member == member && r.name != kDummy)
                rows.push_back({std::string(r.name), std::string(r.mail), std::string(r.flag)});
        }
    }
    book.entries().setRows(std::move(rows));
    return true;
}

bool AddressBook_GroupExists(const AddressBook& book, std::string_view name) {
    return book.groups().contains(name);
}

bool AddressBook_MemberExists(const AddressBook& book, std::string_view name) {
    return book.members().contains(name);
}

AddressSearchResult AddressBook_FindByName(const AddressBook& book, std::string_view text) {
    AddressSearchResult result;
    if (text.empty())
        return result;
    // Names compare by character, not by code: code page 932 gives 髙 and the other IBM
    // extensions two codes (the NEC-selected rows ED and EE, and FA to FC), and a book written by
    // another program may hold the one that typing does not give. Comparing characters also keeps
    // a typed letter from matching the second byte of a kanji. The hit keeps the stored bytes.
    const std::string wanted = cp932::toUtf8(text);
    RecordView r;
    for (const std::string& record : book.records()) {
        if (!splitView(record, r) || r.name == kDummy)
            continue;
        if (cp932::toUtf8(r.name).find(wanted) != std::string::npos)
            result.hits.push_back(RecipientLine(r.name, r.mail));
    }
    result.outcome = result.hits.empty()       ? AddressSearchResult::NoHit
                     : result.hits.size() == 1 ? AddressSearchResult::OneHit
                                               : AddressSearchResult::SeveralHits;
    return result;
}

std::vector<std::string> RecipientFile_Read(const std::string& fsPath, Dialogs& dialogs, QWidget* parent) {
    std::vector<std::string> addresses;
    RecipientFile_Read(fsPath, dialogs, parent, [&](const std::string& a) { addresses.push_back(a); });
    return addresses;
}

void RecipientFile_Read(const std::string& fsPath, Dialogs& dialogs, QWidget* parent,
                        const std::function<void(const std::string&)>& add) {
    TVexo_CSV reader;
    reader.ItemCount = 0; // lines only, no fields
    reader.LfEndsLine = true;
    reader.OpenRead(fsPath);
    if (reader.ErrorDetect)
        throw FileError("ファイル：" + fsPath + "\r\n読み込みに失敗しました。");
    std::string address;
    do {
        reader.ReadRecord();
        const std::string_view line = trimmed(reader.text);
        if (line.empty())
            continue;
        if (MailAddress_Check(line, address))
            add(address);
        else
            dialogs.message(parent, fromSjis(line) + QStringLiteral("は\r\nアドレス入力に誤りがあります。"));
    } while (!reader.eof);
    reader.CloseFile();
}

// ---- Window commands ----

bool AddressBook_AddGroup(AddressBook& book, const std::string& name) {
    if (!nameAccepted(book, kGroupRules, book.groups(), name, nullptr))
        return false;
    book.insert(AddressRecord_Join(name, kDummy, kDummy, "", "1"));
    book.groups().append(name);
    return true;
}

bool AddressBook_RenameGroup(AddressBook& book, int groupRow, const std::string& newName, int& newRow) {
    const std::string selected = book.groupAt(groupRow);
    if (!nameAccepted(book, kGroupRules, book.groups(), newName, &selected))
        return false;
    rebuild(book, [&](const RecordView& r) -> std::optional<std::string> {
        if (r.group != selected)
            return std::nullopt;
        return AddressRecord_Join(newName, r.member, r.name, r.mail, r.flag);
    });
    AddressBook_ListGroups(book);
    newRow = book.groups().indexOf(newName);
    AddressBook_ListMembers(book, newName);
    return true;
}

bool AddressBook_DeleteGroup(AddressBook& book, int groupRow) {
    if (groupRow < 0 || static_cast<std::size_t>(groupRow) >= book.groups().size())
        return false;
    const std::string group = book.groupAt(groupRow);
    const QString question = fromSjis(group) + QStringLiteral("グループの\r\nメンバーは全て削除されます。\r\nよろしいですか？");
    if (!book.dialogs().askYesNo(book.dialogParent(), QStringLiteral("警告"), question))
        return false;
    rebuild(book, [&](const RecordView& r) -> std::optional<std::string> {
        return r.group == group ? std::optional<std::string>(std::string()) : std::nullopt;
    });
    book.groups().removeAt(static_cast<std::size_t>(groupRow));
    AddressBook_ListMembers(book, book.groupAt(0));
    return true;
}

bool AddressBook_AddMember(AddressBook& book, int groupRow, const std::string& name) {
    if (!nameAccepted(book, kMemberRules, book.members(), name, nullptr))
        return false;
    const std::string group = book.groupAt(groupRow);
    book.insert(AddressRecord_Join(group, name, kDummy, "", "1"));
    AddressBook_ListMembers(book, group);
    return true;
}

bool AddressBook_RenameMember(AddressBook& book, int groupRow, int memberRow, const std::string& newName) {
    if (!requireMember(book, memberRow))
        return false;
    const std::string group = book.groupAt(groupRow);
    const std::string selected = book.memberAt(memberRow);
    if (!nameAccepted(book, kMemberRules, book.members(), newName, &selected))
        return false;
    rebuild(book, [&](const RecordView& r) -> std::optional<std::string> {
        if (r.group != group || r.member != selected)
            return std::nullopt;
        return AddressRecord_Join(group, newName, r.name, r.mail, r.flag);
    });
    AddressBook_ListMembers(book, group);
    return true;
}

bool AddressBook_DeleteMember(AddressBook& book, int groupRow, int memberRow) {
    if (!requireMember(book, memberRow))
        return false;
    const std::string group = book.groupAt(groupRow);
    const std::string member = book.memberAt(memberRow);
    const QString question = fromSjis(group) + QStringLiteral("グループの\r\nメンバー：") + fromSjis(member) +
                             QStringLiteral("は全て削除されます。\r\nよろしいですか？");
    if (!book.dialogs().askYesNo(book.dialogParent(), QStringLiteral("警告"), question))
        return false;
    rebuild(book, [&](const RecordView& r) -> std::optional<std::string> {
        return r.group == group && r.member == member ? std::optional<std::string>(std::string()) : std::nullopt;
    });
    book.members().removeAt(static_cast<std::size_t>(memberRow));
    return true;
}

bool AddressBook_AddEntry(AddressBook& book, int groupRow, int memberRow, const AddressEntryRow& entry) {
    if (!requireMember(book, memberRow))
        return false;
    if (!MailAddress_Check(entry.mail)) {
        show(book, QString::fromUtf8(kBadAddress));
        return false;
    }
    if (entry.flag != "0" && entry.flag != "1") {
        show(book, QStringLiteral("通知区分は 通知：0 または 非通知：1 でなければなりません。"));
        return false;
    }
    if (!fieldAccepted(book, kNameLabel, entry.name))
        return false;
    book.insert(AddressRecord_Join(book.groupAt(groupRow), book.memberAt(memberRow), entry.name, entry.mail,
                                   entry.flag));
    AddressBook_ListEntries(book, groupRow, memberRow);
    return true;
}

bool AddressBook_UpdateEntry(AddressBook& book, int groupRow, int memberRow, const AddressEntryRow& selected,
                             const AddressEntryRow& entry) {
    if (!requireMember(book, memberRow))
        return false;
    if (!fieldAccepted(book, kNameLabel, entry.name) || !fieldAccepted(book, kMailLabel, entry.mail) ||
        !fieldAccepted(book, kFlagLabel, entry.flag))
        return false;
    const std::string group = book.groupAt(groupRow);
    const std::string member = book.memberAt(memberRow);
    const long at = findEntry(book, group, member, selected);
    if (at >= 0)
        book.replaceAt(static_cast<std::size_t>(at),
                       AddressRecord_Join(group, member, entry.name, entry.mail, entry.flag));
    AddressBook_ListEntries(book, groupRow, memberRow);
    return true;
}

bool AddressBook_DeleteEntry(AddressBook& book, int groupRow, int memberRow, const AddressEntryRow& selected) {
    if (!requireMember(book, memberRow))
        return false;
    const long at = findEntry(book, book.groupAt(groupRow), book.memberAt(memberRow), selected);
    if (at >= 0)
        book.removeAt(static_cast<std::size_t>(at));
    AddressBook_ListEntries(book, groupRow, memberRow);
    return true;
}

namespace {

// Recipient lines of the records of the selected member that `wanted` picks, in book order.
template <typename Wanted>
std::vector<std::string> recipientsOf(const AddressBook& book, int groupRow, int memberRow, Wanted wanted) {
    std::vector<std::string> lines;
    if (!requireMember(book, memberRow))
        return lines;
    const std::string group = book.groupAt(groupRow);
    const std::string member = book.memberAt(memberRow);
    RecordView r;
    for (const std::string& record : book.records())
        if (splitView(record, r) && r.group == group && r.member == member && wanted(r))
            lines.push_back(RecipientLine(r.name, r.mail));
    return lines;
}

} // namespace

std::vector<std::string> AddressBook_MemberRecipients(const AddressBook& book, int groupRow, int memberRow) {
    return recipientsOf(book, groupRow, memberRow,
                        [](const RecordView& r) { return r.name != kDummy && r.flag == "0"; });
}

std::vector<std::string> AddressBook_EntryRecipients(const AddressBook& book, int groupRow, int memberRow,
                                                     const AddressEntryRow& selected) {
    return recipientsOf(book, groupRow, memberRow, [&](const RecordView& r) {
        return r.name == selected.name && r.mail == selected.mail && r.flag == selected.flag;
    });
}

std::string AddressBook_Dump(const AddressBook& book) {
    std::string dump;
    for (const std::string& record : book.records())
        dump.append(record).append("\r\n");
    return dump;
}

} // namespace tessaly
