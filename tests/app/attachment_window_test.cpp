// The attachment window as the user works it: files added through the file dialog and by a drop,
// one removed, the totals it and the main window's status bar show, and the list emptied with
// the mail.
#include "app/attachment_window.h"
#include "app_harness.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QMimeDatabase>
#include <QTreeWidget>
#include <QUrl>

namespace {

using apptest::App;

QStringList listed(const QTreeWidget* list) {
    QStringList rows;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        rows << list->topLevelItem(i)->text(0) + QLatin1Char('|') + list->topLevelItem(i)->text(1);
    return rows;
}

// What a file manager's drop of these files delivers to `target`.
void drop(QWidget* target, const QStringList& paths) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls << QUrl::fromLocalFile(path);
    data.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent dropped(QPointF(20, 20), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
}

TEST(AttachmentWindow, AddsRemovesAndDropsFilesAndTheStatusBarFollowsUntilTheMailIsCleared) {
    App app;
    const auto file = [&](const QString& name, const QByteArray& bytes) {
        app.dir.write(name, bytes);
        return app.dir.filePath(name);
    };
    const QString notes = file(QStringLiteral("notes.txt"), QByteArray(850, 'n'));
    const QString minutes =
        file(QStringLiteral("会議資料（第3回）.pdf"), "%PDF-1.4\n" + QByteArray(1'500'000, 'p'));
    const QString agenda = file(QStringLiteral("agenda.csv"), QByteArray(12'330, 'a'));

    app.child<QAction>("Act_Attach")->trigger();
    TTSY_AttachF& window = app.main().attachWindow();
    ASSERT_TRUE(window.isVisible());
    EXPECT_FALSE(app.main().isEnabled());
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("Lst_Attach"));
    auto* total = window.findChild<QLabel*>(QStringLiteral("Label_Total"));
    auto* remove = window.findChild<QPushButton*>(QStringLiteral("Cmd_Del"));
    ASSERT_TRUE(list && total && remove);
    EXPECT_EQ(total->text(), QStringLiteral("添付ファイルはありません。"));
    EXPECT_FALSE(remove->isEnabled());

    app.dialogs.queueFileNames({notes, minutes});
    window.findChild<QPushButton*>(QStringLiteral("Cmd_Add"))->click();
    EXPECT_EQ(listed(list), (QStringList{QStringLiteral("notes.txt|850 バイト"),
                                         QStringLiteral("会議資料（第3回）.pdf|1.5 MB")}));
    EXPECT_EQ(list->topLevelItem(1)->text(2), QMimeDatabase().mimeTypeForName(QStringLiteral("application/pdf")).comment());
    EXPECT_EQ(total->text(), QStringLiteral("合計：添付ファイル 2 個（1.5 MB）"));
    auto* status = app.child<QLabel>("StatusBar1_Attachments");
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(status->isVisibleTo(&app.main()));
    EXPECT_EQ(status->text(), QStringLiteral("添付ファイル 2 個（1.5 MB）"));

    list->topLevelItem(1)->setSelected(true);
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(listed(list), QStringList{QStringLiteral("notes.txt|850 バイト")});
    EXPECT_EQ(status->text(), QStringLiteral("添付ファイル 1 個（850 バイト）"));

    // A drop carrying a file already listed adds only the new one.
    drop(&window, {notes, agenda});
    EXPECT_EQ(listed(list), (QStringList{QStringLiteral("notes.txt|850 バイト"),
                                         QStringLiteral("agenda.csv|12.3 KB")}));
    EXPECT_EQ(total->text(), QStringLiteral("合計：添付ファイル 2 個（13.2 KB）"));
    EXPECT_EQ(status->text(), QStringLiteral("添付ファイル 2 個（13.2 KB）"));

    window.findChild<QPushButton*>(QStringLiteral("Cmd_Close"))->click();
    EXPECT_TRUE(app.main().isEnabled());
    // Still attached after the window closed: the status bar is what tells the user.
    EXPECT_TRUE(status->isVisibleTo(&app.main()));

    app.tool("TB_Clear")->click();
    EXPECT_TRUE(window.files().empty());
    EXPECT_FALSE(status->isVisibleTo(&app.main()));
    EXPECT_EQ(total->text(), QStringLiteral("添付ファイルはありません。"));
    EXPECT_EQ(app.dialogs.count(FakeDialogs::Kind::OpenFile), 1);
    EXPECT_EQ(app.dialogs.texts(), QStringList()); // nothing was refused
}

} // namespace
