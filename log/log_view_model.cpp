#include "log/log_view_model.h"

#include "common/text.h"

#include <QByteArray>

namespace tessaly {

SjisListModel::SjisListModel(QObject* parent) : QAbstractListModel(parent) {}

int SjisListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant SjisListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || static_cast<std::size_t>(index.row()) >= lines_.size())
        return {};
    const std::string& line = lines_[static_cast<std::size_t>(index.row())];
    if (role == Qt::DisplayRole)
        return fromSjis(line);
    if (role == BytesRole)
        return QByteArray(line.data(), static_cast<qsizetype>(line.size()));
    return {};
}

void SjisListModel::setLines(std::vector<std::string> lines) {
    beginResetModel();
    lines_ = std::move(lines);
    endResetModel();
}

} // namespace tessaly
