#include "app/main_window.h"

#include "address/address_book.h"
#include "address/address_window.h"
#include "address/utf8_address_file.h"
#include "app/attachment_window.h"
#include "app/hit_list_window.h"
#include "app/recipient_list.h"
#include "app/run_status_bar.h"
#include "app/toolbar_icons.h"
#include "common/controls.h"
#include "common/cp932.h"
#include "common/dialogs.h"
#include "common/error_guard.h"
#include "common/secondary_window.h"
#include "common/text.h"
#include "common/text_file.h"
#include "common/window_fonts.h"
#include "log/log_window.h"
#include "sending/send_runner.h"
#include "settings/settings_window.h"
#include "smtp/smtp_client.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QTextBlock>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <sys/utsname.h>
#include <tuple>

namespace {

const QString kTitle = QStringLiteral("Tessaly 2.7S");
const QString kNoSubject = QStringLiteral("無題");
const QString kComposing = QStringLiteral("送信メッセージの作成！");
const QString kTextFilter = QStringLiteral("Text files (*.txt)");
const QString kAllFilesFilter = QStringLiteral("全てのファイル(*.*) (*)");

// The kernel's major and minor version stand for the operating-system version; `major` and
// `minor` stay as they are when it cannot be read.
void kernelVersion(int& major, int& minor) {
    utsname name{};
    int a = 0;
    int b = 0;
    if (uname(&name) == 0 && std::sscanf(name.release, "%d.%d", &a, &b) == 2)
        std::tie(major, minor) = std::tie(a, b);
}

tessaly::FileDialogOptions bodyFileDialog(const QString& title) {
    tessaly::FileDialogOptions options;
    options.title = title;
    options.filter = kTextFilter;
    options.defaultExt = QStringLiteral("txt");
    return options;
}

} // namespace

