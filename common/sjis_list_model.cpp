#include "common/sjis_list_model.h"

#include "common/text.h"

#include <QByteArray>

namespace tessaly {

SjisListModel::SjisListModel(QObject* parent) : QAbstractListModel(parent) {}

int SjisListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(items_.size());
}

QVariant SjisListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= items_.size())
        return {};
    const std::string& item = items_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return fromSjis(item);
    if (role == BytesRole)
        return QByteArray(item.data(), static_cast<qsizetype>(item.size()));
    return {};
}

int SjisListModel::indexOf(std::string_view text) const {
    for (std::size_t i = 0; i < items_.size(); ++i)
        if (items_[i] == text)
            return static_cast<int>(i);
    return -1;
}

void SjisListModel::clear() { setItems({}); }

void SjisListModel::append(std::string text) {
    const int row = static_cast<int>(items_.size());
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back(std::move(text));
    endInsertRows();
}

void SjisListModel::removeAt(std::size_t row) {
    if (row >= items_.size())
        return;
    beginRemoveRows(QModelIndex(), static_cast<int>(row), static_cast<int>(row));
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(row));
    endRemoveRows();
}

void SjisListModel::setItems(std::vector<std::string> items) {
    beginResetModel();
    items_ = std::move(items);
    endResetModel();
}

} // namespace tessaly

#include "moc_sjis_list_model.cpp"
