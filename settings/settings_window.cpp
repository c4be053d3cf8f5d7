#include "settings/settings_window.h"

#include "address/address_book.h"
#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/errors.h"
#include "common/text.h"
#include "common/secret_store.h"
#include "common/window_fit.h"
#include "common/window_fonts.h"
#include "common/window_place.h"
#include "common/guide_window.h"
#include "settings/ini_file.h"
#include "settings/smtp_passwords.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QSignalBlocker>
#include <QStyle>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace {

const QString MsgPortDigits = QStringLiteral("半角の数字しか入力できません");

// A folder is no file: a switch needs one it can read or append to.
bool fileExists(const std::string& sjisPath) {
    if (sjisPath.empty())
        return false;
    std::error_code ec;
    const auto status = std::filesystem::status(cp932::pathFromSjis(sjisPath), ec);
    return std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

void createEmptyFile(const std::string& sjisPath) {
    std::ofstream out(cp932::pathFromSjis(sjisPath), std::ios::binary | std::ios::trunc);
    if (!out)
        throw tessaly::FileError(cp932::toUtf8(sjisPath) + " を作成できません");
}

QFont windowFont() { return tessaly::proportionalGothic(12); }

QFont exampleFont() { return tessaly::fixedGothic(12); }

} // namespace

// One option pair: a text field taken into the record only through its switch.
struct TTSY_SetteiF::OptionPair {
    QCheckBox* box;
    QLineEdit* edit;
    bool Settings::* flag;
    std::string Settings::* text;
    bool needsFile;     // the check: a file at the path, or else a non-empty text
    QString message;    // shown when the check fails
    bool clearOnFail;
};

TTSY_SetteiF::TTSY_SetteiF(tessaly::Dialogs& dialogs, Settings& settings, std::string startDirectory,
                           QWidget* mainWindow)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint),
      dialogs_(dialogs), settings_(settings), startDirectory_(std::move(startDirectory)), mainWindow_(mainWindow) {
    setObjectName(QStringLiteral("TTSY_SetteiF"));
    setWindowTitle(QStringLiteral("Tessaly 2.7S 設定画面"));
    tessaly::addGuideKey(*this, QStringLiteral("設定画面"));
    setFont(windowFont());
    fitted_ = new tessaly::FittedPage(*this, QSize(555, 433));
    buildControls();
}

TTSY_SetteiF::~TTSY_SetteiF() { tessaly::wipe(pending_.Password); }

