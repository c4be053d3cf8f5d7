// Draws windows of the program into PNG files for the documentation (scripts/screenshots.sh runs
// it under Xvfb):
//   app_screenshot OUTPUT_DIR WINDOW...      e.g.  app_screenshot docs main_window settings_window
// It runs the whole program on sample data in a folder of its own, opening every window the way
// a user does (toolbar buttons, typed names, clicks); nothing of the user's is touched. A message
// box that would appear is printed and fails the run instead of waiting for a click.
// A new window is one more entry in kShots below and one more line in scripts/screenshots.sh.
#include "address/address_window.h"
#include "app/attachment_window.h"
#include "app/desktop_start.h"
#include "app/hit_list_window.h"
#include "app/main_window.h"
#include "app/merge_table_window.h"
#include "app/preview_window.h"
#include "app/program.h"
#include "app/refused_window.h"
#include "common/guide_window.h"
#include "common/japanese_application.h"
#include "common/qt_dialogs.h"
#include "common/secret_store.h"
#include "common/text.h"
#include "log/log_window.h"
#include "sending/run_checks.h"
#include "sending/run_failure.h"
#include "sending/run_journal.h"
#include "sending/run_prompts.h"
#include "settings/settings_window.h"
#include "tests/fixtures/reporting_dialogs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <functional>
#include <map>

namespace {

// The sample user's home, as on a user's machine: scripts/screenshots.sh runs the tool with a
// private, empty /home of its own, so that the pictures show no path of the machine that drew
// them and read the same on every run.
const QString kHome = QStringLiteral("/home/yamada");
const QString kDataFolder = kHome + QStringLiteral("/.local/share/tessaly");

void writeSjis(const QString& name, const QString& text) {
    QFile file(kDataFolder + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(tessaly::toSjisBytes(text, QString())) < 0)
        std::fprintf(stderr, "cannot write %s\n", name.toUtf8().constData());
}

bool prepareSampleFiles() {
    QDir(kHome).removeRecursively();
    if (!QDir().mkpath(kDataFolder)) {
        std::fprintf(stderr, "cannot make %s (run through scripts/screenshots.sh)\n",
                     kDataFolder.toUtf8().constData());
        return false;
    }
    const QString d = kDataFolder;
    writeSjis(QStringLiteral("TSY2.ini"),
              QStringLiteral("[Settei]\r\nHost=smtp.example.jp\r\nPort=587\r\nUser=yamada\r\n"
                             "From=yamada@example.jp\r\nReply=yamada@example.jp\r\nUserMei=山田太郎\r\n"
                             "Syomei=%1/署名.txt\r\nChkBox_Syomei=1\r\nChkBox_Atesaki=1\r\nKeisyou=様\r\n"
                             "ChkBox_EverySend=1\r\nEverySend=yamada@example.jp\r\n"
                             "Address=%1/Address.csv\r\nChkBox_Log=1\r\nLog=%1/Log.txt\r\n"
                             "ChkBox_SendData=1\r\nSendData=%1/SendData.txt\r\n"
                             "[Window]\r\nMain_X=40\r\nMain_Y=40\r\nSettei_X=60\r\nSettei_Y=60\r\n"
                             "Address_X=60\r\nAddress_Y=60\r\n"
                             "[Submission]\r\nSecurity=1\r\nAuth=1\r\nLogin=yamada@example.jp\r\n"
                             "SavePassword=1\r\nTrustedCerts=\r\nCharset=1\r\n")
                  .arg(d));
    writeSjis(QStringLiteral("署名.txt"),
              QStringLiteral("総務部　山田太郎\r\n内線 1234　yamada@example.jp\r\n"));
    writeSjis(QStringLiteral("Address.csv"),
              QStringLiteral("\"&DUMMY&\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"総務部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"総務部\",\"山田課\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"総務部\",\"山田課\",\"山田 花子\",\"hanako@example.jp\",\"0\"\r\n"
                             "\"総務部\",\"山田課\",\"佐藤 一郎\",\"ichiro@example.jp\",\"0\"\r\n"
                             "\"総務部\",\"山田課\",\"鈴木 次郎\",\"suzuki@example.jp\",\"1\"\r\n"
                             "\"総務部\",\"受付\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"総務部\",\"受付\",\"山本 由美\",\"yumi@example.jp\",\"0\"\r\n"
                             "\"営業部\",\"&DUMMY&\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"営業部\",\"第一課\",\"&DUMMY&\",\"\",\"1\"\r\n"
                             "\"営業部\",\"第一課\",\"高山 三郎\",\"takayama@example.jp\",\"0\"\r\n"));
    QString log;
    const QString names[] = {QStringLiteral("山田 花子"), QStringLiteral("佐藤 一郎"),
                             QStringLiteral("suzuki"), QStringLiteral("山本 由美")};
    for (int i = 0; i < 4; ++i)
        log += QStringLiteral("\"20261201 0930%1\",\"12月の定例会議のご案内\",\"%2\"\r\n").arg(10 + i).arg(names[i]);
    for (int i = 0; i < 2; ++i)
        log += QStringLiteral("\"20261203 1415%1\",\"年末年始の休業について\",\"%2\"\r\n").arg(20 + i).arg(names[i]);
    writeSjis(QStringLiteral("Log.txt"), log);
    writeSjis(QStringLiteral("SendData.txt"), QString());
    return true;
}

void settle();

// The program's dialogs, which fail the run on any box; but for the pictures of boxes, the real
// box is shown and drawn (and answered as Cancel or OK would).
class DrawingDialogs : public ReportingDialogs {
public:
    QPixmap drawn;
    bool drawNext = false;
    bool agree = false; // while set, yes/no questions are answered yes, as the user would

