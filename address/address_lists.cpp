#include "address/address_lists.h"

#include "common/text.h"

#include <QByteArray>
#include <QString>

namespace tessaly {

namespace {

QByteArray bytes(const std::string& sjis) {
    return QByteArray(sjis.data(), static_cast<qsizetype>(sjis.size()));
}

} // namespace

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
        return fromSjis(*cell);
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

#include "moc_address_lists.cpp"