TTSY_MainF::TTSY_MainF(tessaly::Dialogs& dialogs, Settings& settings, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      dialogs_(dialogs), settings_(settings) {
    setObjectName(QStringLiteral("TTSY_MainF"));
    setWindowTitle(kTitle);
    setFont(tessaly::proportionalGothic(12));
    setFixedSize(562, 421);
    move(104, 84);
    buildControls();
    createSmtpClient();
    FormCreate();
}

TTSY_MainF::~TTSY_MainF() = default;

void TTSY_MainF::setWindows(TTSY_SetteiF* settei, tessaly::AddressBook* addressBook,
                            TTSY_Adrs_HitF* hitList, TTSY_AddressF* addressWindow,
                            TTSY_LogF* logWindow) {
    settei_ = settei;
    addressBook_ = addressBook;
    hitList_ = hitList;
    addressWindow_ = addressWindow;
    logWindow_ = logWindow;
}

void TTSY_MainF::buildControls() {
    const QFont fixed13 = tessaly::fixedGothic(13);

    Label2 = tessaly::makeLabel(this, "Label2", QStringLiteral("To　："), 15, 36);

    Edt_To = new QLineEdit(this);
    Edt_To->setObjectName(QStringLiteral("Edt_To"));
    Edt_To->setFont(fixed13);
    Edt_To->setGeometry(60, 31, 491, 21);
    Edt_To->installEventFilter(this);

    Cmd_To = new QPushButton(QStringLiteral("宛先 ..."), this);
    Cmd_To->setObjectName(QStringLiteral("Cmd_To"));
    Cmd_To->setToolTip(QStringLiteral("宛先データの読み込み"));
    Cmd_To->setGeometry(5, 56, 51, 21);
    connect(Cmd_To, &QPushButton::clicked, this, [this] { Cmd_ToClick(); });

    List_To = new tessaly::RecipientList(this);
    List_To->setGeometry(60, 56, 491, 46);
    List_To->viewport()->installEventFilter(this);

    Cmd_Del = new QPushButton(QStringLiteral("削除"), this);
    Cmd_Del->setObjectName(QStringLiteral("Cmd_Del"));
    Cmd_Del->setToolTip(QStringLiteral("宛先を削除"));
    Cmd_Del->setFocusPolicy(Qt::ClickFocus);
    Cmd_Del->setEnabled(false);
    Cmd_Del->setGeometry(5, 81, 51, 21);
    connect(Cmd_Del, &QPushButton::clicked, this, [this] { Cmd_DelClick(); });

    Label1 = tessaly::makeLabel(this, "Label1", QStringLiteral("Subject："), 10, 111);

    Edt_Subject = new QLineEdit(kNoSubject, this);
    Edt_Subject->setObjectName(QStringLiteral("Edt_Subject"));
    Edt_Subject->setFont(fixed13);
    Edt_Subject->setToolTip(QStringLiteral("無題では送信できません"));
    Edt_Subject->setGeometry(60, 111, 491, 21);

    Memo_Sjis = new QPlainTextEdit(this);
    Memo_Sjis->setObjectName(QStringLiteral("Memo_Sjis"));
    Memo_Sjis->setFont(fixed13);
    Memo_Sjis->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo_Sjis->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_Sjis->setTabChangesFocus(true);
    tessaly::BreakLinesOnShiftEnter(Memo_Sjis);
    Memo_Sjis->setGeometry(10, 136, 541, 255);

    setTabOrder(Edt_To, Cmd_To);
    setTabOrder(Cmd_To, Edt_Subject);
    setTabOrder(Edt_Subject, Memo_Sjis);

    buildToolBar();
    StatusBar1 = new tessaly::RunStatusBar(this);
    StatusBar1->setGeometry(0, 397, 562, 24);
    ProgressBar1 = StatusBar1->progressBar();
}

void TTSY_MainF::buildToolBar() {
    ToolBar1 = new QToolBar(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setIconSize(QSize(22, 22));
    ToolBar1->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->setContentsMargins(0, 0, 0, 0);
    ToolBar1->setGeometry(0, 0, 562, 29);

    using tessaly::ToolIcon;
    struct Button {
        QToolButton* TTSY_MainF::*field;
        const char* name;
        ToolIcon icon;
        QString hint;
        void (TTSY_MainF::*handler)();
        bool separated; // a line before it
    };
    const Button buttons[] = {
        {&TTSY_MainF::TB_Send, "TB_Send", ToolIcon::Send, QStringLiteral("メール送信開始"), &TTSY_MainF::TB_SendClick, true},
        {&TTSY_MainF::TB_Stop, "TB_Stop", ToolIcon::Stop, QStringLiteral("送信中止"), &TTSY_MainF::TB_StopClick, true},
        {&TTSY_MainF::TB_Address, "TB_Address", ToolIcon::AddressBook, QStringLiteral("アドレス帳"),
         &TTSY_MainF::TB_AddressClick, false},
        {&TTSY_MainF::TB_Read, "TB_Read", ToolIcon::Read, QStringLiteral("本文読み込み"), &TTSY_MainF::TB_ReadClick, false},
        {&TTSY_MainF::TB_Save, "TB_Save", ToolIcon::Save, QStringLiteral("送信内容保存"), &TTSY_MainF::TB_SaveClick, false},
        {&TTSY_MainF::TB_Clear, "TB_Clear", ToolIcon::Clear, QStringLiteral("クリア"), &TTSY_MainF::TB_ClearClick, false},
        {&TTSY_MainF::TB_Log_Disp, "TB_Log_Disp", ToolIcon::Log, QStringLiteral("送信ログ表示"),
         &TTSY_MainF::TB_Log_DispClick, true},
        {&TTSY_MainF::TB_Settei, "TB_Settei", ToolIcon::Settings, QStringLiteral("環境設定画面表示"),
         &TTSY_MainF::TB_SetteiClick, true},
        {&TTSY_MainF::TB_End, "TB_End", ToolIcon::End, QStringLiteral("終了"), &TTSY_MainF::TB_EndClick, false},
    };
    for (const Button& b : buttons) {
        if (b.separated)
            ToolBar1->addSeparator();
        // Send and stop wait for a recipient and a run.
        QToolButton* button = tessaly::addToolButton(ToolBar1, b.name, b.icon, b.hint,
                                            b.field != &TTSY_MainF::TB_Send && b.field != &TTSY_MainF::TB_Stop);
        this->*b.field = button;
        // Every command runs inside the general error display.
        connect(button, &QToolButton::clicked, this, [this, handler = b.handler] {
            tessaly::guarded(dialogs_, this, [this, handler] { (this->*handler)(); });
        });
    }
    buildSendMenu();
}

// ---- Start, show, close ----

void TTSY_MainF::FormCreate() {
    // The general error display is tessaly::guarded, through which every command runs.
    startDirectory_ = tessaly::currentStartDirectory();
    setStatus(kComposing);
    kernelVersion(osMajorVersion_, osMinorVersion_); // 4.10 when it cannot be read
}

void TTSY_MainF::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        tessaly::guarded(dialogs_, this, [this] { FormShow(); });
    }
}

