#include "common/qt_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct SeenBox {
    bool shown = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QStringList buttons;
    QString defaultButton; // the one Enter presses
};

// Waits (bounded) for the next modal message box, records what it shows and clicks `button`.
void clickInNextBox(const QString& button, SeenBox* seen) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            if (++*tries > 2000) {
                ADD_FAILURE() << "no message box appeared";
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        seen->shown = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->format = box->textFormat();
        seen->icon = box->icon();
        for (QAbstractButton* b : box->buttons())
            seen->buttons << b->text();
        if (box->defaultButton())
            seen->defaultButton = box->defaultButton()->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == button || button.isEmpty()) {
                b->click();
                return;
            }
        ADD_FAILURE() << "no button " << button.toStdString();
        box->close();
    });
    timer->start();
}

TEST(QtDialogs, QuestionIsAWarningWithYesAndNo) {
    tessaly::QtDialogs dialogs(QStringLiteral("Tessaly 2.7S"));
    const QString yesButton = QStringLiteral("はい(&Y)");
    const QString noButton = QStringLiteral("いいえ(&N)");
    const QString title = QStringLiteral("警告");
    const QString text = QStringLiteral("山田 <yamada@example.jp>\r\nを削除しますか？");
    // Enter presses はい in the plain question, いいえ in the one whose yes rewrites something.
    for (const bool defaultNo : {false, true}) {
        for (const bool yes : {true, false}) {
            SCOPED_TRACE(defaultNo ? "default no" : "default yes");
            SeenBox seen;
            clickInNextBox(yes ? yesButton : noButton, &seen);
            EXPECT_EQ(defaultNo ? dialogs.askYesNoDefaultNo(nullptr, title, text)
                                : dialogs.askYesNo(nullptr, title, text),
                      yes);
            ASSERT_TRUE(seen.shown);
            EXPECT_EQ(seen.defaultButton, defaultNo ? noButton : yesButton);
            EXPECT_EQ(seen.title, title);
            EXPECT_EQ(seen.icon, QMessageBox::Warning);
            EXPECT_EQ(seen.buttons, (QStringList{yesButton, noButton}));
            EXPECT_EQ(seen.text, QStringLiteral("山田 <yamada@example.jp>\nを削除しますか？"));
            EXPECT_EQ(seen.format, Qt::PlainText);
        }
    }
}

TEST(QtDialogs, MessageAndErrorCarryTheProgramTitleAndOneButton) {
    tessaly::QtDialogs dialogs(QStringLiteral("Tessaly 2.7S"));
    SeenBox message;
    clickInNextBox({}, &message);
    dialogs.message(nullptr, QStringLiteral("アドレス入力に誤りがあります。"));
    EXPECT_EQ(message.title, QStringLiteral("Tessaly 2.7S"));
    EXPECT_EQ(message.icon, QMessageBox::NoIcon);
    EXPECT_EQ(message.buttons.size(), 1);
    EXPECT_EQ(message.text, QStringLiteral("アドレス入力に誤りがあります。"));

    SeenBox error;
    clickInNextBox({}, &error);
    dialogs.error(nullptr, QStringLiteral("Not Connected"));
    EXPECT_EQ(error.title, QStringLiteral("Tessaly 2.7S"));
    EXPECT_EQ(error.icon, QMessageBox::Critical);
    EXPECT_EQ(error.buttons.size(), 1);
}

// The password prompt hides what is typed; OK gives it, Cancel gives none.
TEST(QtDialogs, PasswordPromptHidesTheTextAndCancelGivesNone) {
    tessaly::QtDialogs dialogs(QStringLiteral("Tessaly 2.7S"));
    for (const bool ok : {true, false}) {
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QString label;
        auto* timer = new QTimer;
        timer->setInterval(5);
        auto tries = std::make_shared<int>(0);
        QObject::connect(timer, &QTimer::timeout, [=, &echo, &label] {
            auto* dialog = qobject_cast<QInputDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                if (++*tries > 2000) {
                    ADD_FAILURE() << "no prompt appeared";
                    timer->deleteLater();
                }
                return;
            }
            timer->stop();
            timer->deleteLater();
            echo = dialog->textEchoMode();
            label = dialog->labelText();
            dialog->setTextValue(QStringLiteral("pässword"));
            if (ok)
                dialog->accept();
            else
                dialog->reject();
        });
        timer->start();
        const std::optional<QString> answer = dialogs.askPassword(
            nullptr, QStringLiteral("SMTP 認証"), QStringLiteral("パスワードを入力してください。\r\nログイン名：taro"));
        EXPECT_EQ(echo, QLineEdit::Password);
        EXPECT_EQ(label, QStringLiteral("パスワードを入力してください。\nログイン名：taro"));
        EXPECT_EQ(answer, ok ? std::optional<QString>(QStringLiteral("pässword")) : std::nullopt);
    }
}

} // namespace

namespace {

// A box wraps a long line anywhere, inside a Japanese word too: long lines are broken after the
// last "。", "、" or blank that keeps them short enough, and nowhere else.
TEST(QtDialogs, LongLinesBreakAfterPunctuationOnly) {
    const struct {
        const char* name;
        QString text;
        QString shown;
    } cases[] = {
        {"short", QStringLiteral("アドレス入力に誤りがあります。"), QStringLiteral("アドレス入力に誤りがあります。")},
        {"after the comma",
         QStringLiteral("宛先を確かめて直してから、その宛先だけに送り直してください。宛先を確かめて直してから、"),
         QStringLiteral("宛先を確かめて直してから、その宛先だけに送り直してください。\n宛先を確かめて直してから、")},
        {"no place to break", QString(40, QChar(0x3042)), QString(40, QChar(0x3042))},
        {"half-width counts half", QString(60, QLatin1Char('a')), QString(60, QLatin1Char('a'))},
        {"given breaks stay",
         QStringLiteral("一行目です。\n二行目です。"), QStringLiteral("一行目です。\n二行目です。")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tessaly::breakLongLines(c.text, 36), c.shown) << c.name;
}

} // namespace