void TTSY_SetteiF::buildControls() {
    QWidget* page = fitted_->page();
    auto button = [page](QPushButton*& b, const char* name, const QString& caption, QRect place, const QString& hint) {
        b = new QPushButton(caption, page);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(place);
        b->setToolTip(hint);
    };
    auto edit = [this, page](QLineEdit*& e, const char* name, QRect place, const QString& hint, const QString& fieldName) {
        e = new QLineEdit(page);
        e->setObjectName(QString::fromLatin1(name));
        e->setGeometry(place);
        e->setToolTip(hint);
        fields_[e].name = fieldName;
    };
    auto check = [page](QCheckBox*& c, const char* name, const QString& caption, QRect place) {
        c = new QCheckBox(caption, page);
        c->setObjectName(QString::fromLatin1(name));
        c->setGeometry(place);
    };

    button(Cmd_SetteiHozon, "Cmd_SetteiHozon", QStringLiteral("設定保存"), {180, 400, 85, 25},
           QStringLiteral("設定内容は必ず保存してください"));
    Cmd_SetteiHozon->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
    Cmd_SetteiHozon->setDefault(true);
    button(Cmd_SetteiCancel, "Cmd_SetteiCancel", QStringLiteral("キャンセル"), {310, 400, 96, 25},
           QStringLiteral("設定内容を保存しません"));
    Cmd_SetteiCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    // Save and Cancel stay in view when the window is too tall for the screen and scrolls.
    for (QPushButton* b : {Cmd_SetteiHozon, Cmd_SetteiCancel}) {
        b->setParent(this);
        b->show(); // shown with the window, as every other control
    }
    fitted_->keepInView(392, {Cmd_SetteiHozon, Cmd_SetteiCancel});
    edit(Edt_Host, "Edt_Host", {85, 10, 121, 20}, QStringLiteral("分からない時はプロバイダーに問い合わせてください"),
         QStringLiteral("HOST名"));
    edit(Edt_Port, "Edt_Port", {85, 35, 56, 20}, QStringLiteral("通常は25のままでＯＫです"), QStringLiteral("ＰＯＲＴ番号"));
    edit(Edt_UserID, "Edt_UserID", {85, 100, 126, 20}, QStringLiteral("メールのユーザーＩＤです"), QStringLiteral("USER-ID"));
    edit(Edt_EMail, "Edt_EMail", {85, 135, 266, 20}, QStringLiteral("発信者のE-MAILアドレスを指定します"),
         QStringLiteral("発信者ｱﾄﾞﾚｽ"));
    edit(Edt_Syomei, "Edt_Syomei", {85, 195, 366, 20}, QStringLiteral("送信時のトレーラファイルを指定します。"),
         QStringLiteral("署名ﾌｧｲﾙ"));
    button(Cmd_FileSentaku, "Cmd_FileSentaku", QStringLiteral("選択 ..."), {465, 195, 75, 21}, {});
    check(ChkBox_Syomei, "ChkBox_Syomei", QStringLiteral("署名ﾌｧｲﾙ"), {10, 195, 76, 17});
    edit(Edt_UserMei, "Edt_UserMei", {85, 70, 126, 20}, QStringLiteral("発信者の名前をセット"), QStringLiteral("発信者名"));
    edit(Edt_Reply, "Edt_Reply", {85, 165, 266, 20}, QStringLiteral("通常発信者のE-MAILアドレスを指定します"),
         QStringLiteral("返信ｱﾄﾞﾚｽ"));
    check(ChkBox_Atesaki, "ChkBox_Atesaki", QStringLiteral("宛先名の自動編集"), {10, 230, 121, 17});
    edit(Edt_Keisyou, "Edt_Keisyou", {145, 230, 46, 20}, QStringLiteral("宛先編集するときに指定します。様や殿など"),
         QStringLiteral("敬称"));
    check(ChkBox_EverySend, "ChkBox_EverySend", QStringLiteral("毎回通知先"), {10, 265, 97, 17});
    edit(Edt_EverySend, "Edt_EverySend", {95, 265, 256, 20},
         QStringLiteral("ご自分のアドレスなど送信確認に使いたいときに指定します"), QStringLiteral("毎回通知先"));
    edit(Edt_Address, "Edt_Address", {95, 295, 356, 20}, QStringLiteral("アドレス帳の指定です"),
         QStringLiteral("電話帳ﾌｧｲﾙ名"));
    button(Cmd_FileSentaku1, "Cmd_FileSentaku1", QStringLiteral("選択 ..."), {465, 295, 75, 25}, {});
    edit(Edt_Log, "Edt_Log", {95, 330, 356, 20}, QStringLiteral("送信ＬＯＧのファイルを指定します。"),
         QStringLiteral("LOG出力"));
    check(ChkBox_Log, "ChkBox_Log", QStringLiteral("LOG出力"), {10, 330, 76, 17});
    edit(Edt_SendData, "Edt_SendData", {110, 365, 341, 20}, QStringLiteral("送信内容を自動で保存したい時に使用します"),
         QStringLiteral("送信ﾃﾞｰﾀ保存"));
    check(ChkBox_SendData, "ChkBox_SendData", QStringLiteral("送信ﾃﾞｰﾀ保存"), {10, 365, 96, 17});
    button(Cmd_FileSentaku2, "Cmd_FileSentaku2", QStringLiteral("選択 ..."), {465, 330, 75, 25}, {});
    button(Cmd_FileSentaku3, "Cmd_FileSentaku3", QStringLiteral("選択 ..."), {465, 365, 75, 25}, {});

    // Start texts, before any rule is connected: they are the controls' design values.
    Edt_Port->setText(QStringLiteral("25"));
    fields_[Edt_Port].sjis = "25";
    Edt_Keisyou->setText(QStringLiteral("様"));
    fields_[Edt_Keisyou].sjis = std::string(tessaly::DefaultKeisyou);
    for (auto& [e, field] : fields_)
        field.shown = e->text();

    QWidget* const tabOrder[] = {Cmd_SetteiHozon, Cmd_SetteiCancel, Edt_Host,       Edt_Port,        Edt_UserID,
                                 Edt_EMail,       Edt_Syomei,       Cmd_FileSentaku, ChkBox_Syomei,  Edt_UserMei,
                                 Edt_Reply,       ChkBox_Atesaki,   Edt_Keisyou,    ChkBox_EverySend, Edt_EverySend,
                                 Edt_Address,     Cmd_FileSentaku1, Edt_Log,        ChkBox_Log,      Edt_SendData,
                                 ChkBox_SendData, Cmd_FileSentaku2, Cmd_FileSentaku3};
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    // Beside the host's example, where the window has room; last in the tab order, so that the
    // given order stays as it is.
    button(Cmd_ServerSyousai, "Cmd_ServerSyousai", QStringLiteral("送信サーバーの詳細..."),
           {405, 8, 140, 25}, QStringLiteral("接続の保護（STARTTLS、SSL/TLS）、SMTP 認証、文字コードを設定します"));
    setTabOrder(Cmd_FileSentaku3, Cmd_ServerSyousai);
    ServerSyousaiF = new TTSY_ServerSyousaiF(dialogs_, this);

    struct LabelDef {
        const char* name;
        int x, y;
        QString text;
        bool example;
    };
    const LabelDef labels[] = {
        {"Label1", 10, 15, QStringLiteral("HOST名"), false},
        {"Label2", 10, 40, QStringLiteral("ＰＯＲＴ番号"), false},
        {"Label9", 10, 75, QStringLiteral("発信者名"), false},
        {"Label3", 10, 105, QStringLiteral("USER-ID"), false},
        {"Label4", 10, 140, QStringLiteral("発信者ｱﾄﾞﾚｽ"), false},
        {"Label11", 10, 170, QStringLiteral("返信ｱﾄﾞﾚｽ"), false},
        {"Label15", 5, 300, QStringLiteral("電話帳ﾌｧｲﾙ名"), false},
        {"Label5", 225, 10, QStringLiteral("例　：　smtp.○○○.ne.jp"), true},
        {"Label6", 225, 45, QStringLiteral("例　：　25"), true},
        {"Label10", 225, 75, QStringLiteral("例　：　山田太郎"), true},
        {"Label7", 225, 110, QStringLiteral("例　：　ユーザー名（半角英数字）"), true},
        {"Label8", 370, 140, QStringLiteral("例　：　taro@example.jp"), true},
        {"Label12", 370, 175, QStringLiteral("例　：　taro@example.jp"), true},
        {"Label13", 205, 235, QStringLiteral("注意　：　全ての宛先に対して適用されます。"), true},
        {"Label14", 370, 270, QStringLiteral("例　：　taro@example.jp"), true},
    };
    for (const LabelDef& def : labels) {
        auto* label = new QLabel(def.text, page);
        label->setObjectName(QString::fromLatin1(def.name));
        if (def.example)
            label->setFont(exampleFont());
        label->move(def.x, def.y);
        label->adjustSize();
    }

    pairs_ = {
        {ChkBox_Syomei, Edt_Syomei, &Settings::ChkBox_Syomei, &Settings::Syomei, true,
         QStringLiteral("署名ファイルが存在しません。"), true},
        {ChkBox_Atesaki, Edt_Keisyou, &Settings::ChkBox_Atesaki, &Settings::Keisyou, false,
         QStringLiteral("敬称が未入力です。"), false},
        {ChkBox_EverySend, Edt_EverySend, &Settings::ChkBox_EverySend, &Settings::EverySend, false,
         QStringLiteral("毎回通知先が未入力です。"), false},
        {ChkBox_Log, Edt_Log, &Settings::ChkBox_Log, &Settings::Log, true,
         QStringLiteral("ＬＯＧファイルが存在しません。"), false},
        {ChkBox_SendData, Edt_SendData, &Settings::ChkBox_SendData, &Settings::SendData, true,
         QStringLiteral("送信データ保存ファイルが存在しません。"), false},
    };

    // Each rule sits in its control's change signal, which Qt emits only on a real change, for
    // the program's assignments as for the user's edits.
    auto guard = [this](auto command) {
        return [this, command] { tessaly::guarded(dialogs_, this, command); };
    };
    const std::pair<QLineEdit*, std::string Settings::*> plain[] = {
        {Edt_Host, &Settings::Host},   {Edt_UserID, &Settings::User},       {Edt_EMail, &Settings::From},
        {Edt_Reply, &Settings::Reply}, {Edt_UserMei, &Settings::UserMei}, {Edt_Address, &Settings::Address},
    };
    for (const auto& [e, field] : plain)
        connect(e, &QLineEdit::textChanged, this, guard([this, e = e, field = field] { plainFieldChanged(e, field); }));
    connect(Edt_Port, &QLineEdit::textChanged, this, guard([this] { Edt_PortChange(); }));
    for (OptionPair& pair : pairs_) {
        OptionPair* p = &pair;
        connect(p->edit, &QLineEdit::textChanged, this, guard([this, p] { optionTextChanged(*p); }));
        connect(p->box, &QCheckBox::toggled, this, [this, p](bool on) {
            tessaly::guarded(dialogs_, this, [this, p, on] { switchToggled(*p, on); });
        });
    }
    Edt_EMail->installEventFilter(this);
    Edt_Reply->installEventFilter(this);

    connect(Cmd_FileSentaku, &QPushButton::clicked, this, guard([this] { fileSentakuClick(Edt_Syomei); }));
    connect(Cmd_FileSentaku1, &QPushButton::clicked, this, guard([this] { fileSentakuClick(Edt_Address); }));
    connect(Cmd_FileSentaku2, &QPushButton::clicked, this, guard([this] { fileSentakuClick(Edt_Log); }));
    connect(Cmd_FileSentaku3, &QPushButton::clicked, this, guard([this] { fileSentakuClick(Edt_SendData); }));
    connect(Cmd_ServerSyousai, &QPushButton::clicked, this, guard([this] { Cmd_ServerSyousaiClick(); }));
    connect(ServerSyousaiF, &QDialog::accepted, this, guard([this] { serverSyousaiAccepted(); }));
    connect(Cmd_SetteiHozon, &QPushButton::clicked, this, [this] { Cmd_SetteiHozonClick(); });
    connect(Cmd_SetteiCancel, &QPushButton::clicked, this, [this] { Cmd_SetteiCancelClick(); });
}

