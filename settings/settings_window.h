// The settings window TTSY_SetteiF and Settings_Load. The window's controls are the live settings
// the send run reads; every control has a rule that runs when its value really changes (by the
// user or by the program) and keeps the Settings record in step.
#pragma once

#include "settings/server_details_window.h"
#include "settings/settings.h"

#include <QDialog>
#include <QString>
#include <map>
#include <string>
#include <vector>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tessaly {
class Dialogs;
class FittedPage;
class SmtpPasswords;
} // namespace tessaly

// Created once, hidden, right after the main window, and kept until the program ends (the owner
// keeps it; it is a top-level window with no Qt parent of its own). Opening it is the main
// window's job: disable the main window, then show() this window without waiting. Save and
// Cancel (and every close) enable the main window again.
//
// Text at the accessors: Shift-JIS bytes (std::string). The fields refuse, with a message naming
// it, any character code page 932 cannot hold (and control characters), so the bytes always
// exist and the accessors never fail; the bytes are exactly those last loaded or typed.
class TTSY_SetteiF : public QDialog {
    Q_OBJECT
public:
    // `settings` is the program's one record; `startDirectory` the main window's StartDirectory
    // (Shift-JIS bytes); `mainWindow` is enabled again when this window closes (may be null).
    TTSY_SetteiF(tessaly::Dialogs& dialogs, Settings& settings, std::string startDirectory,
                 QWidget* mainWindow);
    ~TTSY_SetteiF() override;

    // The address book window exists only after this one; Cancel moves it back to its place.
    void setAddressWindow(QWidget* addressWindow) { addressWindow_ = addressWindow; }
    // Where a password typed in "送信サーバーの詳細" goes when Save confirms it (may be null: the
    // password is then dropped).
    void setPasswords(tessaly::SmtpPasswords* passwords) { passwords_ = passwords; }

    Settings& settings() { return settings_; }
    const std::string& startDirectory() const { return startDirectory_; }

    // --- Read by the send run, AppendSignature and SendLog_Append: the controls' present state.
    std::string hostSjis() const;      // Edt_Host
    std::string portSjis() const;      // Edt_Port: ASCII digits only, possibly empty
    std::string userIdSjis() const;    // Edt_UserID
    std::string fromSjis() const;      // Edt_EMail
    std::string replySjis() const;     // Edt_Reply
    std::string userMeiSjis() const;   // Edt_UserMei
    bool atesakiOn() const;            // ChkBox_Atesaki
    std::string keisyouSjis() const;   // Edt_Keisyou
    bool logOn() const;                // ChkBox_Log
    std::string logPathSjis() const;   // Edt_Log
    bool sendDataOn() const;           // ChkBox_SendData
    std::string sendDataPathSjis() const; // Edt_SendData
    bool syomeiOn() const;             // ChkBox_Syomei
    std::string syomeiPathSjis() const;   // Edt_Syomei
    // `record` with the fields above that a send run reads as they stand.
    Settings runFieldsOver(Settings record) const;
    // The notify copy's two settings are read from the record: settings().ChkBox_EverySend and
    // settings().EverySend.

    // --- Written by others; each runs the controls' rules as a user's edit would.
    // AppendSignature, when the signature file is missing: empties Edt_Syomei and the record's
    // Syomei, turns ChkBox_Syomei off (record false too).
    void clearSignature();
    // SendLog_Load, when the log file cannot be read: empties the record's Log and Edt_Log,
    // which turns ChkBox_Log off (record false too).
    void clearLog();
    // AddressBook_Load, when the address file cannot be read: empties the record's Address and
    // Edt_Address. Both clearLog and this keep the path in TSY2.ini (Settings_HoldKey), so that
    // the feature is off for this session only.
    void clearAddress();

    // Puts Shift-JIS bytes into an edit field the way a user's edit would change it: the field's
    // rule runs only when the shown text changes. Used by Settings_Load.
    void assignText(QLineEdit* edit, const std::string& sjis);
    void assignCheck(QCheckBox* box, bool on);

    // --- Handlers, public so that tests and the owner can name them.
    void Cmd_SetteiHozonClick(); // Save (Enter): Settings_Save, enable the main window, close
    void Cmd_SetteiCancelClick(); // Cancel (Escape): Settings_Load, close
    void Cmd_ServerSyousaiClick(); // opens "送信サーバーの詳細" over this window