void TTSY_MainF::FormShow() {
    if (settei_)
        Settings_Load(settings_, startDirectory_, dialogs_, *settei_, this, addressWindow_);
    AppendSignature();
    if (addressBook_) {
        if (const auto utf8 = tessaly::AddressFile_FindUtf8(settings_.Address);
            utf8 && dialogs_.askYesNoDefaultNo(this, QStringLiteral("アドレス帳の文字コード"), utf8->question))
            tessaly::AddressFile_ConvertToShiftJis(*utf8, settings_.Address, dialogs_, this);
        tessaly::AddressBook_Load(*addressBook_, settings_.Address, [this] {
            if (settei_)
                settei_->clearAddress();
            else
                settings_.Address.clear();
        });
    }
}

void TTSY_MainF::closeEvent(QCloseEvent* event) {
    // Ending the program in the middle of a run would cut off the message being sent: the run
    // stops before its next recipient, ends as usual, and then the window closes.
    if (runner_->running()) {
        closeAfterRun_ = true;
        runner_->requestStop(true);
        event->ignore();
        return;
    }
    settings_.Main_X = x();
    settings_.Main_Y = y();
    const bool saved = tessaly::guarded(dialogs_, this,
                                        [this] { Settings_SaveOnClose(settings_, startDirectory_); });
    // The first failure keeps the program open, so that the user can make TSY2.ini writable and
    // close again. Once it has failed before, the user may end without saving rather than be
    // trapped in the program with nothing left but to kill it.
    if (saved || (closeSaveFailed_ &&
                  dialogs_.askYesNoDefaultNo(
                      this, QStringLiteral("警告"),
                      QStringLiteral("設定を保存できませんでした。保存せずに終了しますか？")))) {
        event->accept();
        return;
    }
    closeSaveFailed_ = true;
    event->ignore();
}

void TTSY_MainF::TB_EndClick() { close(); }

// ---- Status and recipients ----

void TTSY_MainF::setStatus(const QString& text) { StatusBar1->setStatus(text); }

QString TTSY_MainF::statusText() const { return StatusBar1->status(); }

void TTSY_MainF::addRecipients(const std::vector<std::string>& entriesSjis, const QString& source,
                               const tessaly::AddressBookPlace& place) {
    const bool fromBook = source == QStringLiteral("アドレス帳");
    for (const std::string& entry : entriesSjis) {
        // A name search finds entries across the whole book: the first record that makes the
        // entry tells its group and member.
        const bool lookUp = fromBook && place.groupSjis.empty() && addressBook_;
        List_To->add(entry, source,
                     !fromBook ? tessaly::AddressBookPlace()
                     : lookUp  ? tessaly::AddressBook_PlaceOf(*addressBook_, entry)
                               : place);
    }
    if (!entriesSjis.empty())
        enableSend();
}

void TTSY_MainF::enableSend() {
    // A recipient added while a run is sending must not start a second run inside it; the
    // run enables TB_Send itself when it ends.
    if (!runner_->running())
        TB_Send->setEnabled(true);
}

std::vector<std::string> TTSY_MainF::recipientsSjis() const { return List_To->entriesSjis(); }

std::vector<tessaly::AddressBookPlace> TTSY_MainF::recipientPlaces() const { return List_To->places(); }

std::vector<QString> TTSY_MainF::recipientSources() const { return List_To->sources(); }

