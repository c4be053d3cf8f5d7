#include "address/address_window.h"

#include "address/address_book.h"
#include "common/atomic_file.h"
#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/text.h"
#include "common/controls.h"
#include "common/secondary_window.h"
#include "common/window_fonts.h"
#include "common/guide_window.h"

#include <QAbstractListModel>
#include <QCloseEvent>
#include <QComboBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QShowEvent>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>

namespace {

using tessaly::makeLabel;

// Texts the entry fields return to after every entry command.
const QString kResetAtena = QStringLiteral("宛名名");
const QString kResetMail = QStringLiteral("メールアドレス");
const QString kResetFutatu = QStringLiteral("0 or 1");

const QString kNoGroupSelected = QStringLiteral("アドレスグループが選択されていません。");

QFont windowFont() { return tessaly::proportionalGothic(12); }

// A view that reports the user's picks: a mouse click, or a key that moved the current item.
// Changes the program makes to the model or the selection are not picks.
template <typename View>
class PickView : public View {
public:
    using View::View;
    // Mouse clicks outside every item count only when `anywhere` is set.
    std::function<void(const QModelIndex&)> onPick;
    bool anywhere = false;

protected:
    // A click beside the items leaves the chosen item chosen, as a list box does; only a click
    // on an item changes the selection.
    void mousePressEvent(QMouseEvent* event) override {
        if (this->indexAt(event->position().toPoint()).isValid())
            View::mousePressEvent(event);
        else
            event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        View::mouseReleaseEvent(event);
        if (event->button() != Qt::LeftButton || !onPick)
            return;
        const QModelIndex at = this->indexAt(event->position().toPoint());
        if (at.isValid() || anywhere)
            onPick(at);
    }
    void keyPressEvent(QKeyEvent* event) override {
        const QPersistentModelIndex before = this->currentIndex();
        View::keyPressEvent(event);
        if (onPick && this->currentIndex() != QModelIndex(before) && this->currentIndex().isValid())
            onPick(this->currentIndex());
    }
};

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint,
                        const QRect& geometry) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setToolTip(hint);
    button->setGeometry(geometry);
    // Enter in an edit field must not press a button: the commands change the book.
    button->setAutoDefault(false);
    return button;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, const QString& text, const QRect& geometry) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(geometry);
    return edit;
}

} // namespace

// The hidden list of the book's records: a live view on AddressBook's vector, refreshed after
// every command that may have changed it.
class TTSY_AddressF::RecordsModel : public QAbstractListModel {
public:
    RecordsModel(const tessaly::AddressBook& book, QObject* parent) : QAbstractListModel(parent), book_(book) {}
    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(book_.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid() || static_cast<std::size_t>(index.row()) >= book_.size())
            return {};
        return tessaly::fromSjis(book_.records()[static_cast<std::size_t>(index.row())]);
    }
    void refresh() {
        beginResetModel();
        endResetModel();
    }

private:
    const tessaly::AddressBook& book_;
};

TTSY_AddressF::TTSY_AddressF(tessaly::Dialogs& dialogs, tessaly::AddressBook& book, Settings& settings,
                             std::string startDirectory, QWidget* mainWindow, RecipientSink addRecipients,
                             std::function<void()> disableAddressBook)
    : dialogs_(dialogs), book_(book), settings_(settings), startDirectory_(std::move(startDirectory)),
      mainWindow_(mainWindow), addRecipients_(std::move(addRecipients)),
      disableAddressBook_(std::move(disableAddressBook)) {
    setObjectName(QStringLiteral("TTSY_AddressF"));
    setWindowTitle(QStringLiteral("Tessaly 2.7S アドレス帳"));
    tessaly::addGuideKey(*this, QStringLiteral("アドレス帳"));
    // A fixed border with the system menu and its close box only.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(windowFont());
    buildControls();
    wireHandlers();
    collapse();
}

TTSY_AddressF::~TTSY_AddressF() = default;

