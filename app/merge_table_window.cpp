#include "app/merge_table_window.h"
#include "sending/run_snapshot.h"

#include "common/secondary_window.h"
#include "common/text.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace tessaly {

void MergeTableModel::setTable(const MergeTable* table) {
    beginResetModel();
    table_ = table;
    endResetModel();
}

int MergeTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() || !table_ ? 0 : static_cast<int>(table_->rows.size());
}

int MergeTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() || !table_ ? 0 : static_cast<int>(table_->columnsSjis.size());
}

QVariant MergeTableModel::data(const QModelIndex& index, int role) const {
    if (!table_ || !index.isValid() || role != Qt::DisplayRole)
        return {};
    return fromSjis(table_->rows[static_cast<std::size_t>(index.row())]
                        .valuesSjis[static_cast<std::size_t>(index.column())]);
}

QVariant MergeTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (!table_ || role != Qt::DisplayRole || section < 0)
        return {};
    if (orientation == Qt::Horizontal)
        return fromSjis(table_->columnsSjis[static_cast<std::size_t>(section)]);
    return table_->rows[static_cast<std::size_t>(section)].rowNumber;
}

} // namespace tessaly

using tessaly::fromSjis;

TTSY_MergeF::TTSY_MergeF(QWidget* mainWindow) : main_(mainWindow) {
    setObjectName(QStringLiteral("TTSY_MergeF"));
    setWindowTitle(QStringLiteral("差し込みデータ"));
    setWindowFlag(Qt::Window);
    resize(760, 520);
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    Lbl_Source = new QLabel(this);
    Lbl_Source->setObjectName(QStringLiteral("Lbl_Source"));
    Cmb_Sheet = new QComboBox(this);
    Cmb_Sheet->setObjectName(QStringLiteral("Cmb_Sheet"));
    Cmb_Sheet->setAccessibleName(QStringLiteral("シート"));
    top->addWidget(Lbl_Source, 1);
    top->addWidget(Cmb_Sheet);
    layout->addLayout(top);
    Grd_Merge = new QTableView(this);
    Grd_Merge->setObjectName(QStringLiteral("Grd_Merge"));
    Grd_Merge->setModel(&model_);
    Grd_Merge->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(Grd_Merge, 1);

    auto* lower = new QHBoxLayout;
    auto* form = new QFormLayout;
    const auto combo = [&](QComboBox*& box, const char* name, const QString& label) {
        box = new QComboBox(this);
        box->setObjectName(QString::fromLatin1(name));
        box->setAccessibleName(label);
        form->addRow(label, box);
        connect(box, &QComboBox::currentIndexChanged, this, [this] { showUnusable(); });
    };
    combo(Cmb_Address, "Cmb_Address", QStringLiteral("メールアドレスの列"));
    combo(Cmb_Name, "Cmb_Name", QStringLiteral("宛先名の列"));
    combo(Cmb_Cc, "Cmb_Cc", QStringLiteral("CC の列"));
    combo(Cmb_Bcc, "Cmb_Bcc", QStringLiteral("BCC の列"));
    combo(Cmb_Files, "Cmb_Files", QStringLiteral("添付ファイルの列"));
    lower->addLayout(form);
    auto* fields = new QVBoxLayout;
    fields->addWidget(new QLabel(QStringLiteral("差し込み欄（ダブルクリックで本文に入れます）"), this));
    Lst_Fields = new QListWidget(this);
    Lst_Fields->setObjectName(QStringLiteral("Lst_Fields"));
    fields->addWidget(Lst_Fields);
    lower->addLayout(fields);
    auto* unusable = new QVBoxLayout;
    unusable->addWidget(new QLabel(QStringLiteral("送信できない行"), this));
    Lst_Unusable = new QListWidget(this);
    Lst_Unusable->setObjectName(QStringLiteral("Lst_Unusable"));
    unusable->addWidget(Lst_Unusable);
    lower->addLayout(unusable);
    layout->addLayout(lower);

    auto* buttons = new QHBoxLayout;
    auto* closeTable = new QPushButton(QStringLiteral("差し込みをやめる"), this);
    closeTable->setObjectName(QStringLiteral("Cmd_CloseTable"));
    auto* ok = new QPushButton(QStringLiteral("閉じる"), this);
    ok->setObjectName(QStringLiteral("Cmd_OK"));
    buttons->addStretch();
    buttons->addWidget(closeTable);
    buttons->addWidget(ok);
    layout->addLayout(buttons);

    connect(Lst_Fields, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { emit fieldChosen(item->text()); });
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
    connect(closeTable, &QPushButton::clicked, this, [this] {
        table_.reset();
        model_.setTable(nullptr);
        emit tableChanged(false);
        close();
    });
    connect(Cmb_Sheet, &QComboBox::activated, this, [this](int) {
        if (table_ && Cmb_Sheet->currentText() != table_->sheet)
            open(table_->path); // the sheet chosen is read below
    });
}

