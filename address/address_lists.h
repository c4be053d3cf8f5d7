// The lists the address book window shows: group list, member list (byte-string lists) and the
// entry grid (name, mail, flag). Items are kept as Shift-JIS bytes; the display role gives Unicode.
#pragma once

#include "common/sjis_list_model.h"

#include <QAbstractTableModel>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// One row of the entry grid: addressee name, mail address, notify flag.
struct AddressEntryRow {
    std::string name;
    std::string mail;
    std::string flag;
    bool operator==(const AddressEntryRow&) const = default;
};

// The entry grid: three columns (0 name, 1 mail, 2 flag). Like the grid it stands for it never
// has fewer than one row; unused rows are empty. Read-only for views.
class AddressEntryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int BytesRole = SjisListModel::BytesRole;

    explicit AddressEntryModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const std::vector<AddressEntryRow>& rows() const { return rows_; }
    const AddressEntryRow& row(std::size_t r) const { return rows_.at(r); }

    // Sets the rows; an empty vector leaves one empty row.
    void setRows(std::vector<AddressEntryRow> rows);
    // Empties the grid: `rowCount` empty rows (at least one).
    void clear(int rowCount);

private:
    std::vector<AddressEntryRow> rows_;
};

} // namespace tessaly
