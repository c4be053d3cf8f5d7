#include "settings/server_details_window.h"
#include "settings/settings_window.h"
#include "settings/smtp_passwords.h"
#include "common/window_fit.h"

#include "fixtures/fake_dialogs.h"
#include "fixtures/fake_secret_store.h"
#include "fixtures/temp_start_dir.h"

#include <QCheckBox>
#include <QSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString kTitle = QStringLiteral("送信サーバーの詳細");

// The settings window as the program wires it, with the keyring replaced.
class ServerDetailsTest : public ::testing::Test {
protected:
    ServerDetailsTest() : start_(dir_.path().toStdString()), passwords_(keyring_) {
        dir_.write(QStringLiteral("TSY2.ini"), "[Settei]\r\nHost=Mail.Example.JP\r\nPort=25\r\n");
        settei_ = std::make_unique<TTSY_SetteiF>(dialogs_, settings_, start_, &main_);
        settei_->setPasswords(&passwords_);
        Settings_Load(settings_, start_, dialogs_, *settei_, &main_, nullptr);
        main_.setEnabled(false);
        settei_->show();
    }

    TTSY_ServerSyousaiF* details() {
        return settei_->findChild<TTSY_ServerSyousaiF*>(QStringLiteral("TTSY_ServerSyousaiF"));
    }
    template <typename T> T* in(QWidget* w, const char* name) {
        T* found = w->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* port() { return in<QLineEdit>(settei_.get(), "Edt_Port"); }
    void openDetails() {
        in<QPushButton>(settei_.get(), "Cmd_ServerSyousai")->click();
        ASSERT_TRUE(details()->isVisible());
    }
    void choose(const char* combo, int index) {
        in<QComboBox>(details(), combo)->setCurrentIndex(index);
    }
    void ok() { in<QPushButton>(details(), "Cmd_OK")->click(); }
    QByteArray ini() const { return dir_.read(QStringLiteral("TSY2.ini")); }

    TempStartDir dir_;
    FakeDialogs dialogs_;
    FakeSecretStore keyring_;
    Settings settings_;
    QWidget main_;
    std::string start_;
    tessaly::SmtpPasswords passwords_;
    std::unique_ptr<TTSY_SetteiF> settei_;
};

TEST_F(ServerDetailsTest, TheButtonSitsInFreeRoomBesideTheHost) {
    QPushButton* button = in<QPushButton>(settei_.get(), "Cmd_ServerSyousai");
    EXPECT_EQ(button->text(), QStringLiteral("送信サーバーの詳細..."));
    EXPECT_TRUE(settei_->rect().contains(button->geometry()));
    EXPECT_GE(button->sizeHint().width(), 0);
    EXPECT_LE(button->sizeHint().width(), button->width()) << "caption cut";
    for (QWidget* other : button->parentWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == button || other->isWindow())
            continue;
        EXPECT_FALSE(button->geometry().intersects(other->geometry()))
            << other->objectName().toStdString();
    }
}

// On a screen too small for it, the window takes what the screen has and scrolls, with OK and
// キャンセル always in view below the scrolling part; the settings window, which fits, keeps
// its size and its buttons their places.
TEST_F(ServerDetailsTest, ScrollsWhereTheScreenIsTooSmallWithTheButtonsInView) {
    openDetails();
    // As on a 1920 x 1080 screen at 200 %, with room for a title bar.
    auto* fitted = details()->findChild<tessaly::FittedPage*>();
    ASSERT_NE(fitted, nullptr);
    ASSERT_TRUE(fitted->fitInto(QSize(960, 500)));
    EXPECT_LE(details()->height(), 500);
    auto* area = details()->findChild<QScrollArea*>();
    ASSERT_NE(area, nullptr);
    EXPECT_LT(area->viewport()->height(), 640);
    for (const char* name : {"Cmd_OK", "Cmd_Cancel"}) {
        QPushButton* button = in<QPushButton>(details(), name);
        EXPECT_TRUE(button->isVisible()) << name;
        EXPECT_TRUE(details()->rect().contains(button->geometry())) << name;
        EXPECT_GE(button->y(), area->geometry().bottom()) << name << " scrolls away";
    }
    // The last control scrolls into view.
    in<QSpinBox>(details(), "Spn_RetryTries")->setFocus();
    area->ensureWidgetVisible(in<QSpinBox>(details(), "Spn_RetryTries"));
    EXPECT_GT(area->verticalScrollBar()->value(), 0);

    EXPECT_EQ(settei_->size(), QSize(555, 433));
    EXPECT_EQ(in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->geometry(), QRect(180, 400, 85, 25));
    EXPECT_EQ(in<QPushButton>(settei_.get(), "Cmd_SetteiCancel")->geometry(), QRect(310, 400, 96, 25));
}

