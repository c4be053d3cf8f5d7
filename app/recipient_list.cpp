#include "app/recipient_list.h"

#include "address/address_book.h"
#include "common/text.h"
#include "common/window_fonts.h"

namespace tessaly {

namespace {
constexpr int kSourceRole = Qt::UserRole + 1;
constexpr int kGroupRole = Qt::UserRole + 2;
constexpr int kMemberRole = Qt::UserRole + 3;
constexpr int kRowHeight = 13;
constexpr int kListHeight = 46;
} // namespace

RecipientList::RecipientList(QWidget* parent) : QListWidget(parent) {
    setObjectName(QStringLiteral("List_To"));
    setFont(fixedGothic(13));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setUniformItemSizes(true);
    setFocusPolicy(Qt::ClickFocus);
    // Whole entries only: the room below the last entry that fits stays empty, so that no part of
    // a further entry shows there.
    const int leftover = (kListHeight - 2 * frameWidth()) % kRowHeight;
    setStyleSheet(QStringLiteral("QListWidget { padding-bottom: %1px; }").arg(leftover));
}

void RecipientList::add(const std::string& entrySjis, const QString& source, const AddressBookPlace& place) {
    auto* item = new QListWidgetItem(fromSjis(entrySjis), this);
    item->setData(Qt::UserRole, QByteArray::fromStdString(entrySjis));
    item->setData(kSourceRole, source);
    if (!place.groupSjis.empty() || !place.memberSjis.empty()) {
        item->setData(kGroupRole, QByteArray::fromStdString(place.groupSjis));
        item->setData(kMemberRole, QByteArray::fromStdString(place.memberSjis));
    }
    item->setSizeHint(QSize(0, kRowHeight));
}

void RecipientList::removeSelected() {
    for (int i = count() - 1; i >= 0; --i)
        if (item(i)->isSelected())
            delete takeItem(i);
}

std::vector<std::string> RecipientList::entriesSjis() const {
    std::vector<std::string> entries;
    entries.reserve(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i)
        entries.push_back(item(i)->data(Qt::UserRole).toByteArray().toStdString());
    return entries;
}

std::vector<AddressBookPlace> RecipientList::places() const {
    std::vector<AddressBookPlace> places;
    places.reserve(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i)
        places.push_back({item(i)->data(kGroupRole).toByteArray().toStdString(),
                          item(i)->data(kMemberRole).toByteArray().toStdString()});
    return places;
}

std::vector<QString> RecipientList::sources() const {
    std::vector<QString> sources;
    sources.reserve(static_cast<std::size_t>(count()));
    for (int i = 0; i < count(); ++i)
        sources.push_back(item(i)->data(kSourceRole).toString());
    return sources;
}

AddressBookPlace AddressBook_PlaceOf(const AddressBook& book, const std::string& entrySjis) {
    for (const std::string& joined : book.records()) {
        AddressRecord r;
        if (AddressRecord_Split(joined, r) && RecipientLine(r.name, r.mail) == entrySjis)
            return {r.group, r.member};
    }
    return {};
}

} // namespace tessaly
