// The guide inside the program: F1 in every window opens it at that window's own section, the
// send button's menu offers it, and its links and pictures work.
#include "app_harness.h"

#include "address/address_window.h"
#include "app/hit_list_window.h"
#include "app/preview_window.h"
#include "app/refused_window.h"
#include "common/guide_window.h"
#include "log/log_window.h"
#include "settings/settings_window.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTreeWidget>
#include <QUrl>

namespace {

tessaly::GuideWindow* guideWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* guide = qobject_cast<tessaly::GuideWindow*>(w); guide && guide->isVisible())
            return guide;
    return nullptr;
}

// Presses F1 in `window` as a user would, and gives the section the guide opened at.
QString pressF1(QWidget* window) {
    if (tessaly::GuideWindow* open = guideWindow())
        open->close();
    window->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window));
    QWidget* target = window->focusWidget() ? window->focusWidget() : window;
    QTest::keyClick(target, Qt::Key_F1);
    tessaly::GuideWindow* guide = nullptr;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (guide = guideWindow()) != nullptr; }, 2000))
        << "no guide for " << window->objectName().toStdString();
    if (!guide)
        return {};
    QString section;
    // The text is laid out once the window is on the screen.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !(section = guide->currentSection()).isEmpty() &&
                                             section != QStringLiteral("Tessaly 2.7S 利用ガイド"); }, 2000));
    return section;
}

struct Section {
    const char* window;
    const char* heading;
};

TEST(GuideWindow, F1InEachWindowOpensItsOwnSection) {
    apptest::App app({}, sjis(QStringLiteral(
                             "\"総務部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n")));
    TTSY_MainF& main = app.main();
    main.addRecipients({"taro@example.jp"});
    tessaly::Program& p = *app.program;
    const std::map<std::string, std::function<QWidget*()>> open = {
        {"main", [&]() -> QWidget* { return &main; }},
        {"settings", [&]() -> QWidget* {
             app.tool("TB_Settei")->click();
             return &p.settingsWindow();
         }},
        {"server details", [&]() -> QWidget* {
             app.tool("TB_Settei")->click();
             p.settingsWindow().Cmd_ServerSyousaiClick();
             return p.settingsWindow().findChild<TTSY_ServerSyousaiF*>();
         }},
        {"address book", [&]() -> QWidget* {
             app.tool("TB_Address")->click();
             return &p.addressWindow();
         }},
        {"hit list", [&]() -> QWidget* {
             p.hitListWindow().showHits({"taro@example.jp", "hanako@example.jp"});
             return &p.hitListWindow();
         }},
        {"send log", [&]() -> QWidget* {
             app.tool("TB_Log_Disp")->click();
             return &p.logWindow();
         }},
        {"preview", [&]() -> QWidget* {
             main.TB_PreviewClick();
             return main.findChild<tessaly::TTSY_PreviewF*>();
         }},
        {"refused recipients", [&]() -> QWidget* {
             auto* refused = new TTSY_RefusedF(&main);
             refused->setAttribute(Qt::WA_DeleteOnClose);
             refused->showRefused({{"taro@example.jp", "550 5.1.1 User unknown"}});
             return refused;
         }},
    };
    const Section sections[] = {
        {"main", "メイン画面の見方"},
        {"settings", "設定画面"},
        {"server details", "送信サーバーの詳細（暗号化とログイン）"},
        {"address book", "アドレス帳"},
        {"hit list", "手で入力する"},
        {"send log", "送信ログ"},
        {"preview", "送る前に確かめる（プレビューとテスト送信）"},
        {"refused recipients", "宛先のアドレスが間違っていたとき"},
    };
    for (const Section& s : sections) {
        SCOPED_TRACE(s.window);
        QWidget* window = open.at(s.window)();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(pressF1(window), QString::fromUtf8(s.heading));
        if (tessaly::GuideWindow* guide = guideWindow()) {
            EXPECT_EQ(guide->Tree_Contents->currentItem()->text(0), QString::fromUtf8(s.heading));
            guide->close();
        }
        if (auto* details = p.settingsWindow().findChild<TTSY_ServerSyousaiF*>(); window == details) {
            details->reject();
            p.settingsWindow().close();
        } else if (window != &main) {
            window->close();
        }
        main.setEnabled(true);
    }
}

TEST(GuideWindow, TheSendMenuOffersItWithF1) {
    apptest::App app;
    QMenu* menu = app.tool("TB_Send")->menu();
    auto* action = menu->findChild<QAction*>(QStringLiteral("Act_Guide"));
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), QStringLiteral("使い方ガイド"));
    EXPECT_EQ(action->shortcut(), QKeySequence(Qt::Key_F1));
    // Whether or not a run could start: TB_Send is disabled with no recipient.
    EXPECT_FALSE(app.tool("TB_Send")->isEnabled());
    action->trigger();
    ASSERT_NE(guideWindow(), nullptr);
    guideWindow()->close();
}

TEST(GuideWindow, SectionsLinksAndPicturesAreFound) {
    tessaly::GuideWindow& guide = tessaly::showGuide(QStringLiteral("最初の起動"));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&guide));
    EXPECT_TRUE(QTest::qWaitFor([&] { return guide.currentSection() == QStringLiteral("最初の起動"); }, 2000));
    EXPECT_FALSE(guide.showSection(QStringLiteral("ない章")));

    // Every picture the guide shows is there, beside it.
    const QTextDocument* text = guide.Txt_Guide->document();
    int pictures = 0;
    for (QTextBlock block = text->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat()) {
                const QString name = it.fragment().charFormat().toImageFormat().name();
                EXPECT_FALSE(QImage(name).isNull()) << name.toStdString();
                ++pictures;
            }
    EXPECT_GE(pictures, 10);

    // A link to a heading, to the administrators' guide, and back.
    emit guide.Txt_Guide->anchorClicked(QUrl(QStringLiteral("#設定画面")));
    EXPECT_EQ(guide.currentSection(), QStringLiteral("設定画面"));
    emit guide.Txt_Guide->anchorClicked(QUrl(QStringLiteral("oauth_guide_ja.md")));
    EXPECT_EQ(guide.currentSection(), QStringLiteral("OAuth 2.0 でのサインイン（管理者向けの登録手順）"));
    EXPECT_TRUE(guide.showSection(QStringLiteral("アドレス帳")));
    EXPECT_EQ(guide.currentSection(), QStringLiteral("アドレス帳"));
    guide.close();
}

} // namespace
