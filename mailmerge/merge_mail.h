// The mail merged with a table: `{{列名}}` in the Subject and the body filled with each row's
// value, the copies and the files of each row, and everything that keeps a row from being sent,
// refused before the run in one message that names the fields and the rows.
#pragma once

#include "mailmerge/merge_table.h"
#include "smtp/run_messages.h"

#include <QString>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// The field names in a Shift-JIS text, trimmed, each once, in the order they first appear. Text
// between "{{" and the next "}}" is a field; a "{{" without its "}}" is plain text.
std::vector<std::string> FieldNames(std::string_view sjis);
// The text with each field replaced by `value(name)`.
std::string FillFields(std::string_view sjis,
                       const std::function<std::string_view(std::string_view)>& value);

// Which column holds what; -1: none.
struct MergeColumns {
    int address = -1;
    int name = -1;  // the addressee line's name; without one, the part before "@"
    int cc = -1;    // several addresses separated by ";" or ","
    int bcc = -1;
    int files = -1; // file names separated by ";", relative to the table's folder
};

// The columns guessed from the header (メール, mail, アドレス, 名前, CC...) or, for the address,
// from the values.
MergeColumns GuessColumns(const MergeTable& table);

// A row that cannot be sent, and why (the window lists them; the run refuses them).
struct UnusableRow {
    int rowNumber = 0;
    QString reason;
};
std::vector<UnusableRow> UnusableRows(const MergeTable& table, const MergeColumns& columns);

// The recipient entries and each one's own message. `tableFolder` is where relative file names
// are found (a file-system path).
struct MergedMail {
    std::vector<std::string> recipientsSjis;
    std::vector<RecipientMessage> messages;
};
// Raises tessaly::Error with the refusal when the mail cannot be merged as it stands: no address
// column, a field the table does not have, a row whose value is empty where a field needs it, a
// line break in the Subject, unusable rows, a row's file that is missing or no plain file.
MergedMail MergeMail(const MergeTable& table, const MergeColumns& columns,
                     std::string_view subjectSjis, const std::vector<std::string>& bodyShownSjis);

// The columns address-book recipients offer as fields.
extern const char* const kAddressBookFields[4]; // 宛先名, メールアドレス, グループ, メンバー (UTF-8)

// The group and the member a recipient was taken from in the address book; empty for one typed
// or read from a file.
struct AddressBookPlace {
    std::string groupSjis;
    std::string memberSjis;
};

// Each recipient's own message with the address book's fields filled in, for a run without a
// table: 宛先名 and メールアドレス from the entry, グループ and メンバー from `places` (one per
// entry). None when the Subject and the body hold no field, so that such a mail goes as ever.
// Raises tessaly::Error with the refusal: a field that is none of the four, an empty value.
std::vector<RecipientMessage> FillAddressBookFields(std::string_view subjectSjis,
                                                   const std::vector<std::string>& bodyShownSjis,
                                                   const std::vector<std::string>& recipientsSjis,
                                                   const std::vector<AddressBookPlace>& places);

} // namespace tessaly
