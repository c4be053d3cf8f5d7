// The address book: records of groups, members and entries, the file they live in, the lists
// the address book window shows, and the routines other windows call (mail address check, search
// by addressee name, recipient files).
//
// Texts are Shift-JIS bytes. Paths the program keeps (the Address setting) are Shift-JIS bytes
// too and are turned into file-system paths here; paths that come straight from a file dialog
// are file-system paths (UTF-8) and are named so (`fsPath`).
//
// Every routine reports problems itself through the Dialogs the book was made with, as message
// boxes with the exact texts the user knows; I/O errors that are not the user's to fix are raised
// as tessaly::FileError.
#pragma once

#include "address/address_lists.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace tessaly {
class Dialogs;
}

namespace tessaly::address {

// Placeholder that marks the book marker, group records and member records.
inline constexpr std::string_view kDummy = "&DUMMY&";
// Separator of the joined in-memory form. It has no escape.
inline constexpr std::string_view kFieldSeparator = "#*:%";
// The joined book marker: the one record of a new book.
inline constexpr std::string_view kBookMarker = "&DUMMY&#*:%&DUMMY&#*:%&DUMMY&#*:%#*:%1";

} // namespace tessaly::address

namespace tessaly {

struct AddressRecord {
    std::string group;
    std::string member;
    std::string name;
    std::string mail;
    std::string flag; // "0" notify (taken when the whole member is transferred), "1" no notify
    bool operator==(const AddressRecord&) const = default;
};

// group#*:%member#*:%name#*:%mail#*:%flag
std::string AddressRecord_Join(std::string_view group, std::string_view member,
                               std::string_view name, std::string_view mail,
                               std::string_view flag);
std::string AddressRecord_Join(const AddressRecord& record);
// False (and `out` untouched) when the text has fewer than four separators; otherwise the first
// four fields end at the first four separators and the fifth is the rest, whatever it holds.
bool AddressRecord_Split(std::string_view joined, AddressRecord& out);

// Case-insensitive order of joined records: ASCII letters fold, the second byte of a Shift-JIS
// character never does; otherwise plain byte order.
bool AddressRecord_Less(std::string_view a, std::string_view b);

// The one mail address check of the program. Trims bytes up to 0x20 from both ends; then only
// ASCII letters, digits, '-', '.', '_' and '@' are allowed, with exactly one '@'. On success
// `trimmed` receives the trimmed text, otherwise it is emptied.
bool MailAddress_Check(std::string_view text, std::string& trimmed);
inline bool MailAddress_Check(std::string_view text) {
    std::string ignored;
    return MailAddress_Check(text, ignored);
}

// What a text field of the address book may hold. The file format has no escape, so "#*:%", the
// double quotation mark, the comma, CR and LF would not survive a save and a load. Returns the
// message to show (UTF-8), naming the field (e.g. "グループ名") and the character, or an empty text
// when the value is fine. The window and the importer refuse such input and change nothing.
std::string AddressField_Check(std::string_view fieldLabel, std::string_view value);
// Field labels used in those messages.
inline constexpr std::string_view kGroupLabel = "グループ名";
inline constexpr std::string_view kMemberLabel = "メンバー名";
inline constexpr std::string_view kNameLabel = "宛先名";
inline constexpr std::string_view kMailLabel = "メールアドレス";
inline constexpr std::string_view kFlagLabel = "非通知区分";

// A recipient line made from an entry: name + " <" + mail + ">".
std::string RecipientLine(std::string_view name, std::string_view mail);

// The address book in memory and the three lists derived from it for the window.
// The window's selection (current group of Cmb_AG, selected member of Lst_AM) stays the window's:
// routines that need it take the group's row in groups() and the member's row in members()
// (-1 for none).
class AddressBook {
public:
    explicit AddressBook(Dialogs& dialogs);
    AddressBook(const AddressBook&) = delete;
    AddressBook& operator=(const AddressBook&) = delete;

    // Parent of the message boxes (may stay null).
    void setDialogParent(QWidget* parent) { dialogParent_ = parent; }
    Dialogs& dialogs() const { return *dialogs_; }
    QWidget* dialogParent() const { return dialogParent_; }

