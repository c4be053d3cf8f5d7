#include "common/error_guard.h"
#include "common/errors.h"
#include "fixtures/fake_dialogs.h"

#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>
#include <new>
#include <stdexcept>

namespace {

using Kind = FakeDialogs::Kind;

TEST(Guarded, ShowsTheTextOfAnEscapingErrorAndReportsFailure) {
    FakeDialogs dialogs;
    QWidget window;
    EXPECT_FALSE(tessaly::guarded(dialogs, &window, [] { throw tessaly::FileError("C:/x/Log.txt に書き込めません"); }));
    ASSERT_EQ(dialogs.count(Kind::Error), 1);
    EXPECT_EQ(dialogs.last(Kind::Error).text, QStringLiteral("C:/x/Log.txt に書き込めません"));
    EXPECT_EQ(dialogs.last(Kind::Error).parent, &window);

    // Not derived from std::exception: still an error box, never a crash.
    EXPECT_FALSE(tessaly::guarded(dialogs, &window, [] { throw 42; }));
    EXPECT_EQ(dialogs.count(Kind::Error), 2);
    EXPECT_FALSE(dialogs.lastText().isEmpty());
}

TEST(Guarded, NeverShowsTheEnglishTextOfALibraryException) {
    FakeDialogs dialogs;
    EXPECT_FALSE(tessaly::guarded(dialogs, nullptr, [] { throw std::bad_alloc(); }));
    EXPECT_FALSE(tessaly::guarded(dialogs, nullptr, [] { throw std::invalid_argument("INI value holds a line break"); }));
    EXPECT_EQ(dialogs.texts(Kind::Error),
              (QStringList{QStringLiteral("メモリが不足したため、処理を中止しました。\r\n"
                                          "他のプログラムを閉じてから、もう一度お試しください。"),
                           QStringLiteral("予期しないエラーが発生しました。")}));
}

TEST(Guarded, CommandWithoutErrorShowsNothing) {
    FakeDialogs dialogs;
    bool ran = false;
    EXPECT_TRUE(tessaly::guarded(dialogs, nullptr, [&] { ran = true; }));
    EXPECT_TRUE(ran);
    EXPECT_TRUE(dialogs.calls.empty());
}

class Window : public QWidget {
public:
    int clicks = 0;
    void failingClick() {
        ++clicks;
        throw tessaly::Error("Not Connected");
    }
};

TEST(ConnectGuarded, ClickedButtonRunsTheHandlerInsideTheGuard) {
    FakeDialogs dialogs;
    Window window;
    auto* button = new QPushButton(&window);
    tessaly::connectGuarded(dialogs, button, &QPushButton::clicked, &window, &Window::failingClick);

    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window.clicks, 1);
    EXPECT_EQ(dialogs.texts(Kind::Error), QStringList{QStringLiteral("Not Connected")});

    // The event loop goes on: a second click runs the handler again.
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(window.clicks, 2);
}

TEST(ConnectGuarded, PassesSignalArgumentsToHandlersThatTakeThem) {
    FakeDialogs dialogs;
    QWidget window;
    auto* spin = new QSpinBox(&window);
    int seen = -1;
    tessaly::connectGuarded(dialogs, spin, &QSpinBox::valueChanged, &window, [&](int value) { seen = value; });
    spin->setValue(7);
    EXPECT_EQ(seen, 7);
    EXPECT_TRUE(dialogs.calls.empty());
}

} // namespace
