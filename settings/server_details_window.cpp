#include "settings/server_details_window.h"

#include "common/controls.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/text.h"
#include "common/window_fit.h"
#include "common/window_fonts.h"
#include "common/guide_window.h"
#include "settings/settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include <algorithm>
#include <QStyle>
#include <QUrl>

namespace {

const QString kTitle = QStringLiteral("送信サーバーの詳細");

QString securityName(int security) {
    switch (security) {
    case 1:
        return QStringLiteral("STARTTLS");
    case 2:
        return QStringLiteral("SSL/TLS");
    default:
        return QStringLiteral("保護なしの接続");
    }
}

// A login name goes on the wire as it is: printable ASCII without blanks.
bool isLoginText(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7F)
            return false;
    return true;
}

} // namespace

TTSY_ServerSyousaiF::TTSY_ServerSyousaiF(tessaly::Dialogs& dialogs, QWidget* settingsWindow)
    : QDialog(settingsWindow, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                  Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs) {
    setObjectName(QStringLiteral("TTSY_ServerSyousaiF"));
    setWindowTitle(kTitle);
    tessaly::addGuideKey(*this, QStringLiteral("送信サーバーの詳細（暗号化とログイン）"));
    setWindowModality(Qt::WindowModal);
    setFont(tessaly::proportionalGothic(12));
    fitted_ = new tessaly::FittedPage(*this, QSize(470, 696));
    buildControls();
}

TTSY_ServerSyousaiF::~TTSY_ServerSyousaiF() {
    Edt_Password->clear();
    Edt_OAuthClientSecret->clear();
}

int TTSY_ServerSyousaiF::usualPort(int security) {
    switch (security) {
    case 1:
        return 587;
    case 2:
        return 465;
    default:
        return 25;
    }
}