void TTSY_AddressF::buildControls() {
    // Left column: what the collapsed window shows.
    Label1 = makeLabel(this, "Label1", QStringLiteral("アドレスグループ"), 8, 8);
    Cmb_AG = new QComboBox(this);
    Cmb_AG->setObjectName(QStringLiteral("Cmb_AG"));
    Cmb_AG->setGeometry(8, 24, 126, 22);
    Cmb_AG->setModel(&book_.groups());

    Label3 = makeLabel(this, "Label3", QStringLiteral("グループメンバー"), 8, 54);
    auto* members = new PickView<QListView>(this);
    members->anywhere = true; // a click on the empty list still asks for a member
    members->onPick = [this](const QModelIndex&) { run(&TTSY_AddressF::Lst_AMClick); };
    Lst_AM = members;
    Lst_AM->setObjectName(QStringLiteral("Lst_AM"));
    Lst_AM->setGeometry(8, 70, 126, 210);
    Lst_AM->setSelectionMode(QAbstractItemView::SingleSelection);
    Lst_AM->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Lst_AM->setModel(&book_.members());

    Cmd_To_Set = makeButton(this, "Cmd_To_Set", QStringLiteral("宛名へ転送！！"),
                            QStringLiteral("メンバー全員を宛名へ転送！！"), {8, 288, 126, 26});
    Cmd_To_Set->setEnabled(false);
    Cmd_Settei = makeButton(this, "Cmd_Settei", QStringLiteral("詳細・設定..."),
                            QStringLiteral("メンバー設定・個別転送"), {8, 320, 126, 26});
    Cmd_Close = makeButton(this, "Cmd_Close", QStringLiteral("閉じる"), QString(), {8, 352, 126, 26});

    // Right part: what only the expanded window shows.
    Cmd_Hozon = makeButton(this, "Cmd_Hozon", QStringLiteral("設定保存"), QStringLiteral("変更内容を保存します"),
                           {424, 352, 86, 26});
    Cmd_Hozon->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    Cmd_Hozon->setEnabled(false);
    Cmd_Cancel = makeButton(this, "Cmd_Cancel", QStringLiteral("キャンセル"), QStringLiteral("変更を取り消します"),
                            {518, 352, 86, 26});
    Cmd_Cancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    Lbl_Msg = makeLabel(this, "Lbl_Msg", QStringLiteral("各種設定をするには、設定ボタンを押します。"), 200, 160);

    Lst_AData = new QListView(this);
    Lst_AData->setObjectName(QStringLiteral("Lst_AData"));
    recordsModel_ = new RecordsModel(book_, this);
    Lst_AData->setModel(recordsModel_);
    Lst_AData->setUniformItemSizes(true);
    Lst_AData->hide();

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(150, 8, 454, 336);

    // Page 1: groups and members.
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    Label2 = makeLabel(TabSheet1, "Label2", QStringLiteral("アドレスグループ"), 12, 12);
    Edt_AG = makeEdit(TabSheet1, "Edt_AG", QString(), {12, 30, 200, 22});
    Cmd_AG_Ins = makeButton(TabSheet1, "Cmd_AG_Ins", QStringLiteral("追加"),
                            QStringLiteral("既に存在するグループは追加できません"), {222, 29, 64, 24});
    Cmd_AG_Upd = makeButton(TabSheet1, "Cmd_AG_Upd", QStringLiteral("修正"),
                            QStringLiteral("現在のグループを置きかえます"), {292, 29, 64, 24});
    Cmd_AG_Del = makeButton(TabSheet1, "Cmd_AG_Del", QStringLiteral("削除"),
                            QStringLiteral("現在のアドレスグループを削除"), {362, 29, 64, 24});
    Label4 = makeLabel(TabSheet1, "Label4", QStringLiteral("グループメンバー"), 12, 80);
    Edt_AM = makeEdit(TabSheet1, "Edt_AM", QString(), {12, 98, 200, 22});
    Cmd_AM_Ins = makeButton(TabSheet1, "Cmd_AM_Ins", QStringLiteral("追加"),
                            QStringLiteral("既に存在するメンバーは追加できません"), {222, 97, 64, 24});
    Cmd_AM_Upd = makeButton(TabSheet1, "Cmd_AM_Upd", QStringLiteral("修正"),
                            QStringLiteral("現在のメンバーを置きかえます"), {292, 97, 64, 24});
    Cmd_AM_Del = makeButton(TabSheet1, "Cmd_AM_Del", QStringLiteral("削除"), QStringLiteral("グループメンバーを削除"),
                            {362, 97, 64, 24});
    Cmd_AData_Out = makeButton(TabSheet1, "Cmd_AData_Out", QStringLiteral("AData-Out"), QString(), {12, 260, 80, 24});
    Cmd_AData_Out->hide(); // a maintenance dump, never offered to the user
    PageControl1->addTab(TabSheet1, QStringLiteral("グループ・メンバー詳細設定"));

    // Page 2: the entries of the selected member.
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    Label5 = makeLabel(TabSheet2, "Label5", QStringLiteral("宛先名"), 6, 4);
    Label6 = makeLabel(TabSheet2, "Label6", QStringLiteral("メールアドレス"), 106, 4);
    Label7 = makeLabel(TabSheet2, "Label7", QStringLiteral("非通知区分0：1"), 358, 4);
    auto* grid = new PickView<QTableView>(TabSheet2);
    grid->onPick = [this](const QModelIndex& at) {
        tessaly::guarded(dialogs_, this, [this, at] { Grd_AdrsClick(at.row()); });
    };
    Grd_Adrs = grid;
    Grd_Adrs->setObjectName(QStringLiteral("Grd_Adrs"));
    Grd_Adrs->setGeometry(4, 20, 446, 188);
    Grd_Adrs->setModel(&book_.entries());
    Grd_Adrs->horizontalHeader()->hide();
    Grd_Adrs->verticalHeader()->hide();
    Grd_Adrs->verticalHeader()->setMinimumSectionSize(17);
    Grd_Adrs->verticalHeader()->setDefaultSectionSize(17);
    Grd_Adrs->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Grd_Adrs->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Grd_Adrs->setSelectionMode(QAbstractItemView::SingleSelection);
    Grd_Adrs->setSelectionBehavior(QAbstractItemView::SelectItems);
    Grd_Adrs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grd_Adrs->setWordWrap(false);
    Edt_Atena = makeEdit(TabSheet2, "Edt_Atena", QStringLiteral("宛先名"), {4, 214, 100, 22});
    Edt_Mail = makeEdit(TabSheet2, "Edt_Mail", QStringLiteral("メールアドレス"), {104, 214, 265, 22});
    Edt_Futatu = makeEdit(TabSheet2, "Edt_Futatu", QStringLiteral("非通知"), {369, 214, 65, 22});
    Edt_Futatu->setToolTip(QStringLiteral("0か1を入力します。"));
    Cmd_Kobetu = makeButton(TabSheet2, "Cmd_Kobetu", QStringLiteral("個別宛名"),
                            QStringLiteral("選択したアドレスを宛名へ転送！！"), {4, 246, 82, 26});
    Cmd_Grid_Del = makeButton(TabSheet2, "Cmd_Grid_Del", QStringLiteral("削除"),
                              QStringLiteral("個別に宛先データを削除します"), {94, 246, 82, 26});
    Cmd_Grid_Upd = makeButton(TabSheet2, "Cmd_Grid_Upd", QStringLiteral("修正"),
                              QStringLiteral("入力内容で選択したデータを置きかえます"), {184, 246, 82, 26});
    Cmd_Grid_Ins = makeButton(TabSheet2, "Cmd_Grid_Ins", QStringLiteral("追加"), QStringLiteral("個別データを追加"),
                              {274, 246, 82, 26});
    Cmd_Read = makeButton(TabSheet2, "Cmd_Read", QStringLiteral("読み込み"),
                          QStringLiteral("ファイルからデータを読み込む"), {364, 246, 82, 26});
    setGridCommandsEnabled(false);
    PageControl1->addTab(TabSheet2, QStringLiteral("メンバー詳細設定"));
    PageControl1->setCurrentIndex(0);
    PageControl1->hide();
    book_.entries().clear(2);

    setTabOrder(Cmb_AG, Lst_AM);
    setTabOrder(Lst_AM, Cmd_To_Set);
    setTabOrder(Cmd_To_Set, Cmd_Settei);
    setTabOrder(Cmd_Settei, Cmd_Close);
    setTabOrder(Cmd_Close, PageControl1);
    setTabOrder(PageControl1, Cmd_Hozon);
    setTabOrder(Cmd_Hozon, Cmd_Cancel);
}

