// The address book window TTSY_AddressF: browse groups and members, send their entries to the
// main window's recipient list, and (expanded) edit groups, members and entries.
//
// Created once at start, hidden, after the settings window; it lives until the program ends.
// The start-up object passes:
//   dialogs            every message box, question and file dialog;
//   book               the program's one AddressBook (the main window's name search reads it too);
//   settings           the Settings record: the Address path is read at every load, Address_X and
//                      Address_Y are written when the window closes;
//   startDirectory     StartDirectory (Shift-JIS bytes), for the hidden Debug.txt dump;
//   mainWindow         disabled while this window is open, enabled again whenever it closes;
//   addRecipients      appends recipient lines (Shift-JIS, name " <" mail ">") to List_To and
//                      enables TB_Send; called only with at least one line
//                      (TTSY_MainF::addRecipients does exactly that);
//   disableAddressBook empties the Address setting in the record and in Edt_Address when the
//                      address file cannot be read (TTSY_SetteiF::assignText(Edt_Address, "")).
// Open it with open(): it does what the main window's address command asks of this window
// (enable Cmd_To_Set and Cmd_Settei, show Lbl_Msg), disables the main window and shows this one
// without waiting. Every show reloads the address file.
//
// Widths: the window's client area is 612 x 390 when expanded; the outer widths 620 (expanded)
// and 150 (collapsed) include an 8-pixel frame, so the client is 612 or 142 pixels wide.
#pragma once

#include "address/address_lists.h"
#include "settings/settings.h"

#include <QDialog>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QTabWidget;
class QTableView;
class QWidget;

namespace tessaly {
class AddressBook;
class Dialogs;
} // namespace tessaly

class TTSY_AddressF : public QDialog {
    Q_OBJECT
public:
    using RecipientSink = std::function<void(const std::vector<std::string>& linesSjis)>;

    static constexpr int ClientHeight = 390;
    static constexpr int ExpandedWidth = 612;  // outer 620
    static constexpr int CollapsedWidth = 142; // outer 150

    TTSY_AddressF(tessaly::Dialogs& dialogs, tessaly::AddressBook& book, Settings& settings,
                  std::string startDirectory, QWidget* mainWindow, RecipientSink addRecipients,
                  std::function<void()> disableAddressBook);
    ~TTSY_AddressF() override;

    // The main window's address command: enable Cmd_To_Set and Cmd_Settei, show Lbl_Msg, disable
    // the main window, show this window (which reloads the book).
    void open();

    bool isExpanded() const;
    // The group and the member selected now: where the lines a transfer hands over come from.
    std::string selectedGroupSjis() const;
    std::string selectedMemberSjis() const;

    // --- Handlers, public so that the owner and tests can name them ---
    void FormShow();
    void Cmb_AGChange();
    void Lst_AMClick();
    void Cmd_SetteiClick();
    void PageControl1Change();
    void Grd_AdrsClick(int row);
    void Cmd_AG_InsClick();
    void Cmd_AG_UpdClick();
    void Cmd_AG_DelClick();
    void Cmd_AM_InsClick();
    void Cmd_AM_UpdClick();
    void Cmd_AM_DelClick();
    void Cmd_Grid_InsClick();
    void Cmd_Grid_UpdClick();
    void Cmd_Grid_DelClick();
    void Cmd_ReadClick();
    void Cmd_KobetuClick();
    void Cmd_To_SetClick();
    void Cmd_HozonClick();
    void Cmd_CancelClick();
    void Cmd_CloseClick();
    void Cmd_AData_OutClick();

    // --- Controls, named as their object names ---
    QLabel* Label1 = nullptr;
    QComboBox* Cmb_AG = nullptr;
    QLabel* Label3 = nullptr;
    QListView* Lst_AM = nullptr;
    QPushButton* Cmd_To_Set = nullptr;
    QPushButton* Cmd_Settei = nullptr;
    QPushButton* Cmd_Close = nullptr;
    QPushButton* Cmd_Hozon = nullptr;
    QPushButton* Cmd_Cancel = nullptr;
    QLabel* Lbl_Msg = nullptr;
    // Hidden view of the book's records (the renames build their scratch list inside the model).
    QListView* Lst_AData = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Cmd_AG_Del = nullptr;
    QPushButton* Cmd_AG_Ins = nullptr;
    QLineEdit* Edt_AG = nullptr;
    QPushButton* Cmd_AG_Upd = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* Cmd_AM_Del = nullptr;
    QPushButton* Cmd_AM_Ins = nullptr;
    QLineEdit* Edt_AM = nullptr;
    QPushButton* Cmd_AM_Upd = nullptr;
    QPushButton* Cmd_AData_Out = nullptr;
    QWidget* TabSheet2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QTableView* Grd_Adrs = nullptr;
    QLineEdit* Edt_Atena = nullptr;
    QLineEdit* Edt_Mail = nullptr;
    QLineEdit* Edt_Futatu = nullptr;
    QPushButton* Cmd_Kobetu = nullptr;
    QPushButton* Cmd_Grid_Del = nullptr;
    QPushButton* Cmd_Grid_Upd = nullptr;
    QPushButton* Cmd_Grid_Ins = nullptr;
    QPushButton* Cmd_Read = nullptr;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Esc acts as Cmd_Close

private:
    class RecordsModel;

    void buildControls();
    void wireHandlers();
    // Runs a command handler inside the general error display.
    void run(void (TTSY_AddressF::*handler)());
    void collapse();
    void expand();
    int groupRow() const;
    int memberRow() const;
    std::string selectedGroup() const;
    void selectGroup(int row);
    void listMembers(const std::string& group);
    void emptyGrid(int rows);
    void resetEntryFields();
    void setGridCommandsEnabled(bool on);
    void bookChanged();
    std::string typed(const QLineEdit* edit, std::string_view label) const;

    tessaly::Dialogs& dialogs_;
    tessaly::AddressBook& book_;
    Settings& settings_;
    std::string startDirectory_;
    QWidget* mainWindow_;
    RecipientSink addRecipients_;
    std::function<void()> disableAddressBook_;
    tessaly::AddressEntryRow selectedEntry_; // the grid row last clicked
    RecordsModel* recordsModel_ = nullptr;
};
