#include "app/refused_window.h"

#include "common/secondary_window.h"
#include "common/text.h"
#include "common/window_fonts.h"
#include "common/guide_window.h"

#include <QClipboard>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include <algorithm>

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

namespace {

// The lines of a reply (CR LF, CR or LF between them), tabs made blanks so that they keep to
// their column.
QStringList replyLines(const std::string& reply) {
    QString text = tessaly::fromSjis(reply);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1Char('\t'), QLatin1Char(' '));
    QStringList lines = text.split(QLatin1Char('\n'));
    while (lines.size() > 1 && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString entryText(const RefusedRecipient& r) {
    return tessaly::fromSjis(r.entrySjis).replace(QLatin1Char('\t'), QLatin1Char(' '));
}

} // namespace

void TTSY_RefusedF::showRefused(const std::vector<RefusedRecipient>& refused) {
    refused_ = refused;
    // The entry and the reply in two columns; the further lines of a reply stand in the reply's
    // column under an empty first one, so that none of them looks like a recipient.
    QString text;
    int widest = 0;
    const QFontMetrics metrics(Memo_Refused->font());
    for (const RefusedRecipient& r : refused_) {
        const QString entry = entryText(r);
        widest = std::max(widest, metrics.horizontalAdvance(entry));
        const QStringList lines = replyLines(r.reply);
        for (qsizetype i = 0; i < lines.size(); ++i) {
            if (!text.isEmpty())
                text += QLatin1Char('\n');
            text += (i == 0 ? entry : QString()) + QLatin1Char('\t') + lines[i];
        }
    }
    Memo_Refused->setTabStopDistance(widest + metrics.horizontalAdvance(QStringLiteral("  ")));
    Memo_Refused->setPlainText(text);
    if (main_)
        move(main_->x() + 60, main_->y() + 60);
    tessaly::showOverMainWindow(*this, main_);
    Cmd_Close->setFocus();
}

void TTSY_RefusedF::Cmd_CopyClick() {
    // One row per recipient, the entry and the whole reply separated by a tab, so that a paste
    // into a spreadsheet puts each recipient in one row of two columns.
    QStringList rows;
    for (const RefusedRecipient& r : refused_)
        rows << entryText(r) + QLatin1Char('\t') + replyLines(r.reply).join(QLatin1Char(' '));
    QGuiApplication::clipboard()->setText(rows.join(QLatin1Char('\n')));
}

void TTSY_RefusedF::Cmd_CloseClick() {
    accept();
}

void TTSY_RefusedF::done(int result) {
    if (main_)
        main_->setEnabled(true);
    QDialog::done(result);
}

#include "moc_refused_window.cpp"