void TTSY_AddressF::run(void (TTSY_AddressF::*handler)()) {
    tessaly::guarded(dialogs_, this, [this, handler] {
        // The hidden record list follows the book whatever the command did, an error included.
        const auto refresh = qScopeGuard([this] { recordsModel_->refresh(); });
        (this->*handler)();
    });
}

void TTSY_AddressF::wireHandlers() {
    // Only the user's choice of a group is a group change; the program's own selection is not.
    connect(Cmb_AG, &QComboBox::activated, this, [this] { run(&TTSY_AddressF::Cmb_AGChange); });
    connect(PageControl1, &QTabWidget::currentChanged, this, [this] { run(&TTSY_AddressF::PageControl1Change); });
    const std::pair<QPushButton*, void (TTSY_AddressF::*)()> commands[] = {
        {Cmd_To_Set, &TTSY_AddressF::Cmd_To_SetClick},     {Cmd_Settei, &TTSY_AddressF::Cmd_SetteiClick},
        {Cmd_Close, &TTSY_AddressF::Cmd_CloseClick},       {Cmd_Hozon, &TTSY_AddressF::Cmd_HozonClick},
        {Cmd_Cancel, &TTSY_AddressF::Cmd_CancelClick},     {Cmd_AG_Ins, &TTSY_AddressF::Cmd_AG_InsClick},
        {Cmd_AG_Upd, &TTSY_AddressF::Cmd_AG_UpdClick},     {Cmd_AG_Del, &TTSY_AddressF::Cmd_AG_DelClick},
        {Cmd_AM_Ins, &TTSY_AddressF::Cmd_AM_InsClick},     {Cmd_AM_Upd, &TTSY_AddressF::Cmd_AM_UpdClick},
        {Cmd_AM_Del, &TTSY_AddressF::Cmd_AM_DelClick},     {Cmd_AData_Out, &TTSY_AddressF::Cmd_AData_OutClick},
        {Cmd_Kobetu, &TTSY_AddressF::Cmd_KobetuClick},     {Cmd_Grid_Del, &TTSY_AddressF::Cmd_Grid_DelClick},
        {Cmd_Grid_Upd, &TTSY_AddressF::Cmd_Grid_UpdClick}, {Cmd_Grid_Ins, &TTSY_AddressF::Cmd_Grid_InsClick},
        {Cmd_Read, &TTSY_AddressF::Cmd_ReadClick},
    };
    for (const auto& [button, handler] : commands)
        connect(button, &QPushButton::clicked, this, [this, handler] { run(handler); });
}

