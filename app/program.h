// The start-up object: creates every window of the program once, hidden, in a fixed order, hands
// each one the others it talks to, and keeps them all until the program ends.
#pragma once

#include "settings/settings.h"

#include <memory>

class TTSY_AddressF;
class TTSY_Adrs_HitF;
class TTSY_LogF;
class TTSY_MainF;
class TTSY_SetteiF;
class TVexo_CSV;

namespace tessaly {
class AddressBook;
class Dialogs;
class SecretStore;
class SmtpPasswords;

// What the windows share that is no window: the address book in memory (the address book
// window edits it, the main window's name search reads it) and the CSV component.
struct DataModule1 {
    explicit DataModule1(Dialogs& dialogs);
    ~DataModule1();
    std::unique_ptr<AddressBook> addressBook;
    std::unique_ptr<TVexo_CSV> Vexo_CSV1; // every file routine makes its own; kept for its place
};

class Program {
public:
    // Creates the windows, all hidden: the main window (its FormCreate runs now), the settings
    // window, the data module, the address book window, the hit list and the send log viewer.
    // `secrets` keeps the SMTP password when the user chose to save it.
    Program(Dialogs& dialogs, SecretStore& secrets);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // Shows the main window; its first showing loads the settings, the signature and the book.
    void start();

    Settings& settings() { return settings_; }
    TTSY_MainF& mainWindow() { return *main_; }
    TTSY_SetteiF& settingsWindow() { return *settei_; }
    TTSY_AddressF& addressWindow() { return *address_; }
    TTSY_Adrs_HitF& hitListWindow() { return *hitList_; }
    TTSY_LogF& logWindow() { return *log_; }
    AddressBook& addressBook() { return *dataModule_->addressBook; }

private:
    Dialogs& dialogs_;
    Settings settings_;
    std::unique_ptr<SmtpPasswords> passwords_;
    // Destroyed in reverse order: the main window, which the others point to, goes last.
    std::unique_ptr<TTSY_MainF> main_;
    std::unique_ptr<TTSY_SetteiF> settei_;
    std::unique_ptr<DataModule1> dataModule_;
    std::unique_ptr<TTSY_AddressF> address_;
    std::unique_ptr<TTSY_Adrs_HitF> hitList_;
    std::unique_ptr<TTSY_LogF> log_;
};

} // namespace tessaly
