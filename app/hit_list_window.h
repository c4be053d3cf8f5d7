// The hit list TTSY_Adrs_HitF: when a typed name matches several address book entries, the user
// picks the ones to add to the main window's recipient list.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

class QListWidget;
class QPushButton;
class TTSY_MainF;

// Created once, hidden, and reused for every lookup. A top-level window without a Qt parent, so
// that disabling the main window leaves this one usable.
class TTSY_Adrs_HitF : public QDialog {
    Q_OBJECT
public:
    explicit TTSY_Adrs_HitF(TTSY_MainF& mainWindow);

    // Fills Hit_List with the entries (Shift-JIS recipient lines), disables the main window,
    // places this window 100 pixels right of and below the main window's corner and shows it
    // without waiting.
    void showHits(const std::vector<std::string>& entriesSjis);

    void BitBtn1Click(); // "宛先セット": the selected entries go to the recipient list
    void BitBtn2Click(); // "キャンセル"

    // Every way of closing (both buttons, Enter, Escape) ends here: the main window is enabled.
    void done(int result) override;

private:
    TTSY_MainF& main_;
    QListWidget* Hit_List = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QPushButton* BitBtn2 = nullptr;
};