// Changing the protection proposes its usual port; the user may keep their own.
struct PortCase {
    const char* name;
    int from;           // protection saved before
    const char* before; // port before
    int to;             // protection chosen
    int answer;         // -1: no question expected; 0 no; 1 yes
    const char* after;
};

class PortProposal : public ServerDetailsTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(PortProposal, LandsInThePortFieldOnOkOnly) {
    const PortCase& c = GetParam();
    dir_.write(QStringLiteral("TSY2.ini"),
               QByteArray("[Settei]\r\nHost=Mail.Example.JP\r\nPort=") + c.before +
                   "\r\n[Submission]\r\nSecurity=" + QByteArray::number(c.from) + "\r\n");
    Settings_Load(settings_, start_, dialogs_, *settei_, &main_, nullptr);
    openDetails();
    if (c.answer >= 0)
        dialogs_.queueAnswer(c.answer == 1);
    choose("Cmb_Security", c.to);
    EXPECT_EQ(dialogs_.count(FakeDialogs::Kind::Question), c.answer >= 0 ? 1 : 0);
    EXPECT_EQ(port()->text(), QString::fromLatin1(c.before)) << "changed before OK";
    EXPECT_EQ(in<QLabel>(details(), "Label_Port")->text(),
              QStringLiteral("ポート番号：") + QString::fromLatin1(c.after));
    ok();
    EXPECT_FALSE(details()->isVisible());
    EXPECT_EQ(port()->text(), QString::fromLatin1(c.after));
    EXPECT_EQ(settings_.Port, c.after);
}

