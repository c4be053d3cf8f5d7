// With Qt's Japanese translations loaded as the program loads them, no window, box, dialog or
// context menu of the program shows one of Qt's English texts ("Open", "Look in:", "Cancel",
// "&Undo", ...): every text a user can see is walked, in every window and in the real dialogs
// (Qt's own file dialog, the password prompt, the message boxes).
#include "app_harness.h"

#include "address/address_window.h"
#include "app/hit_list_window.h"
#include "app/preview_window.h"
#include "app/refused_window.h"
#include "common/guide_window.h"
#include "common/japanese_application.h"
#include "common/qt_dialogs.h"
#include "log/log_window.h"
#include "settings/settings_window.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QDialog>
#include <QGroupBox>
#include <QMenu>
#include <QSet>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>

namespace {

bool isJapanese(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x3000 && u <= 0x30FF) || (u >= 0x3400 && u <= 0x9FFF) ||
           (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF);
}

// The program's own texts without a Japanese character: names, protocols, given captions.
const QSet<QString> kOwnTexts = {
    QStringLiteral("OK"),           QStringLiteral("USER-ID"),          QStringLiteral("STARTTLS"),
    QStringLiteral("SSL/TLS"),      QStringLiteral("ISO-2022-JP"),      QStringLiteral("UTF-8"),
    QStringLiteral("Microsoft 365"), QStringLiteral("Google"),          QStringLiteral("Tessaly 2.7S"),
    QStringLiteral("TSY_2.7S LogData"), QStringLiteral("Text files (*.txt)"),
};

// A text of two or more Latin letters in a row and nothing Japanese reads as English.
bool looksEnglish(QString text) {
    text.remove(QLatin1Char('&'));
    text = text.trimmed();
    if (kOwnTexts.contains(text))
        return false;
    int run = 0;
    bool word = false;
    for (const QChar c : text) {
        if (isJapanese(c))
            return false;
        run = (c.unicode() < 0x80 && c.isLetter()) ? run + 1 : 0;
        word = word || run >= 2;
    }
    return word;
}

class Walker {
public:
    QStringList english;

    void add(const QString& where, const QString& text) {
        if (looksEnglish(text))
            english << where + QStringLiteral(": ") + text;
    }

    // Every text `window` shows now, its context menus and its actions' texts included.
    void walk(QWidget* window, const QString& where) {
        add(where, window->windowTitle());
        QList<QWidget*> widgets = window->findChildren<QWidget*>();
        widgets.prepend(window);
        for (QWidget* w : widgets) {
            if (w != window && (!w->isVisibleTo(window) || w->isWindow()))
                continue;
            const QString at = where + QLatin1Char('/') +
                               (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                          : w->objectName());
            add(at, w->toolTip());
            add(at, w->statusTip());
            add(at, w->whatsThis());
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                add(at, b->text());
            if (auto* l = qobject_cast<QLabel*>(w))
                add(at, l->text());
            if (auto* g = qobject_cast<QGroupBox*>(w))
                add(at, g->title());
            if (auto* e = qobject_cast<QLineEdit*>(w))
                add(at, e->placeholderText());
            if (auto* s = qobject_cast<QAbstractSpinBox*>(w))
                add(at, s->specialValueText());
            if (auto* tabs = qobject_cast<QTabBar*>(w))
                for (int i = 0; i < tabs->count(); ++i) {
                    add(at, tabs->tabText(i));
                    add(at, tabs->tabToolTip(i));
                }
            if (auto* combo = qobject_cast<QComboBox*>(w))
                for (int i = 0; i < combo->count(); ++i)
                    if (!combo->itemText(i).startsWith(QLatin1Char('/'))) // a folder's path
                        add(at, combo->itemText(i));
            if (auto* view = qobject_cast<QAbstractItemView*>(w); view && view->model()) {
                QAbstractItemModel* model = view->model();
                if (qobject_cast<QTreeView*>(w))
                    for (int c = 0; c < model->columnCount(view->rootIndex()); ++c)
                        add(at, model->headerData(c, Qt::Horizontal).toString());
                // The file dialog's places ("Computer", and the home folder by its name); other
                // lists hold the user's data.
                if (w->objectName() == QLatin1String("sidebar"))
                    for (int r = 0; r < model->rowCount(); ++r)
                        if (const QString place = model->index(r, 0).data().toString();
                            place != QDir::home().dirName())
                            add(at, place);
            }
            const bool edits = qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractSpinBox*>(w) ||
                               qobject_cast<QPlainTextEdit*>(w) || qobject_cast<QTextEdit*>(w);
            if (edits && !qobject_cast<QAbstractSpinBox*>(w->parentWidget()) &&
                !qobject_cast<QComboBox*>(w->parentWidget()) && w->isEnabled())
                contextMenu(w, at);
        }
        for (QAction* action : window->findChildren<QAction*>()) {
            add(where + QStringLiteral("/action"), action->text());
            add(where + QStringLiteral("/action"), action->toolTip());
        }
    }

    // The menu a right click (or the menu key) opens.
    void contextMenu(QWidget* w, const QString& where) {
        std::unique_ptr<QMenu> menu;
        if (auto* line = qobject_cast<QLineEdit*>(w))
            menu.reset(line->createStandardContextMenu());
        else if (auto* plain = qobject_cast<QPlainTextEdit*>(w))
            menu.reset(plain->createStandardContextMenu());
        else if (auto* rich = qobject_cast<QTextEdit*>(w))
            menu.reset(rich->createStandardContextMenu());
        if (menu) {
            for (QAction* action : menu->actions())
                add(where + QStringLiteral("/context menu"), action->text());
            return;
        }
        // A spin box builds its menu (with its own steps) only as it opens, and waits in it.
        QObject scope;
        bool shown = false;
        QTimer::singleShot(20, &scope, [&] {
            auto* open = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!open)
                return;
            shown = true;
            for (QAction* action : open->actions())
                add(where + QStringLiteral("/context menu"), action->text());
            open->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(2, 2), w->mapToGlobal(QPoint(2, 2)));
        QCoreApplication::sendEvent(w, &event);
        EXPECT_TRUE(shown) << "no context menu in " << where.toStdString();
    }

