#include "app/program.h"

#include "address/address_book.h"
#include "address/address_window.h"
#include "address/vexo_csv.h"
#include "app/hit_list_window.h"
#include "app/main_window.h"
#include "log/log_window.h"
#include "settings/settings_window.h"
#include "settings/smtp_passwords.h"

namespace tessaly {

DataModule1::DataModule1(Dialogs& dialogs)
    : addressBook(std::make_unique<AddressBook>(dialogs)),
      Vexo_CSV1(std::make_unique<TVexo_CSV>()) {}

DataModule1::~DataModule1() = default;

Program::Program(Dialogs& dialogs, SecretStore& secrets)
    : dialogs_(dialogs), passwords_(std::make_unique<SmtpPasswords>(secrets)) {
    main_ = std::make_unique<TTSY_MainF>(dialogs_, settings_);
    TTSY_MainF* mainWindow = main_.get();

    settei_ = std::make_unique<TTSY_SetteiF>(dialogs_, settings_, main_->StartDirectory(),
                                             mainWindow);
    TTSY_SetteiF* settei = settei_.get();

    dataModule_ = std::make_unique<DataModule1>(dialogs_);
    dataModule_->addressBook->setDialogParent(mainWindow);

    address_ = std::make_unique<TTSY_AddressF>(
        dialogs_, *dataModule_->addressBook, settings_, main_->StartDirectory(), mainWindow,
        [this](const std::vector<std::string>& lines) {
            main_->addRecipients(lines, QStringLiteral("アドレス帳"),
                                 {address_->selectedGroupSjis(), address_->selectedMemberSjis()});
        },
        [settei] { settei->clearAddress(); });
    settei_->setAddressWindow(address_.get());
    settei_->setPasswords(passwords_.get());

    hitList_ = std::make_unique<TTSY_Adrs_HitF>(*main_);

    log_ = std::make_unique<TTSY_LogF>(dialogs_, settings_, mainWindow,
                                       [settei] { settei->clearLog(); });

    main_->setWindows(settei, dataModule_->addressBook.get(), hitList_.get(), address_.get(),
                      log_.get());
    main_->setPasswords(passwords_.get());
}

Program::~Program() {
    // Windows that point at the main window go first.
    log_.reset();
    hitList_.reset();
    address_.reset();
    dataModule_.reset();
    settei_.reset();
    main_.reset();
}

void Program::start() { main_->show(); }

} // namespace tessaly
