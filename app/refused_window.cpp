#include "app/refused_window.h"

#include "common/secondary_window.h"
#include "common/text.h"
#include "common/window_fonts.h"
#include "common/guide_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

TTSY_RefusedF::TTSY_RefusedF(QWidget* mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      main_(mainWindow) {
    setObjectName(QStringLiteral("TTSY_RefusedF"));
    setWindowTitle(QStringLiteral("送信できなかった宛先"));
    tessaly::addGuideKey(*this, QStringLiteral("宛先のアドレスが間違っていたとき"));
    setFont(tessaly::proportionalGothic(12));
    setFixedSize(520, 300);
    setModal(false);

    Label1 =
        new QLabel(QStringLiteral("次の宛先はサーバーに受け付けられませんでした。\n"
                                  "宛先を確かめて直してから、その宛先だけに送り直してください。"),
                   this);
    Label1->setObjectName(QStringLiteral("Label1"));
    // Broken where the text says, never inside a word.
    Label1->setWordWrap(false);
    Label1->setGeometry(10, 8, 500, 32);

    Memo_Refused = new QPlainTextEdit(this);
    Memo_Refused->setObjectName(QStringLiteral("Memo_Refused"));
    Memo_Refused->setFont(tessaly::fixedGothic(12));
    Memo_Refused->setReadOnly(true);
    Memo_Refused->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    Memo_Refused->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_Refused->setGeometry(10, 44, 500, 210);

    Cmd_Copy = new QPushButton(QStringLiteral("コピー"), this);
    Cmd_Copy->setObjectName(QStringLiteral("Cmd_Copy"));
    Cmd_Copy->setToolTip(QStringLiteral("一覧をクリップボードにコピーします"));
    Cmd_Copy->setGeometry(300, 264, 96, 25);
    connect(Cmd_Copy, &QPushButton::clicked, this, [this] { Cmd_CopyClick(); });

    Cmd_Close = new QPushButton(QStringLiteral("閉じる"), this);
    Cmd_Close->setObjectName(QStringLiteral("Cmd_Close"));
    Cmd_Close->setDefault(true);
    Cmd_Close->setGeometry(414, 264, 96, 25);
    connect(Cmd_Close, &QPushButton::clicked, this, [this] { Cmd_CloseClick(); });

    setTabOrder(Memo_Refused, Cmd_Copy);
    setTabOrder(Cmd_Copy, Cmd_Close);
}

void TTSY_RefusedF::showRefused(const std::vector<RefusedRecipient>& refused) {
    // One line per recipient, the entry and the reply separated by a tab, so that a paste into
    // a spreadsheet puts them in two columns.
    QString text;
    for (const RefusedRecipient& r : refused) {
        if (!text.isEmpty())
            text += QLatin1Char('\n');
        text += tessaly::fromSjis(r.entrySjis) + QLatin1Char('\t') + tessaly::fromSjis(r.reply);
    }
    Memo_Refused->setPlainText(text);
    if (main_)
        move(main_->x() + 60, main_->y() + 60);
    tessaly::showOverMainWindow(*this, main_);
    Cmd_Close->setFocus();
}

void TTSY_RefusedF::Cmd_CopyClick() {
    QGuiApplication::clipboard()->setText(Memo_Refused->toPlainText());
}

void TTSY_RefusedF::Cmd_CloseClick() {
    accept();
}

void TTSY_RefusedF::done(int result) {
    if (main_)
        main_->setEnabled(true);
    QDialog::done(result);
}