    // Walks the modal dialog `open` brings up, then closes it; `prepare` may change its view.
    void walkDialog(const QString& where, const std::function<void()>& open,
                    const std::function<void(QWidget*)>& prepare = {}) {
        QObject scope;
        bool shown = false;
        QTimer::singleShot(20, &scope, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown = true;
            if (prepare)
                prepare(dialog);
            walk(dialog, where);
            dialog->reject();
        });
        open();
        EXPECT_TRUE(shown) << where.toStdString() << " did not open";
    }
};

TEST(StandardTexts, NoEnglishStandardTextInAnyWindowOrDialog) {
    ASSERT_TRUE(tessaly::setUpJapanese(*qobject_cast<QApplication*>(QCoreApplication::instance())))
        << "Qt's Japanese translations (qt6-translations-l10n) are not installed";
    apptest::App app({}, sjis(QStringLiteral(
                             "\"総務部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"総務部\",\"山田課\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"総務部\",\"山田課\",\"山田 花子\",\"hanako@example.jp\",\"0\"\r\n")));
    Walker walker;
    TTSY_MainF& main = app.main();
    main.addRecipients({"taro@example.jp"});
    walker.walk(&main, QStringLiteral("main"));

    app.tool("TB_Settei")->click();
    TTSY_SetteiF& settei = app.program->settingsWindow();
    walker.walk(&settei, QStringLiteral("settings"));
    settei.Cmd_ServerSyousaiClick();
    auto* details = settei.findChild<TTSY_ServerSyousaiF*>();
    details->ChkBox_Auth->setChecked(true);
    walker.walk(details, QStringLiteral("server details"));
    details->reject();
    settei.Cmd_SetteiCancelClick();

    app.tool("TB_Address")->click();
    TTSY_AddressF& address = app.program->addressWindow();
    address.Cmd_Settei->click();
    auto* pages = address.findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    for (int page = 0; page < pages->count(); ++page) {
        pages->setCurrentIndex(page);
        walker.walk(&address, QStringLiteral("address book, page %1").arg(page + 1));
    }
    address.close();

    app.program->hitListWindow().showHits({"taro@example.jp", "hanako@example.jp"});
    walker.walk(&app.program->hitListWindow(), QStringLiteral("hit list"));
    app.program->hitListWindow().reject();

    app.tool("TB_Log_Disp")->click();
    walker.walk(&app.program->logWindow(), QStringLiteral("send log"));
    app.program->logWindow().close();

    main.TB_PreviewClick();
    auto* preview = main.findChild<tessaly::TTSY_PreviewF*>();
    ASSERT_NE(preview, nullptr);
    walker.walk(preview, QStringLiteral("preview"));
    preview->close();

    TTSY_RefusedF refused(&main);
    refused.showRefused({{"taro@example.jp", "550 5.1.1 User unknown"}});
    walker.walk(&refused, QStringLiteral("refused recipients"));
    refused.reject();

    tessaly::GuideWindow& guide = tessaly::showGuide(QStringLiteral("設定画面"));
    walker.walk(&guide, QStringLiteral("guide"));
    guide.close();

    // The real boxes and dialogs, Qt's own file dialog in its Qt form among them.
    tessaly::QtDialogs boxes(QStringLiteral("Tessaly 2.7S"));
    const QString text = QStringLiteral("確認のメッセージです。");
    walker.walkDialog(QStringLiteral("message box"), [&] { boxes.message(&main, text); });
    walker.walkDialog(QStringLiteral("information box"), [&] { boxes.notice(&main, text, text); });
    walker.walkDialog(QStringLiteral("error box"), [&] { boxes.error(&main, text); });
    walker.walkDialog(QStringLiteral("question"), [&] { boxes.askYesNo(&main, text, text); });
    walker.walkDialog(QStringLiteral("question with cancel"),
                      [&] { boxes.askYesNoCancel(&main, text, text); });
    walker.walkDialog(QStringLiteral("password prompt"),
                      [&] { boxes.askPassword(&main, text, text); });
    tessaly::FileDialogOptions options;
    options.title = QStringLiteral("メール本文をファイルから読み込む");
    options.filter = QStringLiteral("Text files (*.txt);;全てのファイル(*.*) (*)");
    options.initialDir = app.dir.path();
    // Both views of the folder: the list, and the details with their column titles.
    const auto detailed = [](QWidget* dialog) {
        if (auto* button = dialog->findChild<QAbstractButton*>(QStringLiteral("detailModeButton")))
            button->click();
    };
    for (const bool details : {false, true}) {
        walker.walkDialog(QStringLiteral("open-file dialog"), [&] { boxes.openFile(&main, options); },
                          details ? detailed : std::function<void(QWidget*)>());
        walker.walkDialog(QStringLiteral("save-file dialog"), [&] { boxes.saveFile(&main, options); },
                          details ? detailed : std::function<void(QWidget*)>());
    }

    EXPECT_TRUE(walker.english.isEmpty()) << walker.english.join(QLatin1Char('\n')).toStdString();
}

} // namespace