    bool askYesNo(QWidget* parent, const QString& title, const QString& text) override {
        if (agree)
            return true;
        return ReportingDialogs::askYesNo(parent, title, text);
    }

    void notice(QWidget* parent, const QString& text, const QString& nextStep) override {
        if (!take())
            return ReportingDialogs::notice(parent, text, nextStep);
        real_.notice(parent, text, nextStep);
    }
    QString openFile(QWidget* parent, const tessaly::FileDialogOptions& options) override {
        if (!take())
            return ReportingDialogs::openFile(parent, options);
        return real_.openFile(parent, options);
    }
    std::optional<QString> askPassword(QWidget* parent, const QString& title,
                                       const QString& text) override {
        if (!take())
            return ReportingDialogs::askPassword(parent, title, text);
        return real_.askPassword(parent, title, text);
    }
    void error(QWidget* parent, const QString& text) override {
        if (!take())
            return ReportingDialogs::error(parent, text);
        real_.error(parent, text);
    }
    bool askYesNoDefaultNo(QWidget* parent, const QString& title, const QString& text) override {
        if (!take())
            return ReportingDialogs::askYesNoDefaultNo(parent, title, text);
        return real_.askYesNoDefaultNo(parent, title, text);
    }
    tessaly::Choice askYesNoCancel(QWidget* parent, const QString& title,
                                   const QString& text) override {
        if (!take())
            return ReportingDialogs::askYesNoCancel(parent, title, text);
        return real_.askYesNoCancel(parent, title, text);
    }

private:
    // Draws the box once it has come up and settled, then closes it.
    bool take() {
        if (!drawNext)
            return false;
        drawNext = false;
        QTimer::singleShot(300, qApp, [this] {
            if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                drawn = box->window()->grab();
                box->reject();
            }
        });
        return true;
    }
    tessaly::QtDialogs real_{QStringLiteral("Tessaly 2.7S")};
};

DrawingDialogs* gDialogs = nullptr;

