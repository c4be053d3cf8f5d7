#include "address/address_window.h"

#include "address/address_book.h"

#include <QCloseEvent>
#include <QShowEvent>

TTSY_AddressF::TTSY_AddressF(tessaly::Dialogs& dialogs, tessaly::AddressBook& book, Settings& settings,
                             std::string startDirectory, QWidget* mainWindow, RecipientSink addRecipients,
                             std::function<void()> disableAddressBook)
    : dialogs_(dialogs), book_(book), settings_(settings), startDirectory_(std::move(startDirectory)),
      mainWindow_(mainWindow), addRecipients_(std::move(addRecipients)),
      disableAddressBook_(std::move(disableAddressBook)) {
    setObjectName(QStringLiteral("TTSY_AddressF"));
    setWindowTitle(QStringLiteral("Tessaly 2.7S アドレス帳"));
    setFixedSize(CollapsedWidth, ClientHeight);
}

TTSY_AddressF::~TTSY_AddressF() = default;

void TTSY_AddressF::open() {
    if (mainWindow_)
        mainWindow_->setEnabled(false);
    show();
}

bool TTSY_AddressF::isExpanded() const { return width() == ExpandedWidth; }

void TTSY_AddressF::showEvent(QShowEvent* event) { QDialog::showEvent(event); }

void TTSY_AddressF::closeEvent(QCloseEvent* event) {
    settings_.Address_X = x();
    settings_.Address_Y = y();
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    event->accept();
}

void TTSY_AddressF::reject() { close(); }
