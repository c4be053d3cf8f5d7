#include "app/refused_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

TEST(RefusedWindow, ListsEveryRefusalAsTextToCopyAndGivesTheMainWindowBack) {
    QWidget mainWindow;
    mainWindow.show();
    TTSY_RefusedF window(&mainWindow);
    // 佐藤 in Shift-JIS; a reply of three lines (CR LF, then a bare LF) keeps all of them.
    window.showRefused(
        {{"\x8d\xb2\x93\xa1 <satou@example.jp>", "550 5.1.1 <satou@example.jp>: no such user"},
         {"bad@example.jp", "553-5.1.3 bad address\r\n553-5.1.3 see\tthe help page\n553 5.1.3 bye\r\n"},
         {"last@example.jp", "550 no"}});
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(mainWindow.isEnabled());

    // A reply's further lines stand in its column, after a tab, with nothing where the
    // recipient is: none of them looks like an address of its own.
    auto* memo = window.findChild<QPlainTextEdit*>(QStringLiteral("Memo_Refused"));
    ASSERT_NE(memo, nullptr);
    EXPECT_EQ(memo->toPlainText(),
              QStringLiteral("佐藤 <satou@example.jp>\t550 5.1.1 <satou@example.jp>: no such user\n"
                             "bad@example.jp\t553-5.1.3 bad address\n"
                             "\t553-5.1.3 see the help page\n"
                             "\t553 5.1.3 bye\n"
                             "last@example.jp\t550 no"));
    // The reply column begins after the widest recipient.
    const QFontMetrics metrics(memo->font());
    EXPECT_GT(memo->tabStopDistance(), metrics.horizontalAdvance(QStringLiteral("佐藤 <satou@example.jp>")));
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_TRUE(memo->textInteractionFlags() & Qt::TextSelectableByKeyboard);

    // One row per recipient for a spreadsheet: the recipient, a tab, the whole reply.
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Cmd_Copy")), Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
              QStringLiteral("佐藤 <satou@example.jp>\t550 5.1.1 <satou@example.jp>: no such user\n"
                             "bad@example.jp\t553-5.1.3 bad address 553-5.1.3 see the help page 553 5.1.3 bye\n"
                             "last@example.jp\t550 no"));

    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Cmd_Close")), Qt::LeftButton);
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(mainWindow.isEnabled());
}

} // namespace
