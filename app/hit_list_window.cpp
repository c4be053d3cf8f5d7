#include "app/hit_list_window.h"

#include "app/main_window.h"
#include "common/window_place.h"
#include "common/secondary_window.h"
#include "common/window_fonts.h"
#include "common/text.h"
#include "common/guide_window.h"

#include <QListWidget>
#include <QPushButton>
#include <QStyle>

TTSY_Adrs_HitF::TTSY_Adrs_HitF(TTSY_MainF& mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      main_(mainWindow) {
    setObjectName(QStringLiteral("TTSY_Adrs_HitF"));
    setWindowTitle(QStringLiteral("Tessaly 2.7S"));
    tessaly::addGuideKey(*this, QStringLiteral("手で入力する"));
    setFont(tessaly::proportionalGothic(12));
    setFixedSize(357, 177);
    setModal(false);

    Hit_List = new QListWidget(this);
    Hit_List->setObjectName(QStringLiteral("Hit_List"));
    Hit_List->setToolTip(QStringLiteral("複数選択できます"));
    Hit_List->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Hit_List->setUniformItemSizes(true);
    Hit_List->setGeometry(10, 10, 331, 131);

    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                              QStringLiteral("宛先セット"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setToolTip(QStringLiteral("宛名へ転送します"));
    BitBtn1->setDefault(true);
    BitBtn1->setGeometry(50, 150, 96, 25);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });

    BitBtn2 = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                              QStringLiteral("キャンセル"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    // Enter on the focused button presses that button, as Enter on "キャンセル" must cancel;
    // elsewhere in the window Enter confirms.
    BitBtn1->setAutoDefault(true);
    BitBtn2->setAutoDefault(true);
    BitBtn2->setGeometry(230, 150, 86, 25);
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });

    setTabOrder(Hit_List, BitBtn1);
    setTabOrder(BitBtn1, BitBtn2);
}

void TTSY_Adrs_HitF::showHits(const std::vector<std::string>& entriesSjis) {
    Hit_List->clear();
    for (const std::string& entry : entriesSjis) {
        auto* item = new QListWidgetItem(tessaly::fromSjis(entry), Hit_List);
        item->setData(Qt::UserRole, QByteArray::fromStdString(entry));
        item->setSizeHint(QSize(0, 12));
    }
    tessaly::placeWindow(*this, QPoint(main_.x() + 100, main_.y() + 100));
    tessaly::showOverMainWindow(*this, &main_);
    Hit_List->setFocus();
}

void TTSY_Adrs_HitF::BitBtn1Click() {
    std::vector<std::string> chosen;
    for (int i = 0; i < Hit_List->count(); ++i)
        if (Hit_List->item(i)->isSelected())
            chosen.push_back(Hit_List->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    main_.addRecipients(chosen, QStringLiteral("アドレス帳"));
    accept();
}

void TTSY_Adrs_HitF::BitBtn2Click() { reject(); }

void TTSY_Adrs_HitF::done(int result) {
    main_.setEnabled(true);
    QDialog::done(result);
}

#include "moc_hit_list_window.cpp"