const std::string& TTSY_SetteiF::bytesOf(const QLineEdit* edit) const { return fields_.at(edit).sjis; }

std::string TTSY_SetteiF::hostSjis() const { return bytesOf(Edt_Host); }
std::string TTSY_SetteiF::portSjis() const { return bytesOf(Edt_Port); }
std::string TTSY_SetteiF::userIdSjis() const { return bytesOf(Edt_UserID); }
std::string TTSY_SetteiF::fromSjis() const { return bytesOf(Edt_EMail); }
std::string TTSY_SetteiF::replySjis() const { return bytesOf(Edt_Reply); }
std::string TTSY_SetteiF::userMeiSjis() const { return bytesOf(Edt_UserMei); }
bool TTSY_SetteiF::atesakiOn() const { return ChkBox_Atesaki->isChecked(); }
std::string TTSY_SetteiF::keisyouSjis() const { return bytesOf(Edt_Keisyou); }
bool TTSY_SetteiF::logOn() const { return ChkBox_Log->isChecked(); }
std::string TTSY_SetteiF::logPathSjis() const { return bytesOf(Edt_Log); }
bool TTSY_SetteiF::sendDataOn() const { return ChkBox_SendData->isChecked(); }
std::string TTSY_SetteiF::sendDataPathSjis() const { return bytesOf(Edt_SendData); }
bool TTSY_SetteiF::syomeiOn() const { return ChkBox_Syomei->isChecked(); }
std::string TTSY_SetteiF::syomeiPathSjis() const { return bytesOf(Edt_Syomei); }

