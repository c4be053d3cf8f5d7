// List_To, the recipients of the mail: each entry's Shift-JIS bytes, where it came from, and for
// address-book entries the group and member it was taken from.
#pragma once

#include "mailmerge/merge_mail.h"

#include <QListWidget>
#include <string>
#include <vector>

namespace tessaly {

class AddressBook;

class RecipientList : public QListWidget {
public:
    explicit RecipientList(QWidget* parent);

    // Appends `entrySjis` (a bare address, or name " <" address ">") exactly as given; `source`
    // says where it came from, for the message that refuses a bad address.
    void add(const std::string& entrySjis, const QString& source, const AddressBookPlace& place = {});
    void removeSelected();

    std::vector<std::string> entriesSjis() const;
    std::vector<QString> sources() const;
    std::vector<AddressBookPlace> places() const;
};

// Where a name search found `entrySjis` in the book: the first record that makes the entry;
// nothing when none does.
AddressBookPlace AddressBook_PlaceOf(const AddressBook& book, const std::string& entrySjis);

} // namespace tessaly