// ---- Window state helpers ----

void TTSY_AddressF::collapse() { setFixedSize(CollapsedWidth, ClientHeight); }
void TTSY_AddressF::expand() { setFixedSize(ExpandedWidth, ClientHeight); }
bool TTSY_AddressF::isExpanded() const { return width() == ExpandedWidth; }

int TTSY_AddressF::groupRow() const {
    const int row = Cmb_AG->currentIndex();
    return row >= 0 && static_cast<std::size_t>(row) < book_.groups().size() ? row : -1;
}

int TTSY_AddressF::memberRow() const {
    const QModelIndexList rows = Lst_AM->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

std::string TTSY_AddressF::selectedGroup() const { return book_.groupAt(groupRow()); }

void TTSY_AddressF::selectGroup(int row) {
    Cmb_AG->setCurrentIndex(row >= 0 && static_cast<std::size_t>(row) < book_.groups().size() ? row : -1);
}

void TTSY_AddressF::listMembers(const std::string& group) {
    tessaly::AddressBook_ListMembers(book_, group);
    // A rebuilt member list has no selected member, so there is nothing to transfer.
    Cmd_To_Set->setEnabled(false);
}

void TTSY_AddressF::emptyGrid(int rows) { book_.entries().clear(rows); }

void TTSY_AddressF::resetEntryFields() {
    Edt_Atena->setText(kResetAtena);
    Edt_Mail->setText(kResetMail);
    Edt_Futatu->setText(kResetFutatu);
}

void TTSY_AddressF::setGridCommandsEnabled(bool on) {
    Cmd_Grid_Del->setEnabled(on);
    Cmd_Grid_Upd->setEnabled(on);
    Cmd_Kobetu->setEnabled(on);
}

void TTSY_AddressF::bookChanged() { Cmd_Hozon->setEnabled(true); }

std::string TTSY_AddressF::typed(const QLineEdit* edit, std::string_view label) const {
    // A character Shift-JIS cannot hold is refused here, with a message naming the field.
    return tessaly::toSjis(edit->text(), QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
}

// ---- Opening, showing, closing ----

void TTSY_AddressF::open() {
    Cmd_To_Set->setEnabled(true);
    Cmd_Settei->setEnabled(true);
    Lbl_Msg->show();
    tessaly::showOverMainWindow(*this, mainWindow_);
}

void TTSY_AddressF::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A window coming back from the task bar is no new showing: the book is reloaded when the
    // program shows the window.
    if (!event->spontaneous())
        run(&TTSY_AddressF::FormShow);
}

void TTSY_AddressF::FormShow() {
    book_.setDialogParent(this);
    PageControl1->hide();
    Cmd_To_Set->setEnabled(false);
    Lbl_Msg->show();
    Grd_Adrs->setColumnWidth(0, 100);
    Grd_Adrs->setColumnWidth(1, 265);
    Grd_Adrs->setColumnWidth(2, 65);
    // Collapsed before the load, so that a failing load still leaves the window in its
    // collapsed form.
    collapse();
    tessaly::AddressBook_Load(book_, settings_.Address, disableAddressBook_);
    selectGroup(0);
    Edt_AG->setText(tessaly::fromSjis(selectedGroup()));
    listMembers(selectedGroup());
}

void TTSY_AddressF::closeEvent(QCloseEvent* event) {
    settings_.Address_X = x();
    settings_.Address_Y = y();
    // The book's messages belong to the main window again while this one is hidden.
    book_.setDialogParent(mainWindow_);
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    event->accept();
}

void TTSY_AddressF::reject() { run(&TTSY_AddressF::Cmd_CloseClick); }

void TTSY_AddressF::Cmd_CloseClick() {
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    close();
}

// ---- Selection ----

void TTSY_AddressF::Cmb_AGChange() {
    const std::string group = selectedGroup();
    listMembers(group);
    emptyGrid(1);
    Edt_AG->setText(tessaly::fromSjis(group));
    Edt_AM->clear();
    resetEntryFields();
}

void TTSY_AddressF::Lst_AMClick() {
    const int member = memberRow();
    if (member < 0) {
        // A Ctrl+click can take the selection away: nothing is left to transfer.
        Cmd_To_Set->setEnabled(false);
        dialogs_.message(this, QStringLiteral("グループメンバーが選択されていません。"));
        return;
    }
    tessaly::AddressBook_ListEntries(book_, groupRow(), member);
    Cmd_To_Set->setEnabled(true);
    Edt_AM->setText(tessaly::fromSjis(book_.memberAt(member)));
    resetEntryFields();
}

void TTSY_AddressF::Cmd_SetteiClick() {
    const int member = memberRow();
    if (!book_.members().empty()) {
        if (member < 0) {
            dialogs_.message(this, QStringLiteral("グループメンバーが選択されていません。"));
            return;
        }
        tessaly::AddressBook_ListEntries(book_, groupRow(), member);
    }
    PageControl1->show();
    Cmd_To_Set->setEnabled(false);
    Lbl_Msg->hide();
    expand();
}

void TTSY_AddressF::PageControl1Change() {
    if (PageControl1->currentWidget() != TabSheet2)
        return;
    const int member = memberRow();
    if (member >= 0)
        tessaly::AddressBook_ListEntries(book_, groupRow(), member);
    else
        emptyGrid(2);
}

void TTSY_AddressF::Grd_AdrsClick(int row) {
    const auto& rows = book_.entries().rows();
    selectedEntry_ = row >= 0 && static_cast<std::size_t>(row) < rows.size() ? rows[static_cast<std::size_t>(row)]
                                                                            : tessaly::AddressEntryRow{};
    Edt_Atena->setText(tessaly::fromSjis(selectedEntry_.name));
    Edt_Mail->setText(tessaly::fromSjis(selectedEntry_.mail));
    Edt_Futatu->setText(tessaly::fromSjis(selectedEntry_.flag));
    setGridCommandsEnabled(true);
}

// ---- Groups ----

void TTSY_AddressF::Cmd_AG_InsClick() {
    const std::string name = typed(Edt_AG, tessaly::kGroupLabel);
    if (!tessaly::AddressBook_AddGroup(book_, name))
        return;
    selectGroup(static_cast<int>(book_.groups().size()) - 1);
    listMembers(name);
    emptyGrid(2);
    Edt_AG->clear();
    bookChanged();
}

void TTSY_AddressF::Cmd_AG_UpdClick() {
    const std::string name = typed(Edt_AG, tessaly::kGroupLabel);
    const int group = groupRow();
    if (group < 0) {
        dialogs_.message(this, kNoGroupSelected);
        return;
    }
    int renamedRow = -1;
    if (!tessaly::AddressBook_RenameGroup(book_, group, name, renamedRow))
        return;
    selectGroup(renamedRow);
    Cmd_To_Set->setEnabled(false); // the member list was rebuilt
    bookChanged();
}

void TTSY_AddressF::Cmd_AG_DelClick() {
    const int group = groupRow();
    if (group < 0) {
        dialogs_.message(this, kNoGroupSelected);
        return;
    }
    if (!tessaly::AddressBook_DeleteGroup(book_, group))
        return;
    selectGroup(0);
    Cmd_To_Set->setEnabled(false); // the member list was rebuilt
    emptyGrid(2);
    bookChanged();
}

// ---- Members ----

void TTSY_AddressF::Cmd_AM_InsClick() {
    const std::string name = typed(Edt_AM, tessaly::kMemberLabel);
    // A member of no group could not be listed again after the next load.
    if (groupRow() < 0) {
        dialogs_.message(this, kNoGroupSelected);
        return;
    }
    if (!tessaly::AddressBook_AddMember(book_, groupRow(), name))
        return;
    Cmd_To_Set->setEnabled(false); // the member list was rebuilt
    emptyGrid(2);
    Edt_AM->clear();
    bookChanged();
}

void TTSY_AddressF::Cmd_AM_UpdClick() {
    const std::string name = typed(Edt_AM, tessaly::kMemberLabel);
    if (!tessaly::AddressBook_RenameMember(book_, groupRow(), memberRow(), name))
        return;
    Cmd_To_Set->setEnabled(false); // the member list was rebuilt
    bookChanged();
}

void TTSY_AddressF::Cmd_AM_DelClick() {
    if (!tessaly::AddressBook_DeleteMember(book_, groupRow(), memberRow()))
        return;
    Cmd_To_Set->setEnabled(false); // no member is selected any more
    bookChanged();
}

// ---- Entries ----

void TTSY_AddressF::Cmd_Grid_InsClick() {
    const tessaly::AddressEntryRow entry{typed(Edt_Atena, tessaly::kNameLabel), typed(Edt_Mail, tessaly::kMailLabel),
                                         typed(Edt_Futatu, tessaly::kFlagLabel)};
    if (!tessaly::AddressBook_AddEntry(book_, groupRow(), memberRow(), entry))
        return;
    resetEntryFields();
    setGridCommandsEnabled(false);
    bookChanged();
}

void TTSY_AddressF::Cmd_Grid_UpdClick() {
    const tessaly::AddressEntryRow entry{typed(Edt_Atena, tessaly::kNameLabel), typed(Edt_Mail, tessaly::kMailLabel),
                                         typed(Edt_Futatu, tessaly::kFlagLabel)};
    if (!tessaly::AddressBook_UpdateEntry(book_, groupRow(), memberRow(), selectedEntry_, entry))
        return;
    resetEntryFields();
    setGridCommandsEnabled(false);
    bookChanged();
}

void TTSY_AddressF::Cmd_Grid_DelClick() {
    if (!tessaly::AddressBook_DeleteEntry(book_, groupRow(), memberRow(), selectedEntry_))
        return;
    setGridCommandsEnabled(false);
    bookChanged();
}

void TTSY_AddressF::Cmd_ReadClick() {
    Cmd_Read->setEnabled(false);
    // A read error may stop the import part-way, after some entries went into the book: the
    // command comes back and saving is offered all the same, so that those entries are not
    // stranded in memory without a way to keep them.
    const auto finish = qScopeGuard([this] {
        resetEntryFields();
        Cmd_Read->setEnabled(true);
        setGridCommandsEnabled(false);
        bookChanged();
    });
    tessaly::AddressBook_Import(book_, groupRow(), memberRow());
}

// ---- Transfers to the recipient list ----

std::string TTSY_AddressF::selectedGroupSjis() const { return book_.groupAt(groupRow()); }
std::string TTSY_AddressF::selectedMemberSjis() const { return book_.memberAt(memberRow()); }

void TTSY_AddressF::Cmd_KobetuClick() {
    const std::vector<std::string> lines =
        tessaly::AddressBook_EntryRecipients(book_, groupRow(), memberRow(), selectedEntry_);
    if (!lines.empty() && addRecipients_)
        addRecipients_(lines);
}

void TTSY_AddressF::Cmd_To_SetClick() {
    const int member = memberRow();
    const std::vector<std::string> lines = tessaly::AddressBook_MemberRecipients(book_, groupRow(), member);
    if (member < 0)
        return; // refused with its message; the window stays open
    if (!lines.empty() && addRecipients_)
        addRecipients_(lines);
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    close();
}

// ---- Save and cancel ----

void TTSY_AddressF::Cmd_HozonClick() {
    const bool saved = tessaly::AddressBook_Save(book_, settings_.Address);
    // After a failed save the changes are still only in memory: keep the command offered so
    // that the user can try again (after fixing the path) instead of losing them at the next show.
    Cmd_Hozon->setEnabled(!saved);
    collapse();
}

void TTSY_AddressF::Cmd_CancelClick() {
    tessaly::AddressBook_Load(book_, settings_.Address, disableAddressBook_);
    selectGroup(0);
    listMembers(selectedGroup());
    emptyGrid(2);
    Edt_AG->setText(tessaly::fromSjis(selectedGroup()));
    Edt_AM->clear();
    resetEntryFields();
    Cmd_Hozon->setEnabled(false);
    Cmd_To_Set->setEnabled(false);
    collapse();
}

void TTSY_AddressF::Cmd_AData_OutClick() {
    tessaly::writeFileAtomically(cp932::pathFromSjis(startDirectory_ + "/Debug.txt"), tessaly::AddressBook_Dump(book_));
}

#include "moc_address_window.cpp"