bool TTSY_MainF::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edt_To) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                tessaly::guarded(dialogs_, this, [this] { takeTypedRecipient(); });
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            // A message box or another window taking the focus, or this window being disabled
            // for one, is no exit from the field.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                isEnabled())
                tessaly::guarded(dialogs_, this, [this] { Edt_ToExit(); });
        }
    } else if (watched == List_To->viewport() && event->type() == QEvent::MouseButtonRelease) {
        List_ToClick();
    }
    return QWidget::eventFilter(watched, event);
}

void TTSY_MainF::Edt_ToExit() { takeTypedRecipient(); }

void TTSY_MainF::takeTypedRecipient() {
    // The message box or the hit list shown below takes the focus away from Edt_To; that
    // must not take the same text a second time.
    if (takingRecipient_ || Edt_To->text().isEmpty())
        return;
    const QScopedValueRollback<bool> reset(takingRecipient_, true);

    const std::string typed = tessaly::toSjis(Edt_To->text(), QStringLiteral("宛先"));
    if (addressBook_) {
        const tessaly::AddressSearchResult found =
            tessaly::AddressBook_FindByName(*addressBook_, typed);
        if (found.outcome == tessaly::AddressSearchResult::OneHit) {
            addRecipients({found.hits.front()}, QStringLiteral("アドレス帳"));
            Edt_To->clear();
            return;
        }
        if (found.outcome == tessaly::AddressSearchResult::SeveralHits) {
            Edt_To->clear();
            if (hitList_)
                hitList_->showHits(found.hits);
            return;
        }
    }
    std::string trimmed;
    if (tessaly::MailAddress_Check(typed, trimmed)) {
        addRecipients({trimmed}, QStringLiteral("手入力"));
        Edt_To->clear();
    } else {
        dialogs_.message(this, QStringLiteral("アドレス入力に誤りがあります。"));
    }
}

void TTSY_MainF::List_ToClick() {
    if (List_To->count() > 0 && List_To->currentRow() >= 0)
        Cmd_Del->setEnabled(true);
}

void TTSY_MainF::Cmd_DelClick() {
    List_To->removeSelected();
    Cmd_Del->setEnabled(false);
    if (List_To->count() == 0)
        TB_Send->setEnabled(false);
}

void TTSY_MainF::Cmd_ToClick() {
    tessaly::FileDialogOptions options;
    options.initialDir = QString::fromStdString(cp932::pathFromSjis(startDirectory_));
    if (options.initialDir.isEmpty())
        options.initialDir = QStringLiteral("/");
    options.title = QStringLiteral("宛先をファイルから読み込む");
    options.filter = kTextFilter + QStringLiteral(";;") + kAllFilesFilter;
    options.defaultExt = QStringLiteral("txt");
    openDialogFolder_ = options.initialDir;
    const QString path = dialogs_.openFile(this, options);
    if (!path.isEmpty()) {
        tessaly::guarded(dialogs_, this, [&] {
            tessaly::RecipientFile_Read(path.toStdString(), dialogs_, this,
                                        [this, source = QStringLiteral("ファイル %1").arg(QFileInfo(path).fileName())](
                                            const std::string& a) { addRecipients({a}, source); });
        });
    }
    if (List_To->count() > 0)
        enableSend();
}

// ---- Body ----

void TTSY_MainF::appendBodyLine(const QString& line) {
    // Each added line ends with a line break, so the field ends in an empty line the next
    // addition fills; a last line the user typed without a break gets one first.
    QTextDocument* doc = Memo_Sjis->document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    QString text = line + QLatin1Char('\n');
    if (!doc->lastBlock().text().isEmpty())
        text.prepend(QLatin1Char('\n'));
    cursor.insertText(text);
}

void TTSY_MainF::readBodyFile(const QString& fsPath) {
    for (const std::string& line : tessaly::TextFile_ReadLines(fsPath.toStdString(), fsPath))
        appendBodyLine(tessaly::fromSjis(line));
}