Settings TTSY_SetteiF::runFieldsOver(Settings record) const {
    record.Host = hostSjis();
    record.Port = portSjis();
    record.User = userIdSjis();
    record.From = fromSjis();
    record.Reply = replySjis();
    record.UserMei = userMeiSjis();
    record.ChkBox_Atesaki = atesakiOn();
    record.Keisyou = keisyouSjis();
    record.ChkBox_Log = logOn();
    record.Log = logPathSjis();
    record.ChkBox_SendData = sendDataOn();
    record.SendData = sendDataPathSjis();
    return record;
}

void TTSY_SetteiF::clearSignature() {
    assignText(Edt_Syomei, {});
    settings_.Syomei.clear();
    settings_.ChkBox_Syomei = false;
    assignCheck(ChkBox_Syomei, false);
}

void TTSY_SetteiF::clearLog() {
    settings_.Log.clear();
    assignText(Edt_Log, {});
    // Off for this session only: the next start tries the file again.
    tessaly::Settings_HoldKey(settings_, "Settei", "Log");
    tessaly::Settings_HoldKey(settings_, "Settei", "ChkBox_Log");
}

void TTSY_SetteiF::clearAddress() {
    // The record is cleared itself: when the field already shows nothing, assigning it runs no
    // rule, and the unreadable path would stay in the record.
    settings_.Address.clear();
    assignText(Edt_Address, {});
    tessaly::Settings_HoldKey(settings_, "Settei", "Address");
}