    // --- the records, joined, in ascending case-insensitive order (duplicates allowed) ---
    const std::vector<std::string>& records() const { return records_; }
    std::size_t size() const { return records_.size(); }
    void clear() { records_.clear(); }
    // Inserts at the sorted place, after records that compare equal.
    void insert(std::string joined);
    // Puts a record in place without sorting (the order comes back at the next load).
    void replaceAt(std::size_t index, std::string joined);
    void removeAt(std::size_t index);
    // Index of the first record equal to `joined` byte for byte, or -1.
    long indexOf(std::string_view joined) const;
    // Replaces every record, then sorts (stable). Used by the load and by renames.
    void assignUnsorted(std::vector<std::string> records);

    // --- the window's lists ---
    SjisListModel& groups() { return groups_; }         // Cmb_AG
    SjisListModel& members() { return members_; }       // Lst_AM
    AddressEntryModel& entries() { return entries_; }   // Grd_Adrs
    const SjisListModel& groups() const { return groups_; }
    const SjisListModel& members() const { return members_; }
    const AddressEntryModel& entries() const { return entries_; }
    // Name of the group at `groupRow`, or empty for -1 / out of range.
    std::string groupAt(int groupRow) const;
    std::string memberAt(int memberRow) const;

    // Lines of the address file (1-based) the last load could not read as records: an opening
    // quotation mark without its partner. They are not in the book (no group, member or entry
    // comes from them); the next save keeps the previous file beside the new one first.
    const std::vector<int>& unreadLines() const { return unreadLines_; }
    void setUnreadLines(std::vector<int> lines) { unreadLines_ = std::move(lines); }

private:
    Dialogs* dialogs_;
    QWidget* dialogParent_ = nullptr;
    std::vector<std::string> records_;
    std::vector<int> unreadLines_;
    SjisListModel groups_;
    SjisListModel members_;
    AddressEntryModel entries_;
};

// ---- File ----

enum class AddressBookLoad {
    Loaded,   // read from the file
    Created,  // no file was there: a new one with the book marker was written
    Disabled, // the Address path is empty, or the file could not be read
};

// Empties the book, the group list and the member list, then reads `addressPath` (the Address
// setting, Shift-JIS). Groups are listed in file order; the caller selects row 0 when there is
// one and rebuilds the member list. When the file cannot be opened it shows
// path + "ファイルの\r\n読み込みに失敗しました。\r\nアドレス帳を無効にします。" (when the file is
// there but could not be read just now, the last line says the next start tries it again
// instead) and calls `disableAddressBook`, which must empty the Address setting (record and
// Edt_Address) for this session. Lines with an unclosed quotation mark are left out and reported
// in one message with their count and numbers (see AddressBook::unreadLines). CR LF, a lone CR
// and a lone LF each end a line.
// An empty path counts as a disabled book: no message, nothing is created.
// Throws tessaly::FileError when a missing file cannot be created.
AddressBookLoad AddressBook_Load(AddressBook& book, const std::string& addressPath,
                                 const std::function<void()>& disableAddressBook);

// Writes the whole book to `addressPath` through a temporary file that replaces the old one, so
// a failed save leaves the old file as it was. When the last load left unread lines, the old
// file is first copied to `addressPath` + ".bak". On failure shows
// "アドレス帳ファイル：" + path + "\r\nファイルの作成に失敗しました。" and gives false.
bool AddressBook_Save(AddressBook& book, const std::string& addressPath);

// Asks for a two-column file (addressee name, mail address; lines ended by CR LF, CR or LF) and
// adds its lines as entries with
// flag "0" to the member at `memberRow` of the group at `groupRow`; then lists that member's
// entries. False when no file was chosen, the file could not be opened or no member is selected.
bool AddressBook_Import(AddressBook& book, int groupRow, int memberRow);

// Rebuilds the group list from the group records, in book order.
void AddressBook_ListGroups(AddressBook& book);
// Rebuilds the member list for `group`. False when a broken record stopped the scan (after the
// message "アドレス帳の状態が異常です。"). The caller disables Cmd_To_Set.
bool AddressBook_ListMembers(AddressBook& book, std::string_view group);
// Fills the entry grid with the entries of the member at `memberRow` of the group at `groupRow`.
// Always true (a broken record shows "アドレス帳の状態が異常です。" and stops the scan).
bool AddressBook_ListEntries(AddressBook& book, int groupRow, int memberRow);

bool AddressBook_GroupExists(const AddressBook& book, std::string_view name);
// Covers only the members of the group currently listed.
bool AddressBook_MemberExists(const AddressBook& book, std::string_view name);

// Search by addressee name: every entry whose name contains `text` (character by character,
// case-sensitive; the two codes code page 932 has for 髙 and the other IBM extensions count as
// the one character they are) gives a hit name + " <" + mail + ">" with the name's bytes as
// stored, in book order. An empty text finds nothing.
struct AddressSearchResult {
    enum Outcome { NoHit, OneHit, SeveralHits };
    Outcome outcome = NoHit;
    std::vector<std::string> hits; // OneHit: the entry to add; SeveralHits: for the hit list
};
AddressSearchResult AddressBook_FindByName(const AddressBook& book, std::string_view text);

// Reads a file of bare addresses (file-system path), its lines ended by CR LF, CR or LF alike.
// Hands each valid line, trimmed, to `add` as
// soon as it is read, so that the lines before a read error are kept; every invalid line is shown
// as line + "は\r\nアドレス入力に誤りがあります。" and skipped.
// Throws tessaly::FileError when the file cannot be read.
void RecipientFile_Read(const std::string& fsPath, Dialogs& dialogs, QWidget* parent,
                        const std::function<void(const std::string&)>& add);
// The same, giving the valid lines at the end.
std::vector<std::string> RecipientFile_Read(const std::string& fsPath, Dialogs& dialogs,
                                            QWidget* parent = nullptr);

// ---- Commands of the address book window ----
// Each shows its refusal message itself and then changes nothing; true when it changed the book
// (the window then enables Cmd_Hozon). Selection, edit fields and buttons stay the window's.

// Appends the group record and the name to the group list; the caller selects the new last
// group row, lists its members and empties the grid (2 rows).
bool AddressBook_AddGroup(AddressBook& book, const std::string& name);
// Renames the group at `groupRow` in every record, re-sorts, relists groups and lists the
// members of the new name. Gives the row of the new name in the group list through `newRow`.
bool AddressBook_RenameGroup(AddressBook& book, int groupRow, const std::string& newName,
                             int& newRow);
// Asks (caption "警告") and deletes every record of the group at `groupRow`; removes that row
// from the group list and lists the members of the first group. The caller selects group row 0
// (when there is one) and empties the grid (2 rows).
bool AddressBook_DeleteGroup(AddressBook& book, int groupRow);

// Appends the member record to the group at `groupRow` and relists its members.
bool AddressBook_AddMember(AddressBook& book, int groupRow, const std::string& name);
// Renames the member at `memberRow` in its group, re-sorts and relists the members.
bool AddressBook_RenameMember(AddressBook& book, int groupRow, int memberRow,
                              const std::string& newName);
// Asks and deletes every record of the member; removes it from the member list.
bool AddressBook_DeleteMember(AddressBook& book, int groupRow, int memberRow);

// Entry commands: `selected` is the entry last clicked in the grid. Each relists the entries.
bool AddressBook_AddEntry(AddressBook& book, int groupRow, int memberRow,
                          const AddressEntryRow& entry);
bool AddressBook_UpdateEntry(AddressBook& book, int groupRow, int memberRow,
                             const AddressEntryRow& selected, const AddressEntryRow& entry);
bool AddressBook_DeleteEntry(AddressBook& book, int groupRow, int memberRow,
                             const AddressEntryRow& selected);

// Recipient lines for the transfers to the main window. With no member selected they show
// "グループメンバーが選択されていません。" and give nothing.
// Every entry of the member whose flag is exactly "0", in book order.
std::vector<std::string> AddressBook_MemberRecipients(const AddressBook& book, int groupRow,
                                                      int memberRow);
// Every record matching the selected entry, whatever its flag.
std::vector<std::string> AddressBook_EntryRecipients(const AddressBook& book, int groupRow,
                                                     int memberRow,
                                                     const AddressEntryRow& selected);

// Every record in joined form, one per line with CR LF (the hidden debug dump).
std::string AddressBook_Dump(const AddressBook& book);

} // namespace tessaly
