#include "address/address_lists.h"

#include "common/cp932.h"

#include <QByteArray>
#include <QString>

namespace tessaly {

namespace {

QString display(const std::string& sjis) { return QString::fromStdString(cp932::toUtf8(sjis)); }

QByteArray bytes(const std::string& sjis) {
    return QByteArray(sjis.data(), static_cast<qsizetype>(sjis.size()));
}

} // namespace

ByteListModel::ByteListModel(QObject* parent) : QAbstractListModel(parent) {}

int ByteListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant ByteListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= items_.size())
        return {};
    const std::string& item = items_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return display(item);
    if (role == BytesRole)
        return bytes(item);
    return {};
}

int ByteListModel::indexOf(std::string_view text) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == text)
            return static_cast<int>(i);
    return -1;
}

void ByteListModel::clear() { setItems({}); }

void ByteListModel::append(std::string text) {
    const int row = static_cast<int>(items_.size());
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back(std::move(text));
    endInsertRows();
}

void ByteListModel::removeAt(std::size_t row) {
    if (row >= items_.size())
        return;
    beginRemoveRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(row));
    endRemoveRows();
}

void ByteListModel::setItems(std::vector<std::string> items) {
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

AddressEntryModel::AddressEntryModel(QObject* parent) : QAbstractTableModel(parent), rows_(1) {}

int AddressEntryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int AddressEntryModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant AddressEntryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= rows_.size())
        return {};
    const AddressEntryRow& row = rows_[static_cast<std::size_t>(index.row())];
    const std::string* cell = nullptr;
    switch (index.column()) {
    case 0: cell = &row.name; break;
    case 1: cell = &row.mail; break;
    case 2: cell = &row.flag; break;
    default: return {};
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return display(*cell);
    if (role == BytesRole)
        return bytes(*cell);
    return {};
}

void AddressEntryModel::setRows(std::vector<AddressEntryRow> rows) {
    if (rows.empty())
        rows.resize(1);
    beginResetModel();
    rows_ = std::move(rows);
    endResetModel();
}

void AddressEntryModel::clear(int rowCount) {
    setRows(std::vector<AddressEntryRow>(static_cast<std::size_t>(rowCount < 1 ? 1 : rowCount)));
}

} // namespace tessaly
