// The window of a merge table: the table itself, the choice of the columns that hold the address,
// the addressee's name, the copies and the files, the fields to insert into the mail, and the
// rows that cannot be sent. While it holds a table, the run sends one message per row.
#pragma once

#include "mailmerge/merge_mail.h"
#include "mailmerge/merge_table.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <optional>

class QComboBox;
class QLabel;
class QListWidget;
class QTableView;

namespace tessaly {

// The table as the view shows it: the header row as column titles, the spreadsheet's row numbers.
class MergeTableModel : public QAbstractTableModel {
public:
    explicit MergeTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    void setTable(const MergeTable* table);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    const MergeTable* table_ = nullptr;
};

} // namespace tessaly

namespace tessaly {
struct RunMail;
}

class TTSY_MergeF : public QWidget {
    Q_OBJECT
public:
    explicit TTSY_MergeF(QWidget* mainWindow);

    // Reads the table at `path`; raises tessaly::Error with the text to show when it cannot.
    void open(const QString& path);
    // Shows the window over the main window.
    void showTable();
    bool loaded() const { return table_.has_value(); }
    const tessaly::MergeTable& table() const { return *table_; }
    tessaly::MergeColumns columns() const;
    // Makes the loaded table's usable rows the recipients of `mail`, each with its own message
    // from the mail's Subject and body shown, and reads their files; raises the refusal.
    void applyTo(tessaly::RunMail& mail) const;
    // "差し込み: 名簿.xlsx（50 行）" for the status bar; empty without a table.
    QString statusText() const;

signals:
    // "{{列名}}" to put where the user writes.
    void fieldChosen(const QString& field);
    // A table was opened, or closed (`loaded` false): the recipients list is the list again.
    void tableChanged(bool loaded);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void refill();
    void showUnusable();

    QWidget* main_;
    std::optional<tessaly::MergeTable> table_;
    tessaly::MergeTableModel model_;
    QLabel* Lbl_Source = nullptr;
    QComboBox* Cmb_Sheet = nullptr;
    QTableView* Grd_Merge = nullptr;
    QComboBox* Cmb_Address = nullptr;
    QComboBox* Cmb_Name = nullptr;
    QComboBox* Cmb_Cc = nullptr;
    QComboBox* Cmb_Bcc = nullptr;
    QComboBox* Cmb_Files = nullptr;
    QListWidget* Lst_Fields = nullptr;
    QListWidget* Lst_Unusable = nullptr;
};
