#include "app/refused_window.h"

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(RefusedWindow, ListsEveryRefusalAsTextToCopyAndGivesTheMainWindowBack) {
    QWidget mainWindow;
    mainWindow.show();
    TTSY_RefusedF window(&mainWindow);
    // 佐藤 in Shift-JIS; a reply of two lines keeps both.
    window.showRefused(
        {{"\x8d\xb2\x93\xa1 <satou@example.jp>", "550 5.1.1 <satou@example.jp>: no such user"},
         {"bad@example.jp", "553-5.1.3 bad address\r\n553 5.1.3 see the help page"}});
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(mainWindow.isEnabled());

    auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("Memo_Refused"));
    ASSERT_NE(memo, nullptr);
    const QString expected =
        QStringLiteral("佐藤 <satou@example.jp>\t550 5.1.1 <satou@example.jp>: no such user\n"
                       "bad@example.jp\t553-5.1.3 bad address\n553 5.1.3 see the help page");
    EXPECT_EQ(memo->toPlainText(), expected);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->textInteractionFlags() & Qt::TextSelectableByKeyboard);

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Cmd_Copy")), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), expected);

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Cmd_Close")), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(mainWindow.isEnabled());
}

} // namespace
