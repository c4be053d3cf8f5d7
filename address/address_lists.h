// The lists the address book window shows: group list, member list (byte-string lists) and the
// entry grid (name, mail, flag). Items are kept as Shift-JIS bytes; the display role gives Unicode.
#pragma once

#include <QAbstractListModel>
#include <QAbstractTableModel>

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// A list of Shift-JIS texts. Qt::DisplayRole gives the Unicode text, BytesRole the raw bytes
// (QByteArray).
class ByteListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int BytesRole = Qt::UserRole + 1;

    explicit ByteListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const std::vector<std::string>& items() const { return items_; }
    std::size_t size() const { return items_.size(); }
    bool empty() const { return items_.empty(); }
    const std::string& at(std::size_t row) const { return items_.at(row); }
    // Row of the first item equal to `text` byte for byte, or -1.
    int indexOf(std::string_view text) const;
    bool contains(std::string_view text) const { return indexOf(text) >= 0; }

    void clear();
    void append(std::string text);
    void removeAt(std::size_t row);
    // Replaces all items with one model reset (cheap for large lists).
    void setItems(std::vector<std::string> items);

private:
    std::vector<std::string> items_;
};

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
    static constexpr int BytesRole = ByteListModel::BytesRole;

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