// A picture drawn outside a window of the program (an open menu, a box), shown in a window of
// its own so that it is saved as every other.
QWidget* showPicture(QWidget& owner, const QPixmap& picture) {
    auto* shown = new QLabel(&owner, Qt::Window);
    shown->setObjectName(QStringLiteral("Picture"));
    shown->setAttribute(Qt::WA_DeleteOnClose);
    shown->setPixmap(picture);
    shown->setFixedSize(picture.deviceIndependentSize().toSize());
    shown->show();
    return shown;
}

// The box `open` brings up, drawn.
QWidget* drawBox(QWidget& owner, const std::function<void()>& open) {
    gDialogs->drawn = QPixmap();
    gDialogs->drawNext = true;
    open();
    settle();
    if (gDialogs->drawn.isNull())
        return nullptr;
    return showPicture(owner, gDialogs->drawn);
}

void settle() {
    for (int i = 0; i < 20; ++i) {
        QApplication::processEvents();
        QTest::qWait(5);
    }
}

template <class T> T* child(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found)
        std::fprintf(stderr, "no control %s\n", name);
    return found;
}

void click(QWidget& window, const char* name) {
    if (auto* button = child<QAbstractButton>(window, name))
        button->click();
    settle();
}

void writeMail(TTSY_MainF& main) {
    main.addRecipients({tessaly::toSjis(QStringLiteral("山田 花子 <hanako@example.jp>"), QString()),
                        tessaly::toSjis(QStringLiteral("佐藤 一郎 <ichiro@example.jp>"), QString()),
                        "suzuki@example.jp"});
    child<QLineEdit>(main, "Edt_Subject")->setText(QStringLiteral("【ご案内】年末の大掃除について"));
    auto* body = child<QPlainTextEdit>(main, "Memo_Sjis");
    body->moveCursor(QTextCursor::Start);
    body->insertPlainText(QStringLiteral(
        "総務部の山田です。\n\n今年も年末の大掃除を下記のとおり行います。\n"
        "ご協力をお願いいたします。\n\n　日時：１２月２８日（月）１３時～\n"
        "　場所：各フロア\n\n以上"));
    settle();
}

void openMemberPage(TTSY_AddressF& address, const QString& group, const QString& member) {
    auto* groups = child<QComboBox>(address, "Cmb_AG");
    groups->setCurrentIndex(groups->findText(group));
    settle();
    auto* members = child<QListView>(address, "Lst_AM");
    const QModelIndexList found = members->model()->match(members->model()->index(0, 0),
                                                           Qt::DisplayRole, member, 1, Qt::MatchExactly);
    if (!found.isEmpty())
        QTest::mouseClick(members->viewport(), Qt::LeftButton, {},
                          members->visualRect(found.first()).center());
    settle();
    click(address, "Cmd_Settei");
}

// The preview of the circular, opened from TB_Send's menu, on the tab `tab`.
QWidget* openPreview(tessaly::Program& p, int tab) {
    click(p.mainWindow(), "TB_Clear"); // one circular, whichever pictures came before
    writeMail(p.mainWindow());
    auto* menu = child<QToolButton>(p.mainWindow(), "TB_Send")->menu();
    menu->findChild<QAction*>(QStringLiteral("Act_Preview"))->trigger();
    settle();
    auto* preview = child<tessaly::TTSY_PreviewF>(p.mainWindow(), "TTSY_PreviewF");
    if (!preview)
        return nullptr;
    child<QListWidget>(*preview, "List_Preview")->setCurrentRow(1);
    child<QTabWidget>(*preview, "Tab_Preview")->setCurrentIndex(tab);
    settle();
    return preview;
}

// The one box of a run that stopped at `step` after `sent` messages.
QWidget* failureBox(tessaly::Program& p, tessaly::FailedStep step, std::size_t sent, bool temporary,
                    const QString& eventText, const QString& detail) {
    const tessaly::RunFailure failure(tessaly::RunFailureLead(step, sent, temporary), detail);
    return drawBox(p.mainWindow(), [&] { gDialogs->error(&p.mainWindow(), failure.boxText(eventText)); });
}

