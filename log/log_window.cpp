#include "log/log_window.h"

#include "common/window_place.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/sjis_list_model.h"
#include "log/send_log.h"
#include "common/controls.h"
#include "common/secondary_window.h"
#include "common/window_fonts.h"
#include "common/guide_window.h"

#include <QCloseEvent>
#include <QFont>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>

namespace {

using tessaly::makeLabel;

// The window is 570 x 448 from frame edge to frame edge; without the 4-pixel borders and the
// 19-pixel caption bar that leaves this client area, in which the controls are placed.
constexpr int kClientWidth = 570 - 8;
constexpr int kClientHeight = 448 - 8 - 19;

QFont windowFont() { return tessaly::proportionalGothic(12); }

QListView* makeList(QWidget* parent, const char* name, tessaly::SjisListModel* model) {
    auto* list = new QListView(parent);
    list->setObjectName(QString::fromLatin1(name));
    // Uniform item sizes keep the view from measuring every line: a list of a million lines
    // then lays out as fast as a list of ten.
    list->setUniformItemSizes(true);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setModel(model);
    return list;
}

} // namespace

TTSY_LogF::TTSY_LogF(tessaly::Dialogs& dialogs, const Settings& settings, QWidget* mainWindow,
                     std::function<void()> disableLog)
    : dialogs_(dialogs), settings_(settings), mainWindow_(mainWindow), disableLog_(std::move(disableLog)),
      titles_(new tessaly::SjisListModel(this)), details_(new tessaly::SjisListModel(this)),
      temps_(new tessaly::SjisListModel(this)) {
    setObjectName(QStringLiteral("TTSY_LogF"));
    setWindowTitle(QStringLiteral("TSY_2.7S LogData"));
    tessaly::addGuideKey(*this, QStringLiteral("送信ログ"));
    // No system menu and no close box: the window closes through its button only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFont(windowFont());
    setFixedSize(kClientWidth, kClientHeight);
    buildControls();
}

TTSY_LogF::~TTSY_LogF() = default;

void TTSY_LogF::buildControls() {
    Label1 = makeLabel(this, "Label1", QStringLiteral("送信日付　　　　タイトル"), 30, 10);

    Lst_Log_Title = makeList(this, "Lst_Log_Title", titles_);
    Lst_Log_Title->setGeometry(30, 25, 511, 121);
    Lst_Log_Title->setToolTip(QStringLiteral("日付＋タイトル単位に表示します"));

    Label2 = makeLabel(this, "Label2", QStringLiteral("宛先一覧"), 30, 150);
    Label3 = makeLabel(this, "Label3", QStringLiteral("送信日付　　　宛先名"), 30, 165);

    Lst_Log_Meisai = makeList(this, "Lst_Log_Meisai", details_);
    Lst_Log_Meisai->setGeometry(30, 185, 511, 186);
    Lst_Log_Meisai->setToolTip(QStringLiteral("送ったアドレスの一覧です"));

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCloseButton),
                              QStringLiteral("閉じる(&C)"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(250, 385, 75, 25);
    BitBtn1->setAutoDefault(false);

    Lst_Log_Temp = makeList(this, "Lst_Log_Temp", temps_);
    Lst_Log_Temp->setGeometry(385, 380, 126, 26);
    Lst_Log_Temp->hide();

    setTabOrder(Lst_Log_Title, Lst_Log_Meisai);
    setTabOrder(Lst_Log_Meisai, BitBtn1);

    // The lower list follows the selection of the upper one, whether a click or a key moved it.
    tessaly::connectGuarded(dialogs_, Lst_Log_Title->selectionModel(), &QItemSelectionModel::selectionChanged,
                            this, &TTSY_LogF::Lst_Log_TitleClick);
    tessaly::connectGuarded(dialogs_, BitBtn1, &QPushButton::clicked, this, &TTSY_LogF::BitBtn1Click);
}

void TTSY_LogF::open() {
    if (mainWindow_)
        tessaly::placeWindow(*this, mainWindow_->pos());
    tessaly::showOverMainWindow(*this, mainWindow_);
}

void TTSY_LogF::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window coming back from the task bar is no new showing: the log is read when the
    // program shows the window.
    if (!event->spontaneous())
        tessaly::guarded(dialogs_, this, [this] { FormShow(); });
}

void TTSY_LogF::FormShow() {
    titles_->clear();
    details_->clear();
    temps_->clear();
    tessaly::SendLogEntries entries;
    try {
        tessaly::SendLog_Load(settings_.Log, dialogs_, this, disableLog_, entries);
    } catch (...) {
        // A read error after a good open: the window still shows what was read before it.
        titles_->setItems(std::move(entries.titleEntries));
        temps_->setItems(std::move(entries.tempEntries));
        throw;
    }
    titles_->setItems(std::move(entries.titleEntries));
    temps_->setItems(std::move(entries.tempEntries));
}

void TTSY_LogF::Lst_Log_TitleClick() {
    // The first selected line from the top; with none, nothing matches an empty date and title
    // (every TempEntry has a date).
    std::string wanted;
    const QModelIndexList selected = Lst_Log_Title->selectionModel()->selectedRows();
    int first = -1;
    for (const QModelIndex& index : selected)
        if (first < 0 || index.row() < first)
            first = index.row();
    if (first >= 0)
        wanted = titles_->at(static_cast<std::size_t>(first));
    details_->setItems(tessaly::SendLog_DetailEntries(temps_->items(), wanted));
}

void TTSY_LogF::BitBtn1Click() { close(); }

// A dialog's Esc would only hide the window, leaving the main window disabled for good.
void TTSY_LogF::reject() { close(); }

void TTSY_LogF::closeEvent(QCloseEvent* event) {
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    event->accept();
}

#include "moc_log_window.cpp"