void TTSY_MergeF::open(const QString& path) {
    const QString sheet =
        table_ && table_->path == path && Cmb_Sheet->isVisible() ? Cmb_Sheet->currentText() : QString();
    tessaly::MergeTable read = tessaly::ReadMergeTable(path, sheet);
    model_.setTable(nullptr);
    table_ = std::move(read);
    refill();
    emit tableChanged(true);
}

void TTSY_MergeF::refill() {
    model_.setTable(&*table_);
    Lbl_Source->setText(QStringLiteral("%1　%2　%3 行")
                            .arg(QFileInfo(table_->path).fileName(), table_->sourceText())
                            .arg(table_->rows.size()));
    {
        const QSignalBlocker block(Cmb_Sheet);
        Cmb_Sheet->clear();
        Cmb_Sheet->addItems(table_->sheets);
        Cmb_Sheet->setCurrentText(table_->sheet);
        Cmb_Sheet->setVisible(table_->source == tessaly::TableSource::Xlsx);
    }
    const tessaly::MergeColumns guess = tessaly::GuessColumns(*table_);
    QStringList names{QStringLiteral("（なし）")};
    Lst_Fields->clear();
    for (const std::string& c : table_->columnsSjis) {
        names << fromSjis(c);
        if (!c.empty())
            Lst_Fields->addItem(QStringLiteral("{{%1}}").arg(fromSjis(c)));
    }
    for (auto [box, column] : {std::pair{Cmb_Address, guess.address}, {Cmb_Name, guess.name},
                               {Cmb_Cc, guess.cc}, {Cmb_Bcc, guess.bcc}, {Cmb_Files, guess.files}}) {
        const QSignalBlocker block(box);
        box->clear();
        box->addItems(names);
        box->setCurrentIndex(column + 1);
    }
    showUnusable();
}

tessaly::MergeColumns TTSY_MergeF::columns() const {
    return {Cmb_Address->currentIndex() - 1, Cmb_Name->currentIndex() - 1, Cmb_Cc->currentIndex() - 1,
            Cmb_Bcc->currentIndex() - 1, Cmb_Files->currentIndex() - 1};
}

void TTSY_MergeF::showUnusable() {
    Lst_Unusable->clear();
    if (!table_)
        return;
    if (columns().address < 0) {
        Lst_Unusable->addItem(QStringLiteral("メールアドレスの列を選んでください"));
        return;
    }
    for (const tessaly::UnusableRow& row : tessaly::UnusableRows(*table_, columns()))
        Lst_Unusable->addItem(QStringLiteral("%1 行目：%2").arg(row.rowNumber).arg(row.reason));
}

QString TTSY_MergeF::statusText() const {
    if (!table_)
        return {};
    return QStringLiteral("差し込み: %1（%2 行）")
        .arg(QFileInfo(table_->path).fileName())
        .arg(table_->rows.size());
}

void TTSY_MergeF::showTable() { tessaly::showOverMainWindow(*this, main_); }

void TTSY_MergeF::closeEvent(QCloseEvent* event) {
    if (main_)
        main_->setEnabled(true);
    event->accept();
}

void TTSY_MergeF::applyTo(tessaly::RunMail& mail) const {
    tessaly::MergedMail merged = tessaly::MergeMail(table(), columns(), mail.subjectSjis, mail.bodyShownSjis);
    mail.recipientsSjis = std::move(merged.recipientsSjis);
    mail.own = std::move(merged.messages);
    // A check before the run names the table, not the list, as where an entry came from.
    mail.recipientSources.assign(mail.recipientsSjis.size(), QStringLiteral("差し込みデータ"));
    mail.tableNameSjis = tessaly::toSjis(QFileInfo(table().path).fileName(), QStringLiteral("差し込みデータのファイル名"));
    tessaly::ReadOwnFiles(mail);
}

#include "moc_merge_table_window.cpp"