// A run of 11 recipients (the last added after the stop) that stopped at the 5th, whose "."
// had gone out; the first four were accepted.
tessaly::JournalState stoppedRun() {
    tessaly::JournalState run;
    run.present = true;
    run.recipients.resize(11);
    for (int i = 0; i < 4; ++i)
        run.recipients[static_cast<std::size_t>(i)].outcome = tessaly::JournalOutcome::Accepted;
    run.recipients[4].outcome = tessaly::JournalOutcome::InFlight;
    run.recipients[4].entrySjis =
        tessaly::toSjis(QStringLiteral("鈴木 次郎 <jiro@example.jp>"), QString());
    run.addedCount = 1;
    run.carriedStop = 4;
    return run;
}

// The circular with three files from the sample user's documents attached, one of them under a
// Japanese name; file contents only as far as the type and the size shown need them.
void attachFiles(tessaly::Program& p) {
    click(p.mainWindow(), "TB_Clear");
    writeMail(p.mainWindow());
    const QString folder = kHome + QStringLiteral("/ドキュメント");
    QDir().mkpath(folder);
    const struct {
        QString name;
        QByteArray start;
        int size;
    } files[] = {{QStringLiteral("会議資料（第3回）.pdf"), QByteArrayLiteral("%PDF-1.4\n"), 1'234'567},
                 {QStringLiteral("attendees-2026-12.xlsx"), QByteArrayLiteral("PK\x03\x04"), 18'230},
                 {QStringLiteral("floor-map.png"), QByteArrayLiteral("\x89PNG\r\n\x1a\n"), 245'120}};
    QStringList paths;
    for (const auto& f : files) {
        QFile file(folder + QLatin1Char('/') + f.name);
        QByteArray bytes = f.start;
        bytes.resize(f.size, '\0');
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != f.size)
            std::fprintf(stderr, "cannot write %s\n", f.name.toUtf8().constData());
        paths << file.fileName();
    }
    p.mainWindow().attachWindow().addPaths(paths);
    settle();
}

// The table's window, a window of its own.
TTSY_MergeF* mergeWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* merge = qobject_cast<TTSY_MergeF*>(w))
            return merge;
    return nullptr;
}

// A table of the sample user's, written as Excel saves a CSV (UTF-8 with its mark), opened from
// TB_Send's menu as the user does: the table's window comes up.
TTSY_MergeF* openTable(tessaly::Program& p, const QString& name, const QString& rows) {
    click(p.mainWindow(), "TB_Clear");
    const QString folder = kHome + QStringLiteral("/ドキュメント");
    QDir().mkpath(folder);
    QFile file(folder + QLatin1Char('/') + name);
    const QByteArray bytes = QByteArray("\xEF\xBB\xBF") +
                             (QStringLiteral("氏名,メールアドレス,会社名,金額,CC\r\n") + rows).toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s\n", name.toUtf8().constData());
    file.close();
    gDialogs->openFileAnswer = file.fileName();
    child<QToolButton>(p.mainWindow(), "TB_Send")->menu()->findChild<QAction*>(QStringLiteral("Act_MergeOpen"))->trigger();
    settle();
    return mergeWindow();
}

using Shot = std::function<QWidget*(tessaly::Program&)>;

