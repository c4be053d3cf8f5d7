// The fake is what every window test trusts to catch an unexpected prompt; make sure it does.
#include "fixtures/fake_dialogs.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

namespace {

using Kind = FakeDialogs::Kind;

TEST(FakeDialogs, AnswersFromTheQueuesInOrderAndRecordsEveryCall) {
    FakeDialogs dialogs;
    dialogs.queueAnswer(true);
    dialogs.queueAnswer(false);
    dialogs.queueFileName(QStringLiteral("/tmp/a.txt"));
    dialogs.message(nullptr, QStringLiteral("一"));
    EXPECT_TRUE(dialogs.askYesNo(nullptr, QStringLiteral("警告"), QStringLiteral("二")));
    EXPECT_FALSE(dialogs.askYesNo(nullptr, QStringLiteral("警告"), QStringLiteral("三")));
    tessaly::FileDialogOptions options;
    options.title = QStringLiteral("宛先をファイルから読み込む");
    options.defaultExt = QStringLiteral("txt");
    EXPECT_EQ(dialogs.openFile(nullptr, options), QStringLiteral("/tmp/a.txt"));
    dialogs.error(nullptr, QStringLiteral("四"));

    EXPECT_EQ(dialogs.texts(), (QStringList{QStringLiteral("一"), QStringLiteral("二"), QStringLiteral("三"), QStringLiteral("四")}));
    EXPECT_EQ(dialogs.count(Kind::Question), 2);
    EXPECT_EQ(dialogs.last(Kind::Question).title, QStringLiteral("警告"));
    EXPECT_EQ(dialogs.last(Kind::OpenFile).options.defaultExt, QStringLiteral("txt"));
    EXPECT_EQ(dialogs.lastText(), QStringLiteral("四"));
}

TEST(FakeDialogs, UnexpectedPromptsAndUnusedAnswersFailTheTest) {
    EXPECT_NONFATAL_FAILURE(
        {
            FakeDialogs dialogs;
            EXPECT_FALSE(dialogs.askYesNo(nullptr, QStringLiteral("警告"), QStringLiteral("削除しますか？")));
        },
        "unexpected question");
    EXPECT_NONFATAL_FAILURE(
        {
            FakeDialogs dialogs;
            EXPECT_TRUE(dialogs.saveFile(nullptr, {}).isEmpty());
        },
        "unexpected save-file dialog");
    EXPECT_NONFATAL_FAILURE(
        {
            FakeDialogs dialogs;
            dialogs.queueAnswer(true);
        },
        "never asked for");
}

} // namespace