void TTSY_SetteiF::assignText(QLineEdit* edit, const std::string& sjis) {
    const QString text = tessaly::fromSjis(sjis);
    Field& field = fields_.at(edit);
    if (text == edit->text()) {
        // Nothing changes on screen, so no rule runs; the bytes behind the text may still
        // differ (code page 932 has a few characters with two codes).
        field.sjis = sjis;
        return;
    }
    const std::string* outer = pendingSjis_;
    pendingSjis_ = &sjis;
    edit->setText(text);
    pendingSjis_ = outer;
}

void TTSY_SetteiF::assignCheck(QCheckBox* box, bool on) { box->setChecked(on); }

bool TTSY_SetteiF::takeText(QLineEdit* edit) {
    Field& field = fields_.at(edit);
    const QString text = edit->text();
    // Loaded bytes are kept as they are, even where a round trip through Unicode would alter them.
    if (pendingSjis_ && tessaly::fromSjis(*pendingSjis_) == text) {
        field.sjis = *pendingSjis_;
        field.shown = text;
        return true;
    }
    QString refusal;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F) {
            refusal = QStringLiteral("%1に制御文字 (U+%2) は入力できません。")
                          .arg(field.name, QStringLiteral("%1").arg(c.unicode(), 4, 16, QLatin1Char('0')).toUpper());
            break;
        }
    }
    std::string bytes;
    if (refusal.isEmpty()) {
        try {
            bytes = tessaly::toSjis(text, field.name);
        } catch (const tessaly::Error& e) {
            refusal = QString::fromUtf8(e.what());
        }
    }
    if (refusal.isEmpty()) {
        field.sjis = std::move(bytes);
        field.shown = text;
        return true;
    }
    // Put the text back as it was, without running the rule again: nothing changed.
    {
        const QSignalBlocker blocker(edit);
        const int grown = static_cast<int>(text.size() - field.shown.size());
        const int cursor = edit->cursorPosition() - std::max(grown, 0);
        edit->setText(field.shown);
        edit->setCursorPosition(std::max(cursor, 0));
    }
    dialogs_.message(this, refusal);
    return false;
}

void TTSY_SetteiF::plainFieldChanged(QLineEdit* edit, std::string Settings::* field) {
    if (takeText(edit))
        settings_.*field = bytesOf(edit);
}

void TTSY_SetteiF::Edt_PortChange() {
    if (!takeText(Edt_Port))
        return;
    // The text is cut before the last byte that is not a digit, and the shortened text goes
    // through the same rule again until only digits remain (a double-byte character counts as
    // two bytes). The user is told once per edit, not once per byte and pass: a stored value of
    // twenty letters would otherwise stack two hundred boxes before the main window appears.
    std::string text = bytesOf(Edt_Port);
    bool cut = false;
    for (;;) {
        const auto last = std::find_if(text.rbegin(), text.rend(), [](char c) { return c < '0' || c > '9'; });
        if (last == text.rend())
            break;
        text.resize(static_cast<std::size_t>(text.rend() - last - 1));
        cut = true;
    }
    if (cut) {
        dialogs_.message(this, MsgPortDigits);
        assignText(Edt_Port, text);
    }
    settings_.Port = bytesOf(Edt_Port);
}

void TTSY_SetteiF::optionTextChanged(const OptionPair& pair) {
    if (takeText(pair.edit))
        pair.box->setChecked(false);
}

void TTSY_SetteiF::switchToggled(const OptionPair& pair, bool on) {
    if (!on) {
        settings_.*pair.flag = false;
        return;
    }
    const std::string& text = bytesOf(pair.edit);
    const bool passes = pair.needsFile ? fileExists(text) : !text.empty();
    if (passes) {
        settings_.*pair.flag = true;
        settings_.*pair.text = text;
        return;
    }
    dialogs_.message(this, pair.message);
    if (pair.clearOnFail)
        assignText(pair.edit, {});
    pair.box->setChecked(false);
    settings_.*pair.flag = false;
}

