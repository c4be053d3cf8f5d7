// A read-only list of Shift-JIS lines for a list view. The lines stay bytes; a line becomes
// Unicode only when a view asks for it, so a list of a million lines costs its bytes and nothing
// more, and a view with uniform item sizes asks only for the lines it draws.
#pragma once

#include <QAbstractListModel>

#include <string>
#include <vector>

namespace tessaly {

class SjisListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int BytesRole = Qt::UserRole + 1; // the line's bytes as QByteArray

    explicit SjisListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const std::vector<std::string>& lines() const { return lines_; }
    std::size_t size() const { return lines_.size(); }
    const std::string& at(std::size_t row) const { return lines_.at(row); }

    // Replaces every line with one model reset.
    void setLines(std::vector<std::string> lines);
    void clear() { setLines({}); }

private:
    std::vector<std::string> lines_;
};

} // namespace tessaly