void TTSY_ServerSyousaiF::buildControls() {
    using tessaly::makeLabel;
    QWidget* page = fitted_->page();
    makeLabel(page, "Label_Security", QStringLiteral("接続の保護"), 10, 15);
    Cmb_Security = new QComboBox(page);
    Cmb_Security->setObjectName(QStringLiteral("Cmb_Security"));
    Cmb_Security->setGeometry(110, 11, 130, 22);
    Cmb_Security->addItems(
        {QStringLiteral("なし"), QStringLiteral("STARTTLS"), QStringLiteral("SSL/TLS")});
    Cmb_Security->setToolTip(QStringLiteral("プロバイダーの案内に合わせて選んでください"));
    Label_Port = makeLabel(page, "Label_Port", QString(), 255, 15);

    ChkBox_Auth = new QCheckBox(QStringLiteral("SMTP 認証を使う"), page);
    ChkBox_Auth->setObjectName(QStringLiteral("ChkBox_Auth"));
    ChkBox_Auth->setGeometry(10, 50, 200, 17);

    makeLabel(page, "Label_Login", QStringLiteral("ログイン名"), 30, 83);
    Edt_Login = new QLineEdit(page);
    Edt_Login->setObjectName(QStringLiteral("Edt_Login"));
    Edt_Login->setGeometry(130, 80, 230, 20);
    Edt_Login->setToolTip(QStringLiteral("プロバイダーから知らされたログイン名（半角英数字）です"));

    makeLabel(page, "Label_Password", QStringLiteral("パスワード"), 30, 113);
    Edt_Password = new QLineEdit(page);
    Edt_Password->setObjectName(QStringLiteral("Edt_Password"));
    Edt_Password->setGeometry(130, 110, 230, 20);
    Edt_Password->setEchoMode(QLineEdit::Password);
    Edt_Password->setPlaceholderText(QStringLiteral("変更しないときは空欄のまま"));

    ChkBox_SavePassword = new QCheckBox(QStringLiteral("パスワードを保存"), page);
    ChkBox_SavePassword->setObjectName(QStringLiteral("ChkBox_SavePassword"));
    ChkBox_SavePassword->setGeometry(130, 140, 200, 17);
    makeLabel(page, "Label_PasswordNote",
              QStringLiteral("パスワードはシステムのキーリングに保存します。\n"
                             "保存しないときは、起動後の最初の送信でお尋ねします。"),
              130, 162);

    makeLabel(page, "Label_Charset", QStringLiteral("文字コード"), 10, 415);
    Cmb_Charset = new QComboBox(page);
    Cmb_Charset->setObjectName(QStringLiteral("Cmb_Charset"));
    Cmb_Charset->setGeometry(110, 411, 350, 22);
    Cmb_Charset->addItems({QStringLiteral("ISO-2022-JP"),
                           QStringLiteral("自動（ISO-2022-JPで送れない文字があるときだけUTF-8）"),
                           QStringLiteral("UTF-8")});

    Cmd_ClearTrust = new QPushButton(QStringLiteral("信頼した証明書を消去..."), page);
    Cmd_ClearTrust->setObjectName(QStringLiteral("Cmd_ClearTrust"));
    Cmd_ClearTrust->setGeometry(110, 442, 170, 25);
    Cmd_ClearTrust->setToolTip(
        QStringLiteral("送信のときに信頼すると答えた証明書を忘れ、次の接続で確認し直します"));

    // How a long run keeps going.
    ChkBox_SkipRefused = new QCheckBox(QStringLiteral("宛先エラーでも続ける"), page);
    ChkBox_SkipRefused->setObjectName(QStringLiteral("ChkBox_SkipRefused"));
    ChkBox_SkipRefused->setGeometry(10, 482, 220, 17);
    ChkBox_SkipRefused->setToolTip(QStringLiteral(
        "サーバーに断られた宛先を飛ばして送信を続け、最後に一覧で知らせます"));
    ChkBox_ConfirmSend = new QCheckBox(QStringLiteral("送信前に確認する"), page);
    ChkBox_ConfirmSend->setObjectName(QStringLiteral("ChkBox_ConfirmSend"));
    ChkBox_ConfirmSend->setGeometry(245, 482, 215, 17);
    ChkBox_ConfirmSend->setToolTip(QStringLiteral(
        "「メール送信開始」のあと、宛先の件数と送信サーバーを示して確かめてから送ります"));

    const auto spinBox = [page](const char* name, int low, int high, int x, int y, int width) {
        auto* box = new QSpinBox(page);
        box->setObjectName(QString::fromLatin1(name));
        box->setRange(low, high);
        box->setGeometry(x, y, width, 22);
        return box;
    };
    makeLabel(page, "Label_Pace", QStringLiteral("送信間隔"), 10, 513);
    makeLabel(page, "Label_PerMinute", QStringLiteral("1分間に"), 110, 513);
    Spn_PerMinute = spinBox("Spn_PerMinute", 0, 10000, 160, 509, 80);
    Spn_PerMinute->setSpecialValueText(QStringLiteral("制限なし"));
    Spn_PerMinute->setToolTip(QStringLiteral("プロバイダーが1分間に受け付ける通数に合わせます"));
    makeLabel(page, "Label_PerMinuteUnit", QStringLiteral("通まで"), 245, 513);
    Spn_PauseEvery = spinBox("Spn_PauseEvery", 0, 100000, 160, 537, 80);
    Spn_PauseEvery->setSpecialValueText(QStringLiteral("休まない"));
    makeLabel(page, "Label_PauseEvery", QStringLiteral("通ごとに"), 245, 541);
    Spn_PauseSeconds = spinBox("Spn_PauseSeconds", 1, 86400, 300, 537, 70);
    makeLabel(page, "Label_PauseSeconds", QStringLiteral("秒休む"), 375, 541);

    ChkBox_Retry = new QCheckBox(QStringLiteral("一時的なエラーで再試行"), page);
    ChkBox_Retry->setObjectName(QStringLiteral("ChkBox_Retry"));
    ChkBox_Retry->setGeometry(10, 570, 200, 17);
    ChkBox_Retry->setToolTip(QStringLiteral(
        "30秒、60秒、120秒と待って、同じ宛先にもう一度送ります"));
    makeLabel(page, "Label_RetryTries", QStringLiteral("回数"), 245, 571);
    Spn_RetryTries = spinBox("Spn_RetryTries", 1, 10, 300, 567, 70);

    // Copies of every message: the manager in CC, an archive in BCC.
    const auto copiesField = [page](const char* name, const QString& hint, int y) {
        auto* field = new QLineEdit(page);
        field->setObjectName(QString::fromLatin1(name));
        field->setGeometry(110, y, 350, 20);
        field->setPlaceholderText(QStringLiteral("なし（複数は「,」で区切ります）"));
        field->setToolTip(hint);
        return field;
    };
    makeLabel(page, "Label_Cc", QStringLiteral("CC（全員）"), 10, 602);
    Edt_Cc = copiesField("Edt_Cc", QStringLiteral("どのメッセージにもこの宛先を CC に入れて送ります"), 600);
    makeLabel(page, "Label_Bcc", QStringLiteral("BCC（全員）"), 10, 630);
    Edt_Bcc = copiesField("Edt_Bcc",
                          QStringLiteral("どのメッセージもこの宛先にも送ります。ヘッダーには書きません"), 628);

    Cmd_OK = new QPushButton(QStringLiteral("OK"), this);
    Cmd_OK->setObjectName(QStringLiteral("Cmd_OK"));
    Cmd_OK->setGeometry(130, 660, 85, 25);
    Cmd_OK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    Cmd_OK->setDefault(true);
    Cmd_Cancel = new QPushButton(QStringLiteral("キャンセル"), this);
    Cmd_Cancel->setObjectName(QStringLiteral("Cmd_Cancel"));
    Cmd_Cancel->setGeometry(255, 660, 96, 25);
    Cmd_Cancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    // The buttons stay in view when the window is too tall for the screen and scrolls.
    fitted_->keepInView(652, {Cmd_OK, Cmd_Cancel});
    buildOAuthControls();

    QWidget* const tabOrder[] = {Cmb_Security,
                                 ChkBox_Auth,
                                 Cmb_AuthKind,
                                 Edt_Login,
                                 Edt_Password,
                                 ChkBox_SavePassword,
                                 Cmb_OAuthProvider,
                                 Edt_OAuthClientId,
                                 Edt_OAuthClientSecret,
                                 Edt_OAuthAuthorizationUrl,
                                 Edt_OAuthTokenUrl,
                                 Edt_OAuthScope,
                                 Cmb_Charset,
                                 Cmd_ClearTrust,
                                 ChkBox_SkipRefused,
                                 ChkBox_ConfirmSend,
                                 Spn_PerMinute,
                                 Spn_PauseEvery,
                                 Spn_PauseSeconds,
                                 ChkBox_Retry,
                                 Spn_RetryTries,
                                 Edt_Cc,
                                 Edt_Bcc,
                                 Cmd_OK,
                                 Cmd_Cancel};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    // Programmatic changes come only from showWith, which blocks the signals: these run for the
    // user's choices alone.
    tessaly::connectGuarded(dialogs_, Cmb_Security, &QComboBox::currentIndexChanged, this,
                            &TTSY_ServerSyousaiF::Cmb_SecurityChange);
    tessaly::connectGuarded(dialogs_, ChkBox_Auth, &QCheckBox::toggled, this,
                            &TTSY_ServerSyousaiF::ChkBox_AuthClick);
    tessaly::connectGuarded(dialogs_, Cmd_OK, &QPushButton::clicked, this,
                            &TTSY_ServerSyousaiF::Cmd_OKClick);
    tessaly::connectGuarded(dialogs_, Cmb_AuthKind, &QComboBox::currentIndexChanged, this,
                            [this](int) { Cmb_AuthKindChange(); });
    tessaly::connectGuarded(dialogs_, Cmb_OAuthProvider, &QComboBox::currentIndexChanged, this,
                            &TTSY_ServerSyousaiF::Cmb_OAuthProviderChange);
    tessaly::connectGuarded(dialogs_, Cmd_ClearTrust, &QPushButton::clicked, this,
                            &TTSY_ServerSyousaiF::Cmd_ClearTrustClick);
    connect(Cmd_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TTSY_ServerSyousaiF::buildOAuthControls() {
    using tessaly::makeLabel;
    QWidget* page = fitted_->page();
    Cmb_AuthKind = new QComboBox(page);
    Cmb_AuthKind->setObjectName(QStringLiteral("Cmb_AuthKind"));
    Cmb_AuthKind->setGeometry(200, 47, 260, 22);
    Cmb_AuthKind->addItems(
        {QStringLiteral("パスワード"), QStringLiteral("OAuth 2.0（ブラウザでサインイン）")});
    Cmb_AuthKind->setToolTip(QStringLiteral(
        "OAuth 2.0 では、ログイン名にサインインするアカウントのメールアドレスを入力します"));

    auto edit = [page](QLineEdit*& field, const char* name, const char* label,
                       const QString& caption, int y) {
        makeLabel(page, label, caption, 30, y + 3);
        field = new QLineEdit(page);
        field->setObjectName(QString::fromLatin1(name));
        field->setGeometry(160, y, 300, 20);
    };
    Label_OAuthServer = makeLabel(page, "Label_OAuthServer", QString(), 30, 203);
    makeLabel(page, "Label_OAuthProvider", QStringLiteral("プロバイダー"), 30, 228);
    Cmb_OAuthProvider = new QComboBox(page);
    Cmb_OAuthProvider->setObjectName(QStringLiteral("Cmb_OAuthProvider"));
    Cmb_OAuthProvider->setGeometry(160, 224, 200, 22);
    Cmb_OAuthProvider->addItems(
        {QStringLiteral("Microsoft 365"), QStringLiteral("Google"), QStringLiteral("その他")});
    Cmb_OAuthProvider->setToolTip(
        QStringLiteral("選ぶと、サーバー名・ポート番号・接続の保護も合わせて設定します"));
    edit(Edt_OAuthClientId, "Edt_OAuthClientId", "Label_OAuthClientId",
         QStringLiteral("クライアント ID"), 254);
    edit(Edt_OAuthClientSecret, "Edt_OAuthClientSecret", "Label_OAuthClientSecret",
         QStringLiteral("クライアント シークレット"), 280);
    Edt_OAuthClientSecret->setEchoMode(QLineEdit::Password);
    Edt_OAuthClientSecret->setPlaceholderText(
        QStringLiteral("不要なときと変更しないときは空欄のまま"));
    makeLabel(
        page, "Label_OAuthNote",
        QStringLiteral("組織の管理者が登録したアプリケーションの ID を入力してください。"), 30,
        306);
    edit(Edt_OAuthAuthorizationUrl, "Edt_OAuthAuthorizationUrl", "Label_OAuthAuthorizationUrl",
         QStringLiteral("認可エンドポイント"), 328);
    edit(Edt_OAuthTokenUrl, "Edt_OAuthTokenUrl", "Label_OAuthTokenUrl",
         QStringLiteral("トークン エンドポイント"), 354);
    edit(Edt_OAuthScope, "Edt_OAuthScope", "Label_OAuthScope", QStringLiteral("スコープ"), 380);
}

// The provider shown at first needs no choice of the user's: its endpoints come with OAuth.
void TTSY_ServerSyousaiF::Cmb_AuthKindChange() {
    enableAuthControls();
    const bool blank = Edt_OAuthAuthorizationUrl->text().isEmpty() &&
                       Edt_OAuthTokenUrl->text().isEmpty() && Edt_OAuthScope->text().isEmpty();
    if (oauthChosen() && blank)
        fillProviderEndpoints(Cmb_OAuthProvider->currentIndex());
    followAuthMode();
}

bool TTSY_ServerSyousaiF::oauthChosen() const {
    return ChkBox_Auth->isChecked() && Cmb_AuthKind->currentIndex() == 1;
}

void TTSY_ServerSyousaiF::Cmb_OAuthProviderChange(int index) {
    fillProviderEndpoints(index);
    followAuthMode();
}

// A known provider fills in its endpoints; another leaves them to be typed.
void TTSY_ServerSyousaiF::fillProviderEndpoints(int index) {
    const tessaly::OAuthProviderDefaults* known = tessaly::oauthProviderDefaults(index);
    if (!known)
        return;
    for (auto [field, text] :
         {std::pair{Edt_OAuthAuthorizationUrl, known->AuthorizationUrl},
          std::pair{Edt_OAuthTokenUrl, known->TokenUrl}, std::pair{Edt_OAuthScope, known->Scope}}) {
        field->setText(QString::fromLatin1(text));
        field->setCursorPosition(0); // the start of an address says most
    }
}

// OAuth with a known provider proposes the provider's server; anything else goes back to the
// user's own.
void TTSY_ServerSyousaiF::followAuthMode() {
    if (oauthChosen() && tessaly::oauthProviderDefaults(Cmb_OAuthProvider->currentIndex()))
        proposeProviderServer();
    else
        restoreOwnServer();
}

void TTSY_ServerSyousaiF::proposeProviderServer() {
    const tessaly::OAuthProviderDefaults& known =
        *tessaly::oauthProviderDefaults(Cmb_OAuthProvider->currentIndex());
    const std::string knownPort = std::to_string(known.Port);
    if (host_ == known.Host && port_ == knownPort && Cmb_Security->currentIndex() == known.Security)
        return;
    const auto shown = [](const QString& text) {
        return text.isEmpty() ? QStringLiteral("（未入力）") : text;
    };
    const QString host = host_.empty() ? currentHost_ : QString::fromLatin1(host_.c_str());
    const QString text =
        QStringLiteral("%1 の送信サーバーに合わせて、次のとおり変更しますか？\r\n"
                       "HOST名：%2 → %3\r\n"
                       "ポート番号：%4 → %5\r\n"
                       "接続の保護：%6 → %7")
            .arg(Cmb_OAuthProvider->currentText(), shown(host), QString::fromLatin1(known.Host),
                 shown(QString::fromStdString(port_)), QString::fromStdString(knownPort),
                 Cmb_Security->currentText(), Cmb_Security->itemText(known.Security));
    if (!dialogs_.askYesNo(this, kTitle, text))
        return;
    if (!own_)
        own_ = OwnServer{Cmb_Security->currentIndex(), port_};
    {
        const QSignalBlocker security(Cmb_Security);
        Cmb_Security->setCurrentIndex(known.Security);
    }
    port_ = knownPort;
    host_ = known.Host;
    showPort();
}

void TTSY_ServerSyousaiF::restoreOwnServer() {
    if (own_) {
        const QSignalBlocker security(Cmb_Security);
        Cmb_Security->setCurrentIndex(own_->security);
        port_ = own_->port;
        own_.reset();
    }
    host_.clear();
    showPort();
}

void TTSY_ServerSyousaiF::showWith(const ServerDetails& v) {
    {
        const QSignalBlocker security(Cmb_Security);
        const QSignalBlocker auth(ChkBox_Auth);
        Cmb_Security->setCurrentIndex(v.Security);
        ChkBox_Auth->setChecked(v.Auth != 0);
        Edt_Login->setText(
            QString::fromLatin1(v.Login.data(), static_cast<qsizetype>(v.Login.size())));
        Edt_Password->clear();
        ChkBox_SavePassword->setChecked(v.SavePassword);
        Cmb_Charset->setCurrentIndex(v.Charset);
        const QSignalBlocker kind(Cmb_AuthKind);
        const QSignalBlocker provider(Cmb_OAuthProvider);
        Cmb_AuthKind->setCurrentIndex(v.Auth == 2 ? 1 : 0);
        Cmb_OAuthProvider->setCurrentIndex(v.OAuthProvider);
        Edt_OAuthClientId->setText(QString::fromStdString(v.OAuthClientId));
        Edt_OAuthClientSecret->clear();
        Edt_OAuthAuthorizationUrl->setText(QString::fromStdString(v.OAuthAuthorizationUrl));
        Edt_OAuthTokenUrl->setText(QString::fromStdString(v.OAuthTokenUrl));
        Edt_OAuthScope->setText(QString::fromStdString(v.OAuthScope));
        for (QLineEdit* field : {Edt_OAuthAuthorizationUrl, Edt_OAuthTokenUrl, Edt_OAuthScope})
            field->setCursorPosition(0);
    }
    ChkBox_SkipRefused->setChecked(v.SkipRefused);
    Spn_PerMinute->setValue(v.PerMinute);
    Spn_PauseEvery->setValue(v.PauseEvery);
    Spn_PauseSeconds->setValue(v.PauseSeconds);
    ChkBox_Retry->setChecked(v.Retry);
    Spn_RetryTries->setValue(v.RetryTries);
    ChkBox_ConfirmSend->setChecked(v.ConfirmSend);
    Edt_Cc->setText(QString::fromLatin1(v.Cc.data(), static_cast<qsizetype>(v.Cc.size())));
    Edt_Bcc->setText(QString::fromLatin1(v.Bcc.data(), static_cast<qsizetype>(v.Bcc.size())));
    port_ = v.Port;
    host_.clear();
    own_.reset();
    currentHost_ = tessaly::fromSjis(v.CurrentHostSjis);
    clearTrust_ = v.ClearTrust;
    Cmd_ClearTrust->setEnabled(v.HasTrustedCerts && !v.ClearTrust);
    enableAuthControls();
    showPort();
    show();
    raise();
    activateWindow();
    Cmb_Security->setFocus(Qt::OtherFocusReason);
}

ServerDetails TTSY_ServerSyousaiF::takeValues() {
    ServerDetails v;
    v.Security = Cmb_Security->currentIndex();
    v.Auth = !ChkBox_Auth->isChecked() ? 0 : oauthChosen() ? 2 : 1;
    v.OAuthProvider = Cmb_OAuthProvider->currentIndex();
    v.OAuthClientId = Edt_OAuthClientId->text().trimmed().toStdString();
    v.OAuthAuthorizationUrl = Edt_OAuthAuthorizationUrl->text().trimmed().toStdString();
    v.OAuthTokenUrl = Edt_OAuthTokenUrl->text().trimmed().toStdString();
    v.OAuthScope = Edt_OAuthScope->text().simplified().toStdString();
    QByteArray secret = Edt_OAuthClientSecret->text().toUtf8();
    v.OAuthClientSecret = secret.toStdString();
    secret.fill('\0');
    Edt_OAuthClientSecret->clear();
    v.Host = host_;
    v.Login = Edt_Login->text().toLatin1().toStdString();
    v.SavePassword = ChkBox_SavePassword->isChecked();
    v.Charset = Cmb_Charset->currentIndex();
    v.SkipRefused = ChkBox_SkipRefused->isChecked();
    v.PerMinute = Spn_PerMinute->value();
    v.PauseEvery = Spn_PauseEvery->value();
    v.PauseSeconds = Spn_PauseSeconds->value();
    v.Retry = ChkBox_Retry->isChecked();
    v.RetryTries = Spn_RetryTries->value();
    v.ConfirmSend = ChkBox_ConfirmSend->isChecked();
    v.Cc = Edt_Cc->text().trimmed().toLatin1().toStdString();
    v.Bcc = Edt_Bcc->text().trimmed().toLatin1().toStdString();
    v.Port = port_;
    v.ClearTrust = clearTrust_;
    v.HasTrustedCerts = Cmd_ClearTrust->isEnabled();
    QByteArray password = Edt_Password->text().toUtf8();
    v.Password = password.toStdString();
    password.fill('\0');
    Edt_Password->clear();
    return v;
}

void TTSY_ServerSyousaiF::showPort() {
    Label_Port->setText(
        QStringLiteral("ポート番号：%1")
            .arg(port_.empty()
                     ? QStringLiteral("（未入力）")
                     : QString::fromLatin1(port_.data(), static_cast<qsizetype>(port_.size()))));
    // Only where it applies: in password mode the user's own server is used.
    const bool provider = oauthChosen() && !host_.empty();
    Label_OAuthServer->setVisible(provider);
    Label_OAuthServer->setText(
        !provider ? QString()
                  : QStringLiteral("サーバー：%1（ポート番号 %2、%3）")
                            .arg(QString::fromStdString(host_), QString::fromStdString(port_),
                                 securityName(Cmb_Security->currentIndex())));
    Label_OAuthServer->adjustSize();
    Label_Port->adjustSize();
}

void TTSY_ServerSyousaiF::Cmb_SecurityChange(int index) {
    const std::string proposed = std::to_string(usualPort(index));
    // Only a port that stands at one of the usual numbers is proposed to change: a port of the
    // user's own (a provider's 2525, say) is left as it is without a question.
    const bool usual = port_.empty() || port_ == "25" || port_ == "587" || port_ == "465";
    if (!usual || port_ == proposed)
        return;
    const QString from =
        port_.empty() ? QStringLiteral("（未入力）") : QString::fromStdString(port_);
    const QString text = QStringLiteral("%1では通常、ポート番号 %2 を使います。\r\n"
                                        "ポート番号を %3 から %2 に変更しますか？")
                             .arg(securityName(index), QString::fromStdString(proposed), from);
    if (!dialogs_.askYesNo(this, kTitle, text))
        return;
    port_ = proposed;
    showPort();
}

void TTSY_ServerSyousaiF::ChkBox_AuthClick() {
    enableAuthControls();
    followAuthMode();
}

void TTSY_ServerSyousaiF::enableAuthControls() {
    const bool on = ChkBox_Auth->isChecked();
    const bool oauth = oauthChosen();
    Cmb_AuthKind->setEnabled(on);
    Edt_Login->setEnabled(on);
    Edt_Password->setEnabled(on && !oauth);
    ChkBox_SavePassword->setEnabled(on && !oauth);
    for (QWidget* w : std::initializer_list<QWidget*>{
             Cmb_OAuthProvider, Edt_OAuthClientId, Edt_OAuthClientSecret, Edt_OAuthAuthorizationUrl,
             Edt_OAuthTokenUrl, Edt_OAuthScope})
        w->setEnabled(oauth);
}

// What keeps an OAuth choice from working, as the message that says so; empty when nothing does.
QString TTSY_ServerSyousaiF::oauthRefusal() const {
    if (!oauthChosen())
        return {};
    if (Edt_OAuthClientId->text().trimmed().isEmpty())
        return QStringLiteral("クライアント ID が未入力です。組織の管理者に確かめてください。");
    for (const QLineEdit* endpoint : {Edt_OAuthAuthorizationUrl, Edt_OAuthTokenUrl}) {
        const QUrl url(endpoint->text().trimmed(), QUrl::StrictMode);
        // Codes and tokens travel only encrypted; a server on this machine is the exception.
        const bool loopback =
            url.scheme() == QStringLiteral("http") && (url.host() == QStringLiteral("127.0.0.1") ||
                                                       url.host() == QStringLiteral("localhost"));
        if (!url.isValid() || url.host().isEmpty() ||
            (url.scheme() != QStringLiteral("https") && !loopback))
            return QStringLiteral("認可エンドポイントとトークン エンドポイントには、https:// "
                                  "で始まるアドレスを入力してください。");
    }
    return {};
}

void TTSY_ServerSyousaiF::Cmd_ClearTrustClick() {
    // Forgets every trust the user gave: not on a stray Enter.
    if (!dialogs_.askYesNoDefaultNo(
            this, kTitle,
            QStringLiteral("送信のときに信頼した証明書を、すべて信頼しないようにします。\r\n"
                           "次に接続するとき、サーバーの証明書をもう一度確認します。"
                           "よろしいですか？")))
        return;
    clearTrust_ = true;
    Cmd_ClearTrust->setEnabled(false);
}

void TTSY_ServerSyousaiF::Cmd_OKClick() {
    const QString login = Edt_Login->text();
    QString refusal;
    if (!isLoginText(login))
        refusal = QStringLiteral("ログイン名には半角の英数字と記号だけを入力してください。");
    else if (login.isEmpty() && ChkBox_Auth->isChecked())
        refusal = QStringLiteral("ログイン名が未入力です。");
    if (!refusal.isEmpty()) {
        dialogs_.message(this, refusal);
        Edt_Login->setFocus(Qt::OtherFocusReason);
        return;
    }
    for (QLineEdit* copies : {Edt_Cc, Edt_Bcc}) {
        const QString text = copies->text();
        if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20 || c.unicode() >= 0x7F; })) {
            dialogs_.message(this, QStringLiteral("CC と BCC には半角の英数字と記号でアドレスを入力してください。"));
            copies->setFocus(Qt::OtherFocusReason);
            return;
        }
    }
    if (const QString oauth = oauthRefusal(); !oauth.isEmpty()) {
        dialogs_.message(this, oauth);
        Edt_OAuthClientId->setFocus(Qt::OtherFocusReason);
        return;
    }
    // The password would cross the network readable by anyone on the way: the run refuses to
    // send it (but to a server on this computer). Said now rather than at the next send.
    if (ChkBox_Auth->isChecked() && Cmb_Security->currentIndex() == 0 &&
        !dialogs_.askYesNo(this, kTitle,
                           QStringLiteral("接続の保護が「なし」のため、パスワードは送れません"
                                          "（このコンピューター上のサーバーを除く）。\r\n"
                                          "このまま設定しますか？"))) {
        Cmb_Security->setFocus(Qt::OtherFocusReason);
        return;
    }
    accept();
}

void TTSY_ServerSyousaiF::done(int result) {
    // accepted() has been answered by now: a password left in the hidden field would outlive
    // the user's decision.
    QDialog::done(result);
    Edt_Password->clear();
    Edt_OAuthClientSecret->clear();
}

#include "moc_server_details_window.cpp"