    // The choices of "送信サーバーの詳細" not yet saved: they reach the record and TSY2.ini with
    // Save; Settings_Load (and so Cancel) puts the record's back.
    const ServerDetails& pendingServerDetails() const { return pending_; }
    void resetServerDetails();

    // Controls, named as their object names.
    QPushButton* Cmd_SetteiHozon = nullptr;
    QPushButton* Cmd_SetteiCancel = nullptr;
    QLineEdit* Edt_Host = nullptr;
    QLineEdit* Edt_Port = nullptr;
    QLineEdit* Edt_UserID = nullptr;
    QLineEdit* Edt_EMail = nullptr;
    QLineEdit* Edt_Syomei = nullptr;
    QPushButton* Cmd_FileSentaku = nullptr;
    QCheckBox* ChkBox_Syomei = nullptr;
    QLineEdit* Edt_UserMei = nullptr;
    QLineEdit* Edt_Reply = nullptr;
    QCheckBox* ChkBox_Atesaki = nullptr;
    QLineEdit* Edt_Keisyou = nullptr;
    QCheckBox* ChkBox_EverySend = nullptr;
    QLineEdit* Edt_EverySend = nullptr;
    QLineEdit* Edt_Address = nullptr;
    QPushButton* Cmd_FileSentaku1 = nullptr;
    QLineEdit* Edt_Log = nullptr;
    QCheckBox* ChkBox_Log = nullptr;
    QLineEdit* Edt_SendData = nullptr;
    QCheckBox* ChkBox_SendData = nullptr;
    QPushButton* Cmd_FileSentaku2 = nullptr;
    QPushButton* Cmd_FileSentaku3 = nullptr;
    QPushButton* Cmd_ServerSyousai = nullptr;
    TTSY_ServerSyousaiF* ServerSyousaiF = nullptr; // child window, created with this one

protected:
    void closeEvent(QCloseEvent* event) override; // FormCloseQuery
    void reject() override;                       // Escape acts as Cancel
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Field {
        std::string sjis;  // the bytes the shown text stands for
        QString shown;     // the text last accepted, to put back a refused edit
        QString name;      // how messages name the field
    };
    struct OptionPair;

    void buildControls();
    // Takes the new text of `edit` as bytes; false (with the message shown and the old text put
    // back) when it holds a character the program cannot store.
    bool takeText(QLineEdit* edit);
    void plainFieldChanged(QLineEdit* edit, std::string Settings::*field);
    void Edt_PortChange();
    void optionTextChanged(const OptionPair& pair);
    void switchToggled(const OptionPair& pair, bool on);
    void addressFieldExit(QLineEdit* edit, const QString& message);
    void fileSentakuClick(QLineEdit* target);
    const std::string& bytesOf(const QLineEdit* edit) const;
    void serverSyousaiAccepted();
    void storePassword(bool wasSaved);

    tessaly::Dialogs& dialogs_;
    Settings& settings_;
    tessaly::FittedPage* fitted_ = nullptr;
    std::string startDirectory_;
    QWidget* mainWindow_;
    QWidget* addressWindow_ = nullptr;
    std::map<const QLineEdit*, Field> fields_;
    std::vector<OptionPair> pairs_;
    const std::string* pendingSjis_ = nullptr; // bytes of an assignText in progress
    QString openDialogFileName_;               // OpenDialog1 keeps the last chosen name
    bool checkingAddress_ = false;
    ServerDetails pending_;
    tessaly::SmtpPasswords* passwords_ = nullptr;
};

// Fills the record and the settings window's controls from StartDirectory/TSY2.ini, creates
// missing log and sent-data files, and places the three windows (null windows are skipped) where
// the user can reach their title bars (the record keeps the corrected place). A
// missing TSY2.ini shows "Tessalyの環境を初期設定します。" and every value takes its default;
// nothing is written to TSY2.ini here. Every control is assigned as a user's edit would change
// it, so switches saved as on are checked again. An empty Log or SendData path counts as a
// missing file that is not created. A file that cannot be created throws tessaly::FileError and
// the later steps do not run; the keys they would have read are then held (Settings::heldKeys),
// so that no save writes back a value that did not come from the file. Returns true.
// Callers: the main window when first shown (before AppendSignature and AddressBook_Load), and
// the settings window's Cancel.
bool Settings_Load(Settings& settings, const std::string& startDirectory, tessaly::Dialogs& dialogs,
                   TTSY_SetteiF& settei, QWidget* mainWindow, QWidget* addressWindow);
