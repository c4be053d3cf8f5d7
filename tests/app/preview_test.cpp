// The preview of a send run: each recipient's message as it goes out, and what the run refuses.
#include "app_harness.h"

#include "app/preview_window.h"
#include "address/address_window.h"
#include "fixtures/smtp_scripted_server.h"

#include <QAction>
#include <QComboBox>
#include <QListView>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTimer>

namespace {

using apptest::App;
using apptest::IniValues;

const QString kLongSubject = QStringLiteral(
    "【ご案内】年末の大掃除と忘年会の日程と会場と会費についてのお知らせです。必ずお読みください");

IniValues previewSettings(const QString& sigPath, bool atesaki) {
    return {{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
            {QStringLiteral("Port"), QStringLiteral("2525")},
            {QStringLiteral("From"), QStringLiteral("yamada@example.jp")},
            {QStringLiteral("UserMei"), QStringLiteral("山田太郎")},
            {QStringLiteral("Syomei"), sigPath},
            {QStringLiteral("ChkBox_Syomei"), QStringLiteral("1")},
            {QStringLiteral("ChkBox_Atesaki"), atesaki ? "1" : "0"},
            {QStringLiteral("Keisyou"), QStringLiteral("殿")},
            {QStringLiteral("ChkBox_EverySend"), QStringLiteral("1")},
            {QStringLiteral("EverySend"), QStringLiteral("boss@example.jp")}};
}

// Opens the preview through TB_Send's menu, as the user does.
tessaly::TTSY_PreviewF* openPreview(App& app) {
    auto* menu = app.tool("TB_Send")->menu();
    EXPECT_NE(menu, nullptr);
    if (!menu)
        return nullptr;
    menu->findChild<QAction*>(QStringLiteral("Act_Preview"))->trigger();
    return app.main().findChild<tessaly::TTSY_PreviewF*>(QStringLiteral("TTSY_PreviewF"));
}

QStringList shownLines(tessaly::TTSY_PreviewF& preview) {
    return preview.findChild<QPlainTextEdit*>(QStringLiteral("Memo_Preview"))
        ->toPlainText()
        .split(QLatin1Char('\n'));
}

class Preview : public ::testing::TestWithParam<bool> {};

TEST_P(Preview, ShowsEveryMessageOfTheRunAsItGoesOut) {
    const bool atesaki = GetParam();
    TempStartDir sigDir;
    sigDir.write(QStringLiteral("sig.txt"), sjis(QStringLiteral("総務部　山田\r\n")));
    App app(previewSettings(sigDir.filePath(QStringLiteral("sig.txt")), atesaki));
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    app.main().addRecipients({sjis(QStringLiteral("山田 花子 <hanako@example.jp>")).toStdString()});
    app.edit("Edt_Subject")->setText(kLongSubject);
    app.body()->moveCursor(QTextCursor::Start);
    app.body()->insertPlainText(QStringLiteral("各位\n明日です。"));
    const QString bodyBefore = app.body()->toPlainText();

    tessaly::TTSY_PreviewF* preview = openPreview(app);
    ASSERT_NE(preview, nullptr);
    EXPECT_TRUE(preview->isModal());
    EXPECT_LE(preview->width(), app.main().width());
    EXPECT_LE(preview->height(), app.main().height());
    EXPECT_EQ(
        preview->findChild<QLabel*>(QStringLiteral("Label_Summary"))->text(),
        QStringLiteral("送信するメッセージは 3 通です。送信サーバー：127.0.0.1（ポート 2525）"));
    EXPECT_FALSE(preview->findChild<QLabel*>(QStringLiteral("Label_Refusal"))->isVisible());
    auto* list = preview->findChild<QListWidget*>(QStringLiteral("List_Preview"));
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(2)->text(), QStringLiteral("毎回通知：boss@example.jp"));

    // The signature follows the typed text; the field's empty last line is no line.
    const QStringList body = {QStringLiteral("各位"), QStringLiteral("明日です。"),
                              QStringLiteral("--"), QStringLiteral("総務部　山田")};
    const auto expectMessage = [&](int row, const QString& to, const QString& subject,
                                   const QStringList& bodyLines) {
        SCOPED_TRACE(row);
        list->setCurrentRow(row);
        const QStringList lines = shownLines(*preview);
        ASSERT_GE(lines.size(), 5);
        EXPECT_EQ(lines.mid(0, 3), (QStringList{QStringLiteral("From: 山田太郎<yamada@example.jp>"),
                                                QStringLiteral("To: ") + to,
                                                QStringLiteral("Subject: ") + subject}));
        EXPECT_TRUE(lines[3].startsWith(QStringLiteral("Date: "))) << lines[3].toStdString();
        EXPECT_EQ(lines.mid(4), QStringList{QString()} + bodyLines);
    };
    const auto addressee = [&](const QString& line) {
        return atesaki ? QStringList{line} : QStringList{};
    };
    expectMessage(0, QStringLiteral("taro@example.jp"), kLongSubject,
                  addressee(QStringLiteral("taro 殿")) + body);
    expectMessage(1, QStringLiteral("hanako@example.jp"), kLongSubject,
                  addressee(QStringLiteral("山田 花子 殿")) + body);
    expectMessage(2, QStringLiteral("boss@example.jp"),
                  kLongSubject + QStringLiteral("（毎回通知）"),
                  body + QStringList{QStringLiteral("----------------------------------------")} +
                      addressee(QStringLiteral("<○○　殿>で宛先編集されました。")) +
                      QStringList{QStringLiteral("taro@example.jp"),
                                  QStringLiteral("山田 花子 <hanako@example.jp>")});

    // The source: the long Subject folded into several encoded words, the escapes visible.
    list->setCurrentRow(0);
    const QString source =
        preview->findChild<QPlainTextEdit*>(QStringLiteral("Memo_Source"))->toPlainText();
    EXPECT_TRUE(source.contains(QStringLiteral("\nSubject: =?ISO-2022-JP?B?")));
    EXPECT_TRUE(source.contains(QStringLiteral("?=\n =?ISO-2022-JP?B?")));
    EXPECT_TRUE(source.contains(QStringLiteral("<ESC>$B")) &&
                source.contains(QStringLiteral("<ESC>(B")));
    EXPECT_FALSE(source.contains(QChar(0x1B)));

    // Looking changes nothing: the notify lines are not added to the body field.
    preview->close();
    EXPECT_EQ(app.body()->toPlainText(), bodyBefore);
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(AddresseeLine, Preview, ::testing::Bool());

// Without a table, the address book's fields are filled for each recipient from where it was
// taken: the group and member it was transferred from, or the entry a typed name found.
TEST(Preview, FillsTheAddressBookFieldsOfEachRecipient) {
    App app({{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("Port"), QStringLiteral("2525")},
             {QStringLiteral("From"), QStringLiteral("yamada@example.jp")}},
            sjis(QStringLiteral("\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                "\"営業部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                "\"営業部\",\"第一課\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                "\"営業部\",\"第一課\",\"佐藤一郎\",\"ichiro@example.jp\",\"0\"\r\n"
                                "\"営業部\",\"第一課\",\"山田太郎\",\"taro@example.jp\",\"0\"\r\n"
                                "\"総務部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                "\"総務部\",\"庶務\",\"&DUMMY&\",\"\",\"1\"\r\n"
                                "\"総務部\",\"庶務\",\"山田太郎\",\"taro@example.jp\",\"0\"\r\n")));
    // The member 庶務 of 総務部 transferred from the address book window...
    app.tool("TB_Address")->click();
    TTSY_AddressF& address = app.program->addressWindow();
    auto* groups = address.findChild<QComboBox*>(QStringLiteral("Cmb_AG"));
    groups->setFocus();
    for (int guard = 0; groups->currentText() != QStringLiteral("総務部") && guard < 10; ++guard)
        QTest::keyClick(groups, Qt::Key_Down);
    auto* members = address.findChild<QListView*>(QStringLiteral("Lst_AM"));
    const QModelIndex member = members->model()->index(0, 0);
    ASSERT_EQ(member.data().toString(), QStringLiteral("庶務"));
    QTest::mouseClick(members->viewport(), Qt::LeftButton, {}, members->visualRect(member).center());
    address.findChild<QPushButton*>(QStringLiteral("Cmd_To_Set"))->click();
    // ...and a name typed, found once in the book.
    app.typeRecipient(QStringLiteral("佐藤"));
    ASSERT_EQ(app.recipientTexts(), (QStringList{QStringLiteral("山田太郎 <taro@example.jp>"),
                                                 QStringLiteral("佐藤一郎 <ichiro@example.jp>")}));
    app.edit("Edt_Subject")->setText(QStringLiteral("{{グループ}}の{{宛先名}}様へ"));
    app.setBody(QStringLiteral("{{メンバー}}の皆様\n変わらない行"));

    tessaly::TTSY_PreviewF* preview = openPreview(app);
    ASSERT_NE(preview, nullptr);
    EXPECT_FALSE(preview->findChild<QLabel*>(QStringLiteral("Label_Refusal"))->isVisible());
    auto* list = preview->findChild<QListWidget*>(QStringLiteral("List_Preview"));
    ASSERT_EQ(list->count(), 2);
    const struct {
        QString subject, firstLine;
    } expected[] = {{QStringLiteral("総務部の山田太郎様へ"), QStringLiteral("庶務の皆様")},
                    {QStringLiteral("営業部の佐藤一郎様へ"), QStringLiteral("第一課の皆様")}};
    for (int row = 0; row < 2; ++row) {
        list->setCurrentRow(row);
        const QStringList lines = shownLines(*preview);
        ASSERT_GE(lines.size(), 7) << row;
        EXPECT_EQ(lines[2], QStringLiteral("Subject: ") + expected[row].subject);
        EXPECT_EQ(lines.mid(5, 2), (QStringList{expected[row].firstLine, QStringLiteral("変わらない行")}));
    }
    preview->close();
}

// Whatever the run refuses, the preview says in the run's own words before anything is sent.
TEST(Preview, ShowsWhatTheRunWouldRefuseInItsWords) {
    const struct {
        const char* name;
        QString subject;
    } cases[] = {
        {"no subject", QStringLiteral("無題")},
        {"restricted character", QStringLiteral("会議, 延期")},
        {"character without an ISO-2022-JP form", QStringLiteral("髙橋さんの件")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        App app({{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
                 {QStringLiteral("From"), QStringLiteral("yamada@example.jp")}});
        app.typeRecipient(QStringLiteral("taro@example.jp"));
        app.edit("Edt_Subject")->setText(c.subject);
        tessaly::TTSY_PreviewF* preview = openPreview(app);
        ASSERT_NE(preview, nullptr);
        const QString shown = preview->findChild<QLabel*>(QStringLiteral("Label_Refusal"))->text();
        preview->close();
        EXPECT_TRUE(app.dialogs.texts().isEmpty());

        app.tool("TB_Send")->click();
        EXPECT_EQ(app.dialogs.texts().size(), 1);
        EXPECT_EQ(shown, app.dialogs.lastText());
    }

    // A recipient that is no mailbox refuses the run, and the preview says so at once.
    App app({{QStringLiteral("From"), QStringLiteral("yamada@example.jp")}});
    app.main().addRecipients({"taro@example.jp", "hanako at example.jp"});
    app.edit("Edt_Subject")->setText(QStringLiteral("会議"));
    tessaly::TTSY_PreviewF* preview = openPreview(app);
    ASSERT_NE(preview, nullptr);
    auto* refusal = preview->findChild<QLabel*>(QStringLiteral("Label_Refusal"));
    EXPECT_EQ(refusal->text(),
              QStringLiteral("次の宛先はメールアドレスとして正しくないため、送信を始めませんでした。"
                             "直すか宛先一覧から削除してから、もう一度送信してください。\r\n"
                             "・2件目（宛先一覧）：hanako at example.jp　… 空白があります"));
}

// A message that goes out in UTF-8 (Base64 body, UTF-8 encoded words) reads as typed.
TEST(Preview, ReadsAUtf8MessageAsTyped) {
    App app(TestIni({{QStringLiteral("From"), QStringLiteral("yamada@example.jp")},
                     {QStringLiteral("UserMei"), QStringLiteral("髙橋")}})
                .submission(QStringLiteral("Charset"), QStringLiteral("1")));
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    app.edit("Edt_Subject")->setText(QStringLiteral("﨑さんの件"));
    app.setBody(QStringLiteral("一行目\n\n三行目"));
    tessaly::TTSY_PreviewF* preview = openPreview(app);
    ASSERT_NE(preview, nullptr);
    const QStringList lines = shownLines(*preview);
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], QStringLiteral("From: 髙橋 <yamada@example.jp>"));
    EXPECT_EQ(lines[2], QStringLiteral("Subject: 﨑さんの件"));
    EXPECT_EQ(lines.mid(4), (QStringList{QString(), QStringLiteral("一行目"), QString(),
                                         QStringLiteral("三行目")}));
    EXPECT_TRUE(preview->findChild<QPlainTextEdit*>(QStringLiteral("Memo_Source"))
                    ->toPlainText()
                    .contains(QStringLiteral("Content-Transfer-Encoding: base64")));
}

// A test send is a run of one message: the stop button ends it while the server keeps silent.
TEST(TestSend, StopEndsItWhileConnecting) {
    tessaly::test::SmtpScriptedServer server;
    server.hang();
    App app({{QStringLiteral("Host"), QStringLiteral("127.0.0.1")},
             {QStringLiteral("Port"), QString::number(server.port())},
             {QStringLiteral("From"), QStringLiteral("me@tessaly.test")}});
    app.typeRecipient(QStringLiteral("taro@example.jp"));
    app.edit("Edt_Subject")->setText(QStringLiteral("件名"));
    bool busyButtons = false;
    QTimer::singleShot(200, app.tool("TB_Stop"), [&] {
        busyButtons = !app.tool("TB_Send")->isEnabled() && !app.tool("TB_Clear")->isEnabled();
        app.tool("TB_Stop")->click();
    });
    QElapsedTimer clock;
    clock.start();
    app.tool("TB_Send")->menu()->findChild<QAction*>(QStringLiteral("Act_TestSend"))->trigger();
    EXPECT_LT(clock.elapsed(), 10000); // the time-out is 30 s
    EXPECT_TRUE(busyButtons);
    EXPECT_TRUE(app.dialogs.texts().isEmpty()) << app.dialogs.lastText().toStdString();
    EXPECT_EQ(app.main().statusText(), QStringLiteral("接続を中止しました"));
    EXPECT_TRUE(app.tool("TB_Send")->isEnabled());
    EXPECT_FALSE(app.tool("TB_Stop")->isEnabled());
}

} // namespace