INSTANTIATE_TEST_SUITE_P(ServerDetails, PortProposal,
                         ::testing::Values(PortCase{"StartTlsOn25Yes", 0, "25", 1, 1, "587"},
                                           PortCase{"SslTlsOn25Yes", 0, "25", 2, 1, "465"},
                                           PortCase{"StartTlsOn25No", 0, "25", 1, 0, "25"},
                                           PortCase{"SslTlsOn587Yes", 1, "587", 2, 1, "465"},
                                           PortCase{"NoneOn465Yes", 2, "465", 0, 1, "25"},
                                           PortCase{"OwnPortKept", 0, "2525", 1, -1, "2525"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerDetailsTest, ThePortQuestionNamesBothPortsAndCancelKeepsThePort) {
    openDetails();
    dialogs_.queueAnswer(true);
    choose("Cmb_Security", 1);
    EXPECT_EQ(dialogs_.last(FakeDialogs::Kind::Question).title, kTitle);
    EXPECT_EQ(dialogs_.lastText(),
              QStringLiteral("STARTTLSでは通常、ポート番号 587 を使います。\r\n"
                             "ポート番号を 25 から 587 に変更しますか？"));
    in<QPushButton>(details(), "Cmd_Cancel")->click();
    EXPECT_FALSE(details()->isVisible());
    EXPECT_EQ(port()->text(), QStringLiteral("25"));
    EXPECT_EQ(settei_->pendingServerDetails().Security, 0);
}

// The choices reach the record and TSY2.ini with the settings window's Save, the password only
// the keyring; Cancel of the settings window brings back what was saved.
TEST_F(ServerDetailsTest, ChoicesRoundTripThroughSaveAndCancel) {
    const QByteArray before = ini();
    openDetails();
    dialogs_.queueAnswer(true);
    choose("Cmb_Security", 1);
    in<QCheckBox>(details(), "ChkBox_Auth")->setChecked(true);
    QTest::keyClicks(in<QLineEdit>(details(), "Edt_Login"), QStringLiteral("taro"));
    QLineEdit* password = in<QLineEdit>(details(), "Edt_Password");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    QTest::keyClicks(password, QStringLiteral("s3cret-"));
    password->insert(QStringLiteral("パス"));
    choose("Cmb_Charset", 1);
    ok();
    EXPECT_TRUE(password->text().isEmpty()) << "the field keeps no password";
    EXPECT_EQ(settings_.Security, 0) << "nothing reaches the record before Save";
    EXPECT_EQ(ini(), before);
    EXPECT_TRUE(keyring_.calls.empty());

    in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->click();
    EXPECT_FALSE(settei_->isVisible());
    EXPECT_EQ(settings_.Security, 1);
    EXPECT_EQ(settings_.Auth, 1);
    EXPECT_EQ(settings_.Login, "taro");
    EXPECT_EQ(settings_.Charset, 1);
    const QByteArray saved = ini();
    EXPECT_TRUE(saved.contains("[Submission]\r\nSecurity=1\r\nAuth=1\r\nLogin=taro\r\n"
                               "SavePassword=1\r\nTrustedCerts=\r\nCharset=1\r\n"))
        << saved.toStdString();
    EXPECT_TRUE(saved.contains("Port=587\r\n"));
    EXPECT_FALSE(saved.contains("s3cret"));
    const std::string key = "smtp:mail.example.jp:587:taro";
    EXPECT_EQ(keyring_.secrets[key], "s3cret-パス");
    EXPECT_EQ(passwords_.find(key, false), std::optional<std::string>("s3cret-パス"));

    // Changed and cancelled: the record and the window show what was saved.
    settei_->show();
    openDetails();
    EXPECT_EQ(in<QComboBox>(details(), "Cmb_Security")->currentIndex(), 1);
    EXPECT_EQ(in<QLineEdit>(details(), "Edt_Login")->text(), QStringLiteral("taro"));
    EXPECT_TRUE(in<QLineEdit>(details(), "Edt_Password")->text().isEmpty());
    EXPECT_TRUE(in<QLineEdit>(details(), "Edt_Login")->isEnabled());
    choose("Cmb_Charset", 2);
    in<QCheckBox>(details(), "ChkBox_Auth")->setChecked(false);
    EXPECT_FALSE(in<QLineEdit>(details(), "Edt_Login")->isEnabled());
    ok();
    in<QPushButton>(settei_.get(), "Cmd_SetteiCancel")->click();
    EXPECT_EQ(settings_.Charset, 1);
    EXPECT_EQ(settings_.Auth, 1);
    EXPECT_EQ(settei_->pendingServerDetails().Charset, 1);
    EXPECT_EQ(ini(), saved);
}

TEST_F(ServerDetailsTest, HowALongRunKeepsGoingIsSavedWithTheOtherChoices) {
    openDetails();
    EXPECT_EQ(in<QSpinBox>(details(), "Spn_PerMinute")->text(), QStringLiteral("制限なし"));
    EXPECT_EQ(in<QSpinBox>(details(), "Spn_RetryTries")->value(), 3);
    in<QCheckBox>(details(), "ChkBox_SkipRefused")->setChecked(true);
    in<QSpinBox>(details(), "Spn_PerMinute")->setValue(30);
    in<QSpinBox>(details(), "Spn_PauseEvery")->setValue(100);
    in<QSpinBox>(details(), "Spn_PauseSeconds")->setValue(300);
    in<QCheckBox>(details(), "ChkBox_Retry")->setChecked(true);
    in<QSpinBox>(details(), "Spn_RetryTries")->setValue(5);
    // Copies of every message: typed in full width they are refused at OK.
    QLineEdit* cc = in<QLineEdit>(details(), "Edt_Cc");
    cc->setText(QStringLiteral("ｂｏｓｓ@example.jp"));
    ok();
    EXPECT_EQ(dialogs_.texts(),
              QStringList{QStringLiteral("CC と BCC には半角の英数字と記号でアドレスを入力してください。")});
    EXPECT_TRUE(details()->isVisible());
    cc->setText(QStringLiteral(" boss@example.jp, kacho@example.jp "));
    in<QLineEdit>(details(), "Edt_Bcc")->setText(QStringLiteral("archive@example.jp"));
    ok();
    EXPECT_FALSE(settings_.SkipRefused) << "nothing reaches the record before Save";
    in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->click();
    EXPECT_TRUE(settings_.SkipRefused);
    EXPECT_EQ(settings_.PerMinute, 30);
    EXPECT_EQ(settings_.PauseEvery, 100);
    EXPECT_EQ(settings_.PauseSeconds, 300);
    EXPECT_TRUE(settings_.Retry);
    EXPECT_EQ(settings_.RetryTries, 5);
    EXPECT_EQ(settings_.Cc, "boss@example.jp, kacho@example.jp");
    EXPECT_TRUE(ini().endsWith("Charset=0\r\nSkipRefused=1\r\nPerMinute=30\r\nPauseEvery=100\r\n"
                               "PauseSeconds=300\r\nRetry=1\r\nRetryTries=5\r\n"
                               "Cc=boss@example.jp, kacho@example.jp\r\nBcc=archive@example.jp\r\n"))
        << ini().toStdString();

    settei_->show();
    openDetails();
    EXPECT_TRUE(in<QCheckBox>(details(), "ChkBox_SkipRefused")->isChecked());
    EXPECT_EQ(in<QSpinBox>(details(), "Spn_PauseSeconds")->value(), 300);
    EXPECT_EQ(in<QLineEdit>(details(), "Edt_Bcc")->text(), QStringLiteral("archive@example.jp"));
}

// A certificate trusted during a send (stored in the record, after the settings were loaded)
// can be forgotten; it goes from TSY2.ini with Save.
TEST_F(ServerDetailsTest, TrustedCertificatesCanBeForgotten) {
    openDetails();
    EXPECT_FALSE(in<QPushButton>(details(), "Cmd_ClearTrust")->isEnabled());
    in<QPushButton>(details(), "Cmd_Cancel")->click();

    tessaly::setTrustedFingerprint(settings_, "mail.example.jp", 587, std::string(64, 'b'));
    openDetails();
    QPushButton* clear = in<QPushButton>(details(), "Cmd_ClearTrust");
    ASSERT_TRUE(clear->isEnabled());
    dialogs_.queueAnswer(true);
    clear->click();
    EXPECT_EQ(dialogs_.lastText(),
              QStringLiteral("送信のときに信頼した証明書を、すべて信頼しないようにします。\r\n"
                             "次に接続するとき、サーバーの証明書をもう一度確認します。"
                             "よろしいですか？"));
    EXPECT_TRUE(dialogs_.last(FakeDialogs::Kind::Question).defaultNo);
    EXPECT_FALSE(clear->isEnabled());
    ok();
    EXPECT_FALSE(settings_.TrustedCerts.empty()) << "not before Save";
    in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->click();
    EXPECT_TRUE(settings_.TrustedCerts.empty());
    EXPECT_FALSE(ini().contains("bbbbbbbb"));
}

TEST_F(ServerDetailsTest, LoginNameMustBePlainAscii) {
    openDetails();
    in<QCheckBox>(details(), "ChkBox_Auth")->setChecked(true);
    ok();
    QLineEdit* login = in<QLineEdit>(details(), "Edt_Login");
    login->setText(QStringLiteral("たろう"));
    ok();
    login->setText(QStringLiteral("taro yamada"));
    ok();
    EXPECT_EQ(dialogs_.texts(),
              (QStringList{
                  QStringLiteral("ログイン名が未入力です。"),
                  QStringLiteral("ログイン名には半角の英数字と記号だけを入力してください。"),
                  QStringLiteral("ログイン名には半角の英数字と記号だけを入力してください。"),
              }));
    EXPECT_TRUE(details()->isVisible());
    login->setText(QStringLiteral("taro@example.jp"));
    dialogs_.clear();
    dialogs_.queueAnswer(false); // a login without protection: said before it is set
    ok();
    EXPECT_EQ(dialogs_.texts(),
              QStringList{QStringLiteral("接続の保護が「なし」のため、パスワードは送れません"
                                         "（このコンピューター上のサーバーを除く）。\r\n"
                                         "このまま設定しますか？")});
    EXPECT_TRUE(details()->isVisible());
    dialogs_.queueAnswer(true);
    ok();
    EXPECT_FALSE(details()->isVisible());
}

// Without a keyring the typed password serves until the program ends, and the user is told.
// Turning "パスワードを保存" off takes the saved one out of the keyring.
TEST_F(ServerDetailsTest, PasswordWithoutKeyringAndSavingTurnedOff) {
    keyring_.available = false;
    openDetails();
    in<QCheckBox>(details(), "ChkBox_Auth")->setChecked(true);
    in<QLineEdit>(details(), "Edt_Login")->setText(QStringLiteral("taro"));
    in<QLineEdit>(details(), "Edt_Password")->setText(QStringLiteral("pw1"));
    dialogs_.queueAnswer(true); // a server on this computer
    ok();
    in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->click();
    EXPECT_EQ(dialogs_.lastText(),
              QStringLiteral("キーリングを使えないため、パスワードを保存できませんでした。\r\n"
                             "Tessalyを終了するまでは、入力したパスワードを使います。"));
    const std::string key = "smtp:mail.example.jp:25:taro";
    EXPECT_EQ(passwords_.find(key, true), std::optional<std::string>("pw1"));

    keyring_.available = true;
    keyring_.secrets[key] = "pw1";
    keyring_.calls.clear();
    settei_->show();
    openDetails();
    in<QCheckBox>(details(), "ChkBox_SavePassword")->setChecked(false);
    dialogs_.queueAnswer(true);
    ok();
    in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->click();
    EXPECT_TRUE(keyring_.secrets.empty());
    EXPECT_TRUE(ini().contains("SavePassword=0\r\n"));
}

struct ProviderChoice {
    const char* name;
    int provider;
    const char* host;
    const char* port;
    int security;
    const char* scope;
};

void PrintTo(const ProviderChoice& c, std::ostream* os) {
    *os << c.name;
}

class OAuthProviderChoice : public ServerDetailsTest,
                            public ::testing::WithParamInterface<ProviderChoice> {};

TEST_P(OAuthProviderChoice, FillsTheServerAndKeepsTheSecretInTheKeyringOnly) {
    const ProviderChoice& c = GetParam();
    openDetails();
    in<QCheckBox>(details(), "ChkBox_Auth")->setChecked(true);
    // The provider shown first fills in its endpoints with the choice of OAuth itself, and
    // proposes its server; each proposal is a question.
    dialogs_.queueAnswer(true);
    dialogs_.queueAnswer(true);
    choose("Cmb_AuthKind", 1);
    EXPECT_FALSE(in<QLineEdit>(details(), "Edt_Password")->isEnabled());
    EXPECT_TRUE(in<QLineEdit>(details(), "Edt_OAuthClientId")->isEnabled());
    EXPECT_EQ(in<QLineEdit>(details(), "Edt_OAuthTokenUrl")->text(),
              QStringLiteral("https://login.microsoftonline.com/organizations/oauth2/v2.0/token"));
    choose("Cmb_OAuthProvider", 2); // その他: nothing is filled in, the own server is back
    choose("Cmb_OAuthProvider", c.provider);
    EXPECT_EQ(dialogs_.count(FakeDialogs::Kind::Question), 2);
    dialogs_.clear();
    EXPECT_EQ(in<QLineEdit>(details(), "Edt_OAuthScope")->text(), QString::fromLatin1(c.scope));
    QTest::keyClicks(in<QLineEdit>(details(), "Edt_Login"), QStringLiteral("taro@example.jp"));
    ok();
    EXPECT_EQ(dialogs_.texts(),
              QStringList{"クライアント ID が未入力です。組織の管理者に確かめてください。"});
    EXPECT_TRUE(details()->isVisible());
    QTest::keyClicks(in<QLineEdit>(details(), "Edt_OAuthClientId"), QStringLiteral("org-app-id"));
    QTest::keyClicks(in<QLineEdit>(details(), "Edt_OAuthClientSecret"),
                     QStringLiteral("org-app-secret"));
    ok();
    EXPECT_FALSE(details()->isVisible());
    EXPECT_EQ(in<QLineEdit>(settei_.get(), "Edt_Host")->text(), QString::fromLatin1(c.host));
    EXPECT_EQ(port()->text(), QString::fromLatin1(c.port));

    in<QPushButton>(settei_.get(), "Cmd_SetteiHozon")->click();
    EXPECT_EQ(settings_.Auth, 2);
    EXPECT_EQ(settings_.Security, c.security);
    EXPECT_EQ(settings_.OAuthProvider, c.provider);
    EXPECT_EQ(settings_.OAuthClientId, "org-app-id");
    EXPECT_EQ(settings_.OAuthScope, c.scope);
    EXPECT_EQ(keyring_.secrets[tessaly::oauthClientSecretKey(settings_)], "org-app-secret");
    EXPECT_EQ(keyring_.secrets.size(), 1u) << "no password is kept for an OAuth login";
    const QByteArray saved = ini();
    EXPECT_TRUE(saved.contains("Auth=2\r\n"));
    EXPECT_TRUE(saved.contains("OAuthClientId=org-app-id\r\n"));
    EXPECT_FALSE(saved.contains("org-app-secret"));
}

INSTANTIATE_TEST_SUITE_P(
    Providers, OAuthProviderChoice,
    ::testing::Values(ProviderChoice{"Microsoft365", 0, "smtp.office365.com", "587", 1,
                                     "https://outlook.office.com/SMTP.Send offline_access"},
                      ProviderChoice{"Google", 1, "smtp.gmail.com", "465", 2,
                                     "https://mail.google.com/"}),
    [](const ::testing::TestParamInfo<ProviderChoice>& info) {
        return std::string(info.param.name);
    });

// A provider's server replaces the user's own only with a yes, and never outlives OAuth: after
// any sequence of choices, OK leaves the user's host, port and protection unless OAuth with a
// known provider is what stands at the end and its server was accepted.
struct AnswerAll : FakeDialogs {
    bool answer = false;
    bool askYesNo(QWidget* parent, const QString& title, const QString& text) override {
        // A login over an unprotected connection is the user's own choice here.
        queueAnswer(answer || text.startsWith(QStringLiteral("接続の保護が「なし」")));
        return FakeDialogs::askYesNo(parent, title, text);
    }
};

TEST(ServerDetailsSequences, TheHostSurvivesEveryChoiceButAnAcceptedProvider) {
    const char steps[] = "AUOPGMX"; // auth on, off; OAuth, password; Google, Microsoft, その他
    const char* const hosts[] = {"smtp.office365.com", "smtp.gmail.com"};
    const char* const ports[] = {"587", "465"};
    const int securities[] = {1, 2};
    for (const bool yes : {false, true}) {
        AnswerAll dialogs;
        dialogs.answer = yes;
        TempStartDir dir;
        dir.write(QStringLiteral("TSY2.ini"), "[Settei]\r\nHost=mail.example.jp\r\nPort=2525\r\n");
        Settings settings;
        QWidget main;
        const std::string start = dir.path().toStdString();
        TTSY_SetteiF settei(dialogs, settings, start, &main);
        Settings_Load(settings, start, dialogs, settei, &main, nullptr);
        settei.show();
        auto* details = settei.findChild<TTSY_ServerSyousaiF*>();
        // Every sequence of up to four steps, as a number in base 7 with a leading length.
        for (int length = 1; length <= 4; ++length) {
            int count = 1;
            for (int i = 0; i < length; ++i)
                count *= 7;
            for (int n = 0; n < count; ++n) {
                std::string sequence;
                for (int i = 0, rest = n; i < length; ++i, rest /= 7)
                    sequence += steps[rest % 7];
                SCOPED_TRACE(std::string(yes ? "yes " : "no ") + sequence);
                settei.Cmd_ServerSyousaiClick();
                for (const char step : sequence) {
                    switch (step) {
                    case 'A': details->ChkBox_Auth->setChecked(true); break;
                    case 'U': details->ChkBox_Auth->setChecked(false); break;
                    case 'O': case 'P':
                        if (details->Cmb_AuthKind->isEnabled())
                            details->Cmb_AuthKind->setCurrentIndex(step == 'O' ? 1 : 0);
                        break;
                    default:
                        // Only what a user can reach: the list is open in OAuth mode alone.
                        if (details->Cmb_OAuthProvider->isEnabled())
                            details->Cmb_OAuthProvider->setCurrentIndex(
                                step == 'G' ? 1 : step == 'M' ? 0 : 2);
                    }
                }
                const bool oauth =
                    details->ChkBox_Auth->isChecked() && details->Cmb_AuthKind->currentIndex() == 1;
                const int provider = details->Cmb_OAuthProvider->currentIndex();
                const bool theirs = yes && oauth && provider < 2;
                EXPECT_EQ(details->Label_OAuthServer->isVisible(), theirs);
                const QString host = theirs ? QString::fromLatin1(hosts[provider]) : QStringLiteral("mail.example.jp");
                const QString port = theirs ? QString::fromLatin1(ports[provider]) : QStringLiteral("2525");
                const int security = theirs ? securities[provider] : 0;
                EXPECT_EQ(details->Cmb_Security->currentIndex(), security);
                // What OK asks for besides: a login name, and the registration of an OAuth login.
                details->Edt_Login->setText(QStringLiteral("taro@example.jp"));
                details->Edt_OAuthClientId->setText(QStringLiteral("app"));
                details->Cmd_OKClick();
                ASSERT_FALSE(details->isVisible());
                EXPECT_EQ(settei.Edt_Host->text(), host);
                EXPECT_EQ(settei.Edt_Port->text(), port);
                EXPECT_EQ(settei.pendingServerDetails().Security, security);
                // Back to the user's own for the next sequence.
                settei.assignText(settei.Edt_Host, "mail.example.jp");
                settei.assignText(settei.Edt_Port, "2525");
                settei.resetServerDetails();
                dialogs.clear();
            }
        }
    }
}

TEST_F(ServerDetailsTest, TheProvidersQuestionNamesWhatItWouldChange) {
    openDetails();
    in<QCheckBox>(details(), "ChkBox_Auth")->setChecked(true);
    dialogs_.queueAnswer(false);
    choose("Cmb_AuthKind", 1);
    EXPECT_EQ(dialogs_.lastText(),
              QStringLiteral("Microsoft 365 の送信サーバーに合わせて、次のとおり変更しますか？\r\n"
                             "HOST名：Mail.Example.JP → smtp.office365.com\r\n"
                             "ポート番号：25 → 587\r\n"
                             "接続の保護：なし → STARTTLS"));
    EXPECT_FALSE(in<QLabel>(details(), "Label_OAuthServer")->isVisible());
}

} // namespace