bool TTSY_SetteiF::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut && (watched == Edt_EMail || watched == Edt_Reply)) {
        // Only a move to another control of this window counts as leaving the field; the window
        // losing activation (a message box, another program) does not.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            reason != Qt::MenuBarFocusReason && isVisible()) {
            auto* edit = static_cast<QLineEdit*>(watched);
            const QString message = edit == Edt_EMail ? QStringLiteral("発信者ドレスに間違いがあります。")
                                                      : QStringLiteral("返信ドレスに間違いがあります。");
            tessaly::guarded(dialogs_, this, [this, edit, message] { addressFieldExit(edit, message); });
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TTSY_SetteiF::addressFieldExit(QLineEdit* edit, const QString& message) {
    // Putting the focus back makes another field lose it; that is no leaving by the user.
    if (checkingAddress_ || tessaly::MailAddress_Check(bytesOf(edit)))
        return;
    const QScopedValueRollback<bool> reset(checkingAddress_, true);
    dialogs_.message(this, message);
    edit->setFocus(Qt::OtherFocusReason);
}

void TTSY_SetteiF::fileSentakuClick(QLineEdit* target) {
    tessaly::FileDialogOptions options;
    options.fileName = openDialogFileName_;
    if (!openDialogFileName_.isEmpty())
        options.initialDir = QFileInfo(openDialogFileName_).absolutePath();
    const QString chosen = dialogs_.openFile(this, options);
    if (chosen.isEmpty())
        return;
    openDialogFileName_ = chosen;
    target->setText(chosen);
}

void TTSY_SetteiF::resetServerDetails() {
    tessaly::wipe(pending_.Password);
    pending_.Security = settings_.Security;
    pending_.Auth = settings_.Auth;
    pending_.Login = settings_.Login;
    pending_.SavePassword = settings_.SavePassword;
    pending_.Charset = settings_.Charset;
    pending_.SkipRefused = settings_.SkipRefused;
    pending_.PerMinute = settings_.PerMinute;
    pending_.PauseEvery = settings_.PauseEvery;
    pending_.PauseSeconds = settings_.PauseSeconds;
    pending_.Retry = settings_.Retry;
    pending_.RetryTries = settings_.RetryTries;
    pending_.ConfirmSend = settings_.ConfirmSend;
    pending_.Cc = settings_.Cc;
    pending_.Bcc = settings_.Bcc;
    pending_.OAuthProvider = settings_.OAuthProvider;
    pending_.OAuthClientId = settings_.OAuthClientId;
    pending_.OAuthAuthorizationUrl = settings_.OAuthAuthorizationUrl;
    pending_.OAuthTokenUrl = settings_.OAuthTokenUrl;
    pending_.OAuthScope = settings_.OAuthScope;
    tessaly::wipe(pending_.OAuthClientSecret);
    pending_.Host.clear();
    pending_.ClearTrust = false;
}

void TTSY_SetteiF::Cmd_ServerSyousaiClick() {
    ServerDetails shown = pending_;
    shown.Password.clear();
    shown.Port = portSjis();
    shown.CurrentHostSjis = hostSjis();
    // Read now: a send run may have added one since the settings were loaded.
    shown.HasTrustedCerts = !settings_.TrustedCerts.empty();
    ServerSyousaiF->showWith(shown);
}

void TTSY_SetteiF::serverSyousaiAccepted() {
    ServerDetails chosen = ServerSyousaiF->takeValues();
    // A password typed on an earlier opening stays unless a new one was typed.
    if (chosen.Password.empty())
        chosen.Password.swap(pending_.Password);
    tessaly::wipe(pending_.Password);
    if (chosen.OAuthClientSecret.empty())
        chosen.OAuthClientSecret.swap(pending_.OAuthClientSecret);
    tessaly::wipe(pending_.OAuthClientSecret);
    pending_ = std::move(chosen);
    // The port is a field of this window: the proposal lands there as a typed port would; so
    // does the server of a provider choice.
    assignText(Edt_Port, pending_.Port);
    if (!pending_.Host.empty())
        assignText(Edt_Host, pending_.Host);
}

void TTSY_SetteiF::storePassword(bool wasSaved) {
    const bool auth = settings_.Auth == 1;
    // A client secret typed for an OAuth registration goes to the keyring alone.
    if (passwords_ && settings_.Auth == 2 && !pending_.OAuthClientSecret.empty() &&
        passwords_->store().write(tessaly::oauthClientSecretKey(settings_), pending_.OAuthClientSecret) !=
            tessaly::SecretStatus::Ok)
        dialogs_.message(this, QStringLiteral("キーリングを使えないため、クライアント シークレットを保存できませんでした。\r\n"
                                              "キーリングを使える状態にしてから、もう一度入力してください。"));
    tessaly::wipe(pending_.OAuthClientSecret);
    if (passwords_ && auth) {
        const std::string key = tessaly::SmtpPasswords::keyFor(
            hostSjis(), QString::fromStdString(portSjis()).toInt(), settings_.Login);
        if (wasSaved && !settings_.SavePassword)
            passwords_->forgetSaved(key);
        if (!pending_.Password.empty() &&
            passwords_->typed(key, pending_.Password, settings_.SavePassword) !=
                tessaly::SecretStatus::Ok)
            dialogs_.message(this, QStringLiteral("キーリングを使えないため、パスワードを保存できませんでした。\r\n"
                                                  "Tessalyを終了するまでは、入力したパスワードを使います。"));
    }
    tessaly::wipe(pending_.Password);
}

void TTSY_SetteiF::Cmd_SetteiHozonClick() {
    tessaly::guarded(dialogs_, this, [this] {
        const bool wasSaved = settings_.Auth == 1 && settings_.SavePassword;
        settings_.Security = pending_.Security;
        settings_.Auth = pending_.Auth;
        settings_.Login = pending_.Login;
        settings_.SavePassword = pending_.SavePassword;
        settings_.Charset = pending_.Charset;
        settings_.SkipRefused = pending_.SkipRefused;
        settings_.PerMinute = pending_.PerMinute;
        settings_.PauseEvery = pending_.PauseEvery;
        settings_.PauseSeconds = pending_.PauseSeconds;
        settings_.Retry = pending_.Retry;
        settings_.RetryTries = pending_.RetryTries;
        settings_.ConfirmSend = pending_.ConfirmSend;
        settings_.Cc = pending_.Cc;
        settings_.Bcc = pending_.Bcc;
        settings_.OAuthProvider = pending_.OAuthProvider;
        settings_.OAuthClientId = pending_.OAuthClientId;
        settings_.OAuthAuthorizationUrl = pending_.OAuthAuthorizationUrl;
        settings_.OAuthTokenUrl = pending_.OAuthTokenUrl;
        settings_.OAuthScope = pending_.OAuthScope;
        if (pending_.ClearTrust)
            settings_.TrustedCerts.clear();
        pending_.ClearTrust = false;
        Settings_Save(settings_, startDirectory_);
        storePassword(wasSaved);
        if (mainWindow_)
            mainWindow_->setEnabled(true);
        close();
    });
}

void TTSY_SetteiF::Cmd_SetteiCancelClick() {
    tessaly::guarded(dialogs_, this, [this] {
        Settings_Load(settings_, startDirectory_, dialogs_, *this, mainWindow_, addressWindow_);
        close();
    });
}

void TTSY_SetteiF::reject() { Cmd_SetteiCancelClick(); }

void TTSY_SetteiF::closeEvent(QCloseEvent* event) {
    settings_.Settei_X = x();
    settings_.Settei_Y = y();
    if (mainWindow_)
        mainWindow_->setEnabled(true);
    event->accept();
}

bool Settings_Load(Settings& s, const std::string& startDirectory, tessaly::Dialogs& dialogs, TTSY_SetteiF& w,
                   QWidget* mainWindow, QWidget* addressWindow) {
    const std::string iniSjis = tessaly::iniPath(startDirectory);
    // From Cancel the main window is disabled; a message then belongs to this window.
    QWidget* parent = (w.isVisible() || !mainWindow) ? static_cast<QWidget*>(&w) : mainWindow;
    const ini::IniFile file(cp932::pathFromSjis(iniSjis));
    // A folder in the file's place is no first start: it is a file that cannot be read.
    if (!file.existed())
        dialogs.notice(parent, QStringLiteral("Tessalyの環境を初期設定します。"),
                       QStringLiteral("ツールバーの「環境設定画面表示」で設定画面を開き、\r\n"
                                      "プロバイダーから知らされた送信サーバー（HOST名）と、\r\n"
                                      "発信者名・発信者アドレスを入力してください。\r\n"
                                      "詳しくは、使い方ガイド（F1）の「最初の起動」をご覧ください。"));
    if (const std::string unreadable = tessaly::Settings_NoteIniRead(s, file, iniSjis); !unreadable.empty())
        dialogs.message(parent, QString::fromStdString(unreadable));
    // First, because no step of it can fail: a path error further down stops the load, and the
    // connection settings must not be lost with it.
    tessaly::Submission_Load(s, file);
    w.resetServerDetails();
    const char* settei = "Settei";

    auto text = [&](const char* key, std::string_view def, std::string Settings::* field, QLineEdit* edit) {
        s.*field = file.readString(settei, key, def);
        w.assignText(edit, s.*field);
    };
    auto flag = [&](const char* key, bool Settings::* field, QCheckBox* box) {
        s.*field = file.readBool(settei, key, false);
        w.assignCheck(box, s.*field);
    };
    // A missing file is created empty so that appending finds it; an empty path names no file.
    auto ensureFile = [](const std::string& path) {
        if (!path.empty() && !fileExists(path))
            createEmptyFile(path);
    };

    try {
        text("Host", tessaly::DefaultHost, &Settings::Host, w.Edt_Host);
        text("Port", tessaly::DefaultPort, &Settings::Port, w.Edt_Port);
        text("User", {}, &Settings::User, w.Edt_UserID);
        text("From", {}, &Settings::From, w.Edt_EMail);
        text("Reply", {}, &Settings::Reply, w.Edt_Reply);
        text("UserMei", {}, &Settings::UserMei, w.Edt_UserMei);
        text("Syomei", {}, &Settings::Syomei, w.Edt_Syomei);
        flag("ChkBox_Syomei", &Settings::ChkBox_Syomei, w.ChkBox_Syomei);
        text("Keisyou", tessaly::DefaultKeisyou, &Settings::Keisyou, w.Edt_Keisyou);
        flag("ChkBox_Atesaki", &Settings::ChkBox_Atesaki, w.ChkBox_Atesaki);
        text("EverySend", {}, &Settings::EverySend, w.Edt_EverySend);
        flag("ChkBox_EverySend", &Settings::ChkBox_EverySend, w.ChkBox_EverySend);
        text("Address", startDirectory + std::string(tessaly::DefaultAddressName), &Settings::Address, w.Edt_Address);
        text("Log", startDirectory + std::string(tessaly::DefaultLogName), &Settings::Log, w.Edt_Log);
        ensureFile(s.Log);
        flag("ChkBox_Log", &Settings::ChkBox_Log, w.ChkBox_Log);
        text("SendData", startDirectory + std::string(tessaly::DefaultSendDataName), &Settings::SendData, w.Edt_SendData);
        ensureFile(s.SendData);
        flag("ChkBox_SendData", &Settings::ChkBox_SendData, w.ChkBox_SendData);

        // A window off every screen is brought back to the nearest place the user can reach, and
        // the record keeps that place, so that the next save stores it.
        auto place = [&](const char* keyX, const char* keyY, int Settings::* x, int Settings::* y, QWidget* window) {
            s.*x = file.readInteger("Window", keyX, 0);
            s.*y = file.readInteger("Window", keyY, 0);
            if (window) {
                const QPoint at = tessaly::placeWindow(*window, QPoint(s.*x, s.*y));
                s.*x = at.x();
                s.*y = at.y();
            }
        };
        place("Main_X", "Main_Y", &Settings::Main_X, &Settings::Main_Y, mainWindow);
        place("Settei_X", "Settei_Y", &Settings::Settei_X, &Settings::Settei_Y, &w);
        place("Address_X", "Address_Y", &Settings::Address_X, &Settings::Address_Y, addressWindow);
    } catch (...) {
        // The steps after the failing one did not run: whatever the record holds for the keys
        // they would have read did not come from the file and must not overwrite it.
        tessaly::Settings_HoldUnread(s, file);
        throw;
    }
    s.heldKeys.clear();
    return true;
}

#include "moc_settings_window.cpp"
