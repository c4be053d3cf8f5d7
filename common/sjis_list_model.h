#pragma once

#include <QAbstractListModel>

#include <string>
#include <string_view>
#include <vector>

namespace tessaly {

// A list of Shift-JIS texts for list views. The texts stay bytes: Qt::DisplayRole converts a text
// only when a view asks for it (a view with uniform item sizes asks only for what it draws, so a
// list of a million lines costs its bytes and little more); BytesRole gives the raw bytes.
class SjisListModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int BytesRole = Qt::UserRole + 1;

    explicit SjisListModel(QObject* parent = nullptr);

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

} // namespace tessaly