void TTSY_MainF::AppendSignature() {
    if (!settei_ || !settei_->syomeiOn())
        return;
    appendBodyLine(QStringLiteral("\n--"));
    const std::string pathSjis = settei_->syomeiPathSjis();
    const std::string fsPath = cp932::pathFromSjis(pathSjis);
    if (!fsPath.empty() && QFileInfo::exists(QString::fromStdString(fsPath)) &&
        !QFileInfo(QString::fromStdString(fsPath)).isDir()) {
        readBodyFile(QString::fromStdString(fsPath));
        return;
    }
    dialogs_.message(this, QStringLiteral("署名ファイル\r\n") + tessaly::fromSjis(pathSjis) +
                               QStringLiteral("が見つかりません。\r\n") +
                               QStringLiteral("設定をクリアします。"));
    settei_->clearSignature();
}

void TTSY_MainF::TB_ReadClick() {
    const tessaly::EnableOnExit reenable(TB_Read);

    tessaly::FileDialogOptions options = bodyFileDialog(QStringLiteral("メール本文をファイルから読み込む"));
    options.initialDir = openDialogFolder_;
    const QString path = dialogs_.openFile(this, options);
    if (path.isEmpty())
        return;
    openDialogFolder_ = QFileInfo(path).absolutePath();
    // Read before the field is emptied: a file that cannot be read leaves the user's text.
    const std::vector<std::string> lines = tessaly::TextFile_ReadLines(path.toStdString(), path);
    Memo_Sjis->clear();
    for (const std::string& line : lines)
        appendBodyLine(tessaly::fromSjis(line));
    // A body saved with its signature reads back as it was: a second signature block would make
    // it another mail, and a stopped run of it could not be continued.
    if (!endsWithSignature(lines))
        AppendSignature();
}

bool TTSY_MainF::endsWithSignature(const std::vector<std::string>& linesSjis) const {
    if (!settei_ || !settei_->syomeiOn())
        return false;
    const QString fsPath = QString::fromStdString(cp932::pathFromSjis(settei_->syomeiPathSjis()));
    if (fsPath.isEmpty() || !QFileInfo(fsPath).isFile())
        return false; // AppendSignature says so and clears the setting
    std::vector<std::string> block{std::string(), "--"};
    for (std::string& line : tessaly::TextFile_ReadLines(fsPath.toStdString(), fsPath))
        block.push_back(std::move(line));
    return linesSjis.size() >= block.size() &&
           std::equal(block.begin(), block.end(), linesSjis.end() - static_cast<std::ptrdiff_t>(block.size()));
}

void TTSY_MainF::TB_SaveClick() {
    const tessaly::EnableOnExit reenable(TB_Save);

    const tessaly::FileDialogOptions options = bodyFileDialog(QStringLiteral("送信内容のＳａｖｅ！！"));
    const QString path = dialogs_.saveFile(this, options);
    if (path.isEmpty())
        return;
    // The user's own text: lines as typed, so that a read gives back the same field.
    QStringList lines = Memo_Sjis->toPlainText().split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    tessaly::TextFile_WriteLines(path.toStdString(), path, bodyLinesSjis(lines), false);
}

std::vector<std::string> TTSY_MainF::bodyLinesSjis(const QStringList& lines) const {
    std::vector<std::string> linesSjis;
    int number = 0;
    for (const QString& line : lines)
        linesSjis.push_back(tessaly::toSjis(line, QStringLiteral("本文 %1 行目").arg(++number)));
    return linesSjis;
}

void TTSY_MainF::TB_ClearClick() {
    List_To->clear();
    Memo_Sjis->clear();
    runner_->clearConvertedBody();
    Edt_Subject->setText(kNoSubject);
    setStatus(kComposing);
    TB_Send->setEnabled(false);
    if (attachWindow_)
        attachWindow_->clear();
    AppendSignature();
}

QStringList TTSY_MainF::displayedBodyLines() const { return tessaly::DisplayedLines(*Memo_Sjis); }

// ---- Other windows ----

void TTSY_MainF::TB_AddressClick() {
    if (addressWindow_)
        addressWindow_->open();
}

void TTSY_MainF::TB_Log_DispClick() {
    if (logWindow_)
        logWindow_->open();
}

void TTSY_MainF::TB_SetteiClick() {
    if (settei_)
        tessaly::showOverMainWindow(*settei_, this);
}
#include "moc_main_window.cpp"
