#include "app/attachment_window.h"

#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/errors.h"
#include "common/guide_window.h"
#include "common/secondary_window.h"
#include "common/text.h"
#include "common/window_fonts.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>

#include <algorithm>

TTSY_AttachF::TTSY_AttachF(tessaly::Dialogs& dialogs, QWidget* mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      dialogs_(dialogs), main_(mainWindow) {
    setObjectName(QStringLiteral("TTSY_AttachF"));
    setWindowTitle(QStringLiteral("添付ファイル"));
    tessaly::addGuideKey(*this, QStringLiteral("ファイルを添付する"));
    setFont(tessaly::proportionalGothic(12));
    setFixedSize(480, 260);
    setModal(false);
    setAcceptDrops(true);

    Lst_Attach = new QTreeWidget(this);
    Lst_Attach->setObjectName(QStringLiteral("Lst_Attach"));
    Lst_Attach->setAccessibleName(QStringLiteral("添付ファイルの一覧"));
    Lst_Attach->setHeaderLabels(
        {QStringLiteral("名前"), QStringLiteral("大きさ"), QStringLiteral("種類")});
    Lst_Attach->setRootIsDecorated(false);
    Lst_Attach->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Lst_Attach->setColumnWidth(0, 220);
    Lst_Attach->setColumnWidth(1, 70);
    Lst_Attach->header()->setStretchLastSection(true);
    Lst_Attach->setGeometry(10, 10, 460, 180);
    // The list takes drops too; they reach this window.
    Lst_Attach->setAcceptDrops(false);

    Label_Total = new QLabel(this);
    Label_Total->setObjectName(QStringLiteral("Label_Total"));
    Label_Total->setGeometry(10, 198, 460, 20);

    const auto button = [this](const char* name, const QString& text, int x) {
        auto* b = new QPushButton(text, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(x, 226, 96, 25);
        return b;
    };
    Cmd_Add = button("Cmd_Add", QStringLiteral("追加..."), 10);
    Cmd_Del = button("Cmd_Del", QStringLiteral("削除"), 114);
    Cmd_Close = button("Cmd_Close", QStringLiteral("閉じる"), 374);
    Cmd_Close->setDefault(true);
    connect(Cmd_Add, &QPushButton::clicked, this,
            [this] { tessaly::guarded(dialogs_, this, [this] { Cmd_AddClick(); }); });
    connect(Cmd_Del, &QPushButton::clicked, this, [this] { Cmd_DelClick(); });
    connect(Cmd_Close, &QPushButton::clicked, this, [this] { Cmd_CloseClick(); });
    connect(Lst_Attach, &QTreeWidget::itemSelectionChanged, this,
            [this] { Cmd_Del->setEnabled(!Lst_Attach->selectedItems().isEmpty()); });
    setTabOrder(Lst_Attach, Cmd_Add);
    setTabOrder(Cmd_Add, Cmd_Del);
    setTabOrder(Cmd_Del, Cmd_Close);
    showFiles();
}

void TTSY_AttachF::showList() {
    if (main_)
        move(main_->x() + 40, main_->y() + 60);
    tessaly::showOverMainWindow(*this, main_);
    Cmd_Add->setFocus();
}

void TTSY_AttachF::addPaths(const QStringList& fsPaths) {
    QStringList refused;
    bool added = false;
    for (const QString& fsPath : fsPaths) {
        const QString path = QFileInfo(fsPath).absoluteFilePath();
        try {
            const std::string pathSjis =
                tessaly::toSjis(path, QStringLiteral("添付ファイルの名前"));
            if (std::any_of(files_.begin(), files_.end(), [&](const tessaly::AttachedFile& f) {
                    return f.pathSjis == pathSjis;
                }))
                continue;
            files_.push_back(tessaly::AttachedFileOf(pathSjis));
            added = true;
        } catch (const tessaly::Error& e) {
            refused << QString::fromStdString(e.what());
        }
    }
    if (added) {
        showFiles();
        emit filesChanged();
    }
    if (!refused.isEmpty())
        dialogs_.message(this, refused.join(QStringLiteral("\r\n")));
}

void TTSY_AttachF::clear() {
    if (files_.empty())
        return;
    files_.clear();
    showFiles();
    emit filesChanged();
}

void TTSY_AttachF::Cmd_AddClick() {
    tessaly::FileDialogOptions options;
    options.title = QStringLiteral("添付するファイルを選んでください");
    options.filter = QStringLiteral("全てのファイル (*)");
    options.initialDir = folder_.isEmpty() ? QDir::homePath() : folder_;
    const QStringList chosen = dialogs_.openFiles(this, options);
    if (chosen.isEmpty())
        return;
    folder_ = QFileInfo(chosen.first()).absolutePath();
    addPaths(chosen);
}

void TTSY_AttachF::Cmd_DelClick() {
    std::vector<int> rows;
    for (QTreeWidgetItem* item : Lst_Attach->selectedItems())
        rows.push_back(Lst_Attach->indexOfTopLevelItem(item));
    if (rows.empty())
        return;
    std::sort(rows.rbegin(), rows.rend());
    for (const int row : rows)
        files_.erase(files_.begin() + row);
    showFiles();
    emit filesChanged();
}

void TTSY_AttachF::Cmd_CloseClick() { accept(); }

void TTSY_AttachF::done(int result) {
    if (main_)
        main_->setEnabled(true);
    QDialog::done(result);
}

QStringList TTSY_AttachF::droppedFiles(const QMimeData* data) {
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    return paths;
}

void TTSY_AttachF::dragEnterEvent(QDragEnterEvent* event) {
    if (!droppedFiles(event->mimeData()).isEmpty())
        event->acceptProposedAction();
}

void TTSY_AttachF::dropEvent(QDropEvent* event) {
    const QStringList paths = droppedFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    tessaly::guarded(dialogs_, this, [&] { addPaths(paths); });
}

void TTSY_AttachF::showFiles() {
    Lst_Attach->clear();
    const QMimeDatabase types;
    for (const tessaly::AttachedFile& file : files_) {
        const QString type = types.mimeTypeForName(QString::fromStdString(file.contentType)).comment();
        auto* item = new QTreeWidgetItem(
            {tessaly::fromSjis(tessaly::AttachmentNameOf(file.pathSjis)),
             tessaly::SizeText(file.size),
             type.isEmpty() ? QString::fromStdString(file.contentType) : type});
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setToolTip(0, tessaly::fromSjis(file.pathSjis));
        Lst_Attach->addTopLevelItem(item);
    }
    Label_Total->setText(files_.empty() ? QStringLiteral("添付ファイルはありません。")
                                        : QStringLiteral("合計：") + tessaly::AttachmentSummary(files_));
    Cmd_Del->setEnabled(!Lst_Attach->selectedItems().isEmpty());
}

#include "moc_attachment_window.cpp"