// Each entry opens one window as a user would and gives it back to be drawn; the next entry
// starts from the main window again.
const std::map<std::string, Shot> kShots = {
    {"main_window",
     [](tessaly::Program& p) -> QWidget* {
         writeMail(p.mainWindow());
         return &p.mainWindow();
     }},
    {"settings_window",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Settei");
         return &p.settingsWindow();
     }},
    {"server_details_window",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Settei");
         click(p.settingsWindow(), "Cmd_ServerSyousai");
         return child<QWidget>(p.settingsWindow(), "TTSY_ServerSyousaiF");
     }},
    {"server_details_oauth",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Settei");
         click(p.settingsWindow(), "Cmd_ServerSyousai");
         auto* details = child<QWidget>(p.settingsWindow(), "TTSY_ServerSyousaiF");
         if (!details)
             return nullptr;
         child<QCheckBox>(*details, "ChkBox_Auth")->setChecked(true);
         // OAuth and each provider propose the provider's server; the user takes it.
         gDialogs->agree = true;
         child<QComboBox>(*details, "Cmb_AuthKind")->setCurrentIndex(1);
         child<QComboBox>(*details, "Cmb_OAuthProvider")->setCurrentIndex(1);
         child<QComboBox>(*details, "Cmb_OAuthProvider")->setCurrentIndex(0);
         gDialogs->agree = false;
         child<QLineEdit>(*details, "Edt_Login")->setText(QStringLiteral("taro@example.jp"));
         child<QLineEdit>(*details, "Edt_OAuthClientId")
             ->setText(QStringLiteral("your-organisation-client-id"));
         settle();
         return details;
     }},
    {"address_start",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Address");
         return &p.addressWindow();
     }},
    {"address_groups",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Address");
         openMemberPage(p.addressWindow(), QStringLiteral("総務部"), QStringLiteral("山田課"));
         child<QTabWidget>(p.addressWindow(), "PageControl1")->setCurrentIndex(0);
         settle();
         return &p.addressWindow();
     }},
    {"address_window",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Address");
         TTSY_AddressF& address = p.addressWindow();
         openMemberPage(address, QStringLiteral("総務部"), QStringLiteral("山田課"));
         child<QTabWidget>(address, "PageControl1")->setCurrentIndex(1);
         settle();
         auto* grid = child<QTableView>(address, "Grd_Adrs");
         QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                           grid->visualRect(grid->model()->index(1, 0)).center());
         settle();
         return &address;
     }},
    {"hit_list",
     [](tessaly::Program& p) -> QWidget* {
         auto* to = child<QLineEdit>(p.mainWindow(), "Edt_To");
         to->setFocus();
         to->setText(QStringLiteral("山"));
         QTest::keyClick(to, Qt::Key_Return);
         settle();
         return &p.hitListWindow();
     }},
    {"preview_window", [](tessaly::Program& p) { return openPreview(p, 0); }},
    {"preview_source", [](tessaly::Program& p) { return openPreview(p, 1); }},
    {"send_menu",
     [](tessaly::Program& p) -> QWidget* {
         // The open menu is a window of its own: drawn onto the main window where it opens.
         click(p.mainWindow(), "TB_Clear");
         writeMail(p.mainWindow());
         auto* button = child<QToolButton>(p.mainWindow(), "TB_Send");
         QMenu* menu = button->menu();
         menu->popup(button->mapToGlobal(QPoint(0, button->height())));
         settle();
         QPixmap picture = p.mainWindow().grab();
         QPainter(&picture).drawPixmap(button->mapTo(&p.mainWindow(), QPoint(0, button->height())),
                                       menu->grab());
         menu->hide();
         return showPicture(p.mainWindow(), picture);
     }},
    {"attachment_window",
     [](tessaly::Program& p) -> QWidget* {
         attachFiles(p);
         auto* menu = child<QToolButton>(p.mainWindow(), "TB_Send")->menu();
         menu->findChild<QAction*>(QStringLiteral("Act_Attach"))->trigger();
         settle();
         return &p.mainWindow().attachWindow();
     }},
    {"attachment_status",
     [](tessaly::Program& p) -> QWidget* {
         attachFiles(p);
         return &p.mainWindow();
     }},
    {"first_start_box",
     [](tessaly::Program& p) -> QWidget* {
         // The box of a first start: Cancel in the settings window reads a TSY2.ini that is gone.
         QFile::rename(kDataFolder + QStringLiteral("/TSY2.ini"), kDataFolder + QStringLiteral("/TSY2.ini.kept"));
         click(p.mainWindow(), "TB_Settei");
         QWidget* box = drawBox(p.mainWindow(), [&] { p.settingsWindow().Cmd_SetteiCancelClick(); });
         QFile::rename(kDataFolder + QStringLiteral("/TSY2.ini.kept"), kDataFolder + QStringLiteral("/TSY2.ini"));
         p.settingsWindow().Cmd_SetteiCancelClick(); // the sample settings again
         return box;
     }},
    {"file_dialog",
     [](tessaly::Program& p) -> QWidget* {
         return drawBox(p.mainWindow(), [&] { click(p.mainWindow(), "Cmd_To"); });
     }},
    {"password_prompt",
     [](tessaly::Program& p) -> QWidget* {
         // As a send asks when the password is not kept.
         return drawBox(p.mainWindow(), [&] {
             gDialogs->askPassword(&p.mainWindow(), QStringLiteral("SMTP 認証"),
                                   QStringLiteral("送信サーバー smtp.example.jp:587 にログインするパスワードを入力してください。\r\n"
                                                  "ログイン名：yamada@example.jp"));
         });
     }},
    // The boxes of runs that failed, each with the texts the run composes for it.
    {"error_connect_box", [](tessaly::Program& p) {
         return failureBox(p, tessaly::FailedStep::Connect, 0, false, QStringLiteral("ホスト接続に失敗しました。"),
                           QStringLiteral("Connection Failed"));
     }},
    {"error_login_box", [](tessaly::Program& p) {
         return failureBox(p, tessaly::FailedStep::Login, 0, false, {},
                           QStringLiteral("認証: サーバーがログインを断りました。ログイン名とパスワードを確かめてください。\n"
                                          "535 5.7.8 Authentication credentials invalid\r\n"
                                          "次に送信するときに、パスワードをもう一度お尋ねします。"));
     }},
    {"error_recipient_box", [](tessaly::Program& p) {
         return failureBox(p, tessaly::FailedStep::Recipient, 3, false, {},
                           QStringLiteral("宛先 佐藤 一郎 <ichiro@exmaple.jp> はサーバーに受け付けられませんでした"
                                          "（550 5.1.1 User unknown）。アドレスを確かめてください。"));
     }},
    {"error_body_box", [](tessaly::Program& p) {
         return failureBox(p, tessaly::FailedStep::Body, 3, false, QStringLiteral("メール送信中にエラーが発生しました。"),
                           QStringLiteral("554 5.7.1 Message rejected as spam"));
     }},
    {"error_temporary_box", [](tessaly::Program& p) {
         return failureBox(p, tessaly::FailedStep::Sender, 12, true, {},
                           QStringLiteral("サーバーが接続を切りました。\r\n421 4.7.0 Too many messages, try again later"));
     }},
    {"error_addresses_box",
     [](tessaly::Program& p) -> QWidget* {
         const QString field = QStringLiteral("宛先");
         const std::vector<std::string> entries = {
             tessaly::toSjis(QStringLiteral("山田 花子 <hanako@example.jp>"), field), "ichiro @example.jp",
             tessaly::toSjis(QStringLiteral("鈴木 次郎 <suzuki@example.jp> NOTIFY=SUCCESS"), field),
             "yumi@example"};
         const QString sources[] = {QStringLiteral("アドレス帳"), QStringLiteral("手入力"),
                                    QStringLiteral("ファイル 宛先.txt"), QStringLiteral("アドレス帳")};
         const QString text = tessaly::RecipientsRefusal(entries, [&](std::size_t i) { return sources[i]; });
         return drawBox(p.mainWindow(), [&] { gDialogs->error(&p.mainWindow(), text); });
     }},
    {"confirm_send_box",
     [](tessaly::Program& p) -> QWidget* {
         return drawBox(p.mainWindow(), [&] {
             gDialogs->askYesNoDefaultNo(&p.mainWindow(), QStringLiteral("送信の確認"),
                                         tessaly::SendConfirmQuestionText(24, "smtp.example.jp", 587, {}));
        });
    }},
    // The questions of a send after a stopped run: 4 of 10 accepted, the 5th in flight, and
    // one recipient added since.
    {"resume_question",
     [](tessaly::Program& p) -> QWidget* {
         return drawBox(p.mainWindow(), [&] {
             gDialogs->askYesNoCancel(&p.mainWindow(), QStringLiteral("送信の再開"),
                                      tessaly::ResumeQuestionText(stoppedRun()));
         });
     }},
    {"inflight_question",
     [](tessaly::Program& p) -> QWidget* {
         return drawBox(p.mainWindow(), [&] {
             gDialogs->askYesNoDefaultNo(&p.mainWindow(), QStringLiteral("送信の再開"),
                                         tessaly::InFlightQuestionText(stoppedRun()));
         });
     }},
    {"send_all_again_question",
     [](tessaly::Program& p) -> QWidget* {
         return drawBox(p.mainWindow(), [&] {
             gDialogs->askYesNoDefaultNo(&p.mainWindow(), QStringLiteral("送信の再開"),
                                         tessaly::SendAllAgainQuestionText(4));
         });
     }},
    {"guide_window",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Settei");
         QTest::keyClick(&p.settingsWindow(), Qt::Key_F1);
         settle();
         QWidget* guide = nullptr;
         for (QWidget* w : QApplication::topLevelWidgets())
             if (qobject_cast<tessaly::GuideWindow*>(w) && w->isVisible())
                 guide = w;
         return guide;
     }},
    {"refused_window",
     [](tessaly::Program& p) -> QWidget* {
         // What a run that skipped refused recipients shows at its end.
         auto* window = new TTSY_RefusedF(&p.mainWindow()); // a window of its own: no parent
         window->setAttribute(Qt::WA_DeleteOnClose);
         const QString field = QStringLiteral("宛先");
         window->showRefused(
             {{tessaly::toSjis(QStringLiteral("佐藤 一郎 <ichiro@exmaple.jp>"), field),
               "550 5.1.1 <ichiro@exmaple.jp>: Recipient address rejected: User unknown"},
              {tessaly::toSjis(QStringLiteral("suzuki@example,jp"), field),
               "501-5.1.3 Bad recipient address syntax\r\n501 5.1.3 See the help page of your provider"}});
         settle();
         return window;
     }},
    {"merge_table_window",
     [](tessaly::Program& p) -> QWidget* {
         // One address empty, one that an earlier row has: both listed as rows that cannot be sent.
         return openTable(p, QStringLiteral("会費名簿.csv"),
                          QStringLiteral("山田 花子,hanako@example.jp,株式会社東西商事,\"12,300\",\r\n"
                                         "佐藤 一郎,ichiro@example.jp,有限会社南北物産,\"8,500\",bucho@example.jp\r\n"
                                         "鈴木 次郎,,合同会社青葉企画,\"4,200\",\r\n"
                                         "高山 三郎,takayama@example.jp,株式会社みなと製作所,\"15,000\",\r\n"
                                         "山本 由美,hanako@example.jp,一般社団法人さくら会,\"3,000\",\r\n"));
     }},
    {"merge_preview",
     [](tessaly::Program& p) -> QWidget* {
         TTSY_MergeF* table = openTable(
             p, QStringLiteral("会費名簿（12月）.csv"),
             QStringLiteral("山田 花子,hanako@example.jp,株式会社東西商事,\"12,300\",\r\n"
                            "佐藤 一郎,ichiro@example.jp,有限会社南北物産,\"8,500\",bucho@example.jp\r\n"
                            "高山 三郎,takayama@example.jp,株式会社みなと製作所,\"15,000\",\r\n"));
         if (!table)
             return nullptr;
         click(*table, "Cmd_OK");
         TTSY_MainF& main = p.mainWindow();
         child<QLineEdit>(main, "Edt_Subject")->setText(QStringLiteral("【{{会社名}}】12月分の会費のお知らせ"));
         auto* body = child<QPlainTextEdit>(main, "Memo_Sjis");
         body->moveCursor(QTextCursor::Start);
         body->insertPlainText(QStringLiteral("{{会社名}}\n\n総務部の山田です。\n12月分の会費は {{金額}} 円です。\n"
                                              "月末までにお納めください。\n\n以上"));
         settle();
         child<QToolButton>(main, "TB_Send")->menu()->findChild<QAction*>(QStringLiteral("Act_Preview"))->trigger();
         settle();
         auto* preview = child<tessaly::TTSY_PreviewF>(main, "TTSY_PreviewF");
         if (!preview)
             return nullptr;
         child<QListWidget>(*preview, "List_Preview")->setCurrentRow(1);
         settle();
         return preview;
     }},
    {"log_viewer",
     [](tessaly::Program& p) -> QWidget* {
         click(p.mainWindow(), "TB_Log_Disp");
         auto* titles = child<QListView>(p.logWindow(), "Lst_Log_Title");
         titles->setCurrentIndex(titles->model()->index(0, 0));
         settle();
         return &p.logWindow();
     }},
};

