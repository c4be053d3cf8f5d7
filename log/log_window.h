// The send log viewer TTSY_LogF: one line per send date and title above, the recipients of the
// chosen line with their send times below.
//
// Created once at start, hidden, last of the windows; it lives until the program ends.
// The start-up object passes:
//   dialogs     every message box;
//   settings    the Settings record: its Log path is read at every show;
//   mainWindow  placed under, disabled while this window is open, enabled again when it closes;
//   disableLog  empties the record's Log and the settings window's Edt_Log when the log cannot be
//               read (TTSY_SetteiF::clearLog does exactly that).
// Open it with open(): it places this window at the main window's left and top, disables the
// main window and shows this one without waiting. Every show re-reads the log file.
//
// The three lists are views over models that keep the log's bytes, so that a log of a million
// records opens quickly; the text of a line is converted only when the line is drawn.
#pragma once

#include "settings/settings.h"

#include <QDialog>
#include <functional>

class QLabel;
class QListView;
class QPushButton;

namespace tessaly {
class Dialogs;
class SjisListModel;
} // namespace tessaly

class TTSY_LogF : public QDialog {
    Q_OBJECT
public:
    TTSY_LogF(tessaly::Dialogs& dialogs, const Settings& settings, QWidget* mainWindow,
              std::function<void()> disableLog);
    ~TTSY_LogF() override;

    // The main window's log command: place at the main window's left and top, disable it, show.
    void open();

    // --- Handlers, public so that the owner and tests can name them ---
    void FormShow();            // SendLog_Load into the lists
    void Lst_Log_TitleClick();  // fills Lst_Log_Meisai for the selected TitleEntry
    void BitBtn1Click();        // closes the window

    // The lists' contents as Shift-JIS bytes.
    const tessaly::SjisListModel& titleEntries() const { return *titles_; }
    const tessaly::SjisListModel& detailEntries() const { return *details_; }
    const tessaly::SjisListModel& tempEntries() const { return *temps_; }

    // --- Controls, named as their object names ---
    QLabel* Label1 = nullptr;
    QListView* Lst_Log_Title = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QListView* Lst_Log_Meisai = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QListView* Lst_Log_Temp = nullptr; // never visible

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery: enables the main window
    void reject() override;                       // Esc closes like the button

private:
    void buildControls();

    tessaly::Dialogs& dialogs_;
    const Settings& settings_;
    QWidget* mainWindow_;
    std::function<void()> disableLog_;
    tessaly::SjisListModel* titles_;  // children of the window
    tessaly::SjisListModel* details_;
    tessaly::SjisListModel* temps_;
};
