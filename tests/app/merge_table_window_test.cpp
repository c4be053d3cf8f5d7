// The merge table window driven as a user does: the table opened from TB_Send's menu, its
// columns guessed, the rows it cannot send listed, a field put into the body, the table closed.
#include "app/merge_table_window.h"

#include "app_harness.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTableView>
#include <gtest/gtest.h>

namespace {

using apptest::App;

TTSY_MergeF* mergeWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* merge = qobject_cast<TTSY_MergeF*>(w))
            return merge;
    return nullptr;
}

QLabel* statusPanel(App& app) { return app.child<QLabel>("StatusBar1_Panel1"); }

TEST(MergeTableWindow, OpensATableAndMakesItTheRecipients) {
    App app;
    app.dir.write(QStringLiteral("名簿.csv"),
                  QByteArray("\xEF\xBB\xBF") + QStringLiteral("氏名,メールアドレス,金額\r\n山田,a@example.jp,100\r\n"
                                                              "鈴木,,200\r\n").toUtf8());
    app.dialogs.queueFileName(app.dir.filePath(QStringLiteral("名簿.csv")));
    EXPECT_FALSE(app.tool("TB_Send")->isEnabled()); // the list is empty
    app.main().findChild<QAction*>(QStringLiteral("Act_MergeOpen"))->trigger();

    TTSY_MergeF* window = mergeWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(app.main().isEnabled());
    EXPECT_EQ(window->findChild<QTableView*>(QStringLiteral("Grd_Merge"))->model()->rowCount(), 2);
    EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("Cmb_Address"))->currentText(),
              QStringLiteral("メールアドレス"));
    EXPECT_EQ(window->findChild<QComboBox*>(QStringLiteral("Cmb_Name"))->currentText(), QStringLiteral("氏名"));
    QListWidget* unusable = window->findChild<QListWidget*>(QStringLiteral("Lst_Unusable"));
    ASSERT_EQ(unusable->count(), 1);
    EXPECT_EQ(unusable->item(0)->text(), QStringLiteral("3 行目：アドレスが空です"));
    QListWidget* fields = window->findChild<QListWidget*>(QStringLiteral("Lst_Fields"));
    ASSERT_EQ(fields->count(), 3);
    emit fields->itemDoubleClicked(fields->item(2));
    EXPECT_TRUE(app.body()->toPlainText().contains(QStringLiteral("{{金額}}")));
    EXPECT_TRUE(app.tool("TB_Send")->isEnabledTo(&app.main())); // once the window is closed
    EXPECT_EQ(statusPanel(app)->text(), QStringLiteral("差し込み: 名簿.csv（2 行）"));

    window->findChild<QPushButton*>(QStringLiteral("Cmd_CloseTable"))->click();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(app.main().isEnabled());
    EXPECT_FALSE(app.tool("TB_Send")->isEnabled());
    EXPECT_EQ(statusPanel(app)->text(), QStringLiteral("差し込みをやめました。宛先リストに送信します"));
}

} // namespace