// Back to the main window alone, as after closing every other window.
void closeOthers(tessaly::Program& p) {
    if (auto* details = p.settingsWindow().findChild<QWidget*>(QStringLiteral("TTSY_ServerSyousaiF")))
        details->close();
    for (QWidget* w : {static_cast<QWidget*>(&p.settingsWindow()), static_cast<QWidget*>(&p.addressWindow()),
                       static_cast<QWidget*>(&p.hitListWindow()), static_cast<QWidget*>(&p.logWindow())})
        w->close();
    // The files belong to the circular of those pictures alone.
    p.mainWindow().attachWindow().close();
    p.mainWindow().attachWindow().clear();
    p.mainWindow().setEnabled(true);
    if (auto* preview = p.mainWindow().findChild<tessaly::TTSY_PreviewF*>())
        preview->close();
    if (auto* picture = p.mainWindow().findChild<QLabel*>(QStringLiteral("Picture")))
        picture->close();
    // The recipients list again, as after 差し込みをやめる.
    if (TTSY_MergeF* table = mergeWindow(); table && table->loaded())
        click(*table, "Cmd_CloseTable");
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<tessaly::GuideWindow*>(w))
            w->close();
    settle();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tessaly::setUpJapanese(app);
    QApplication::setWindowIcon(tessaly::applicationIcon());
    if (argc < 3) {
        std::fprintf(stderr, "usage: app_screenshot OUTPUT_DIR WINDOW...\nwindows:");
        for (const auto& [name, shot] : kShots)
            std::fprintf(stderr, " %s", name.c_str());
        std::fprintf(stderr, "\n");
        return 2;
    }
    const QString output = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    // At 200 % the pictures are the sharper twins of those at 100 %, as Qt names them.
    const QString suffix = qEnvironmentVariable("TESSALY_SCREENSHOT_SUFFIX");
    if (!prepareSampleFiles())
        return 1;
    QDir::setCurrent(kDataFolder);

    // Any message box is a fault of the sample data: it is printed and fails the run.
    DrawingDialogs dialogs;
    gDialogs = &dialogs;
    int status = 0;
    {
        tessaly::NoSecretStore keyring; // drawing a window needs no password
        tessaly::Program program(dialogs, keyring);
        program.start();
        settle();
        for (int i = 2; i < argc; ++i) {
            const auto shot = kShots.find(argv[i]);
            if (shot == kShots.end()) {
                std::fprintf(stderr, "no window named %s\n", argv[i]);
                status = 2;
                continue;
            }
            QWidget* window = shot->second(program);
            settle();
            const QString file = output + QLatin1Char('/') + QString::fromLatin1(argv[i]) + suffix +
                                 QStringLiteral(".png");
            if (!window || !window->isVisible() || !window->grab().save(file)) {
                std::fprintf(stderr, "cannot draw %s into %s\n", argv[i], file.toUtf8().constData());
                status = 1;
            } else {
                std::printf("%s\n", file.toUtf8().constData());
            }
            closeOthers(program);
        }
    }
    QDir(kHome).removeRecursively();
    return dialogs.prompts != 0 ? 1 : status;
}
