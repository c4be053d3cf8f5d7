// The window "送信サーバーの詳細" TTSY_ServerSyousaiF, opened from the settings window: the
// connection's protection, the SMTP login and the character code of the mail.
#pragma once

#include "settings/settings.h"

#include <QDialog>
#include <QString>
#include <optional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace tessaly {
class Dialogs;
class FittedPage;
} // namespace tessaly

// What the window edits: the Submission settings, the port of the settings window (a change of
// the protection proposes the usual port), and a password typed here.
struct ServerDetails {
    int Security = 0;
    int Auth = 0;
    std::string Login;
    bool SavePassword = true;
    int Charset = 0;
    std::string Port;             // ASCII digits, as Edt_Port holds them
    std::string Password;         // UTF-8; empty when nothing was typed (the known one stays)
    bool HasTrustedCerts = false; // shown: there are certificates the user chose to trust
    bool ClearTrust = false;      // the user chose to forget them
    // How a long run keeps going (the Settings fields of the same names).
    bool SkipRefused = false;
    int PerMinute = 0;
    int PauseEvery = 0;
    int PauseSeconds = 60;
    bool Retry = false;
    int RetryTries = 3;
    bool ConfirmSend = false;
    std::string Cc;  // the copies of every message, as typed (ASCII)
    std::string Bcc;
    // OAuth 2.0 (Auth 2): the provider and the organisation's application registration (ASCII).
    int OAuthProvider = 0;
    std::string OAuthClientId;
    std::string OAuthAuthorizationUrl;
    std::string OAuthTokenUrl;
    std::string OAuthScope;
    std::string OAuthClientSecret; // typed; empty when nothing was typed (the known one stays)
    std::string Host;              // the server a provider choice proposes; empty: Edt_Host stays
    std::string CurrentHostSjis;   // Edt_Host as the window opens, named when a provider proposes another
};

// A child of the settings window, created with it and kept. showWith() shows it modal over the
// settings window without waiting; OK (after its checks) emits accepted(), and values() then
// holds what the user chose. OK, Cancel and Escape hide it; the password field is emptied
// whichever way it closes.
//
// A known OAuth provider has its own server. Choosing it only proposes that server, port and
// protection: they replace the user's own only when the user says yes to a question that names
// both, and leaving OAuth (or choosing その他) puts the user's own back.
class TTSY_ServerSyousaiF : public QDialog {
    Q_OBJECT
public:
    TTSY_ServerSyousaiF(tessaly::Dialogs& dialogs, QWidget* settingsWindow);
    ~TTSY_ServerSyousaiF() override;

    void showWith(const ServerDetails& values);
    // The choices as they stand; Password is taken out of the field (the field is emptied).
    ServerDetails takeValues();

    // The usual port of each protection: 25 (none), 587 (STARTTLS), 465 (SSL/TLS).
    static int usualPort(int security);

    void Cmd_OKClick();

    QComboBox* Cmb_Security = nullptr;
    QCheckBox* ChkBox_Auth = nullptr;
    QLineEdit* Edt_Login = nullptr;
    QLineEdit* Edt_Password = nullptr;
    QCheckBox* ChkBox_SavePassword = nullptr;
    QComboBox* Cmb_Charset = nullptr;
    QPushButton* Cmd_OK = nullptr;
    QPushButton* Cmd_Cancel = nullptr;
    QPushButton* Cmd_ClearTrust = nullptr;
    QLabel* Label_Port = nullptr;
    QCheckBox* ChkBox_SkipRefused = nullptr;
    QSpinBox* Spn_PerMinute = nullptr;
    QSpinBox* Spn_PauseEvery = nullptr;
    QSpinBox* Spn_PauseSeconds = nullptr;
    QCheckBox* ChkBox_Retry = nullptr;
    QSpinBox* Spn_RetryTries = nullptr;
    QCheckBox* ChkBox_ConfirmSend = nullptr;
    QLineEdit* Edt_Cc = nullptr;
    QLineEdit* Edt_Bcc = nullptr;
    QLabel* Label_OAuthServer = nullptr; // the server a provider choice set
    QComboBox* Cmb_AuthKind = nullptr;   // password, or OAuth 2.0 with a sign-in in the browser
    QComboBox* Cmb_OAuthProvider = nullptr;
    QLineEdit* Edt_OAuthClientId = nullptr;
    QLineEdit* Edt_OAuthClientSecret = nullptr;
    QLineEdit* Edt_OAuthAuthorizationUrl = nullptr;
    QLineEdit* Edt_OAuthTokenUrl = nullptr;
    QLineEdit* Edt_OAuthScope = nullptr;

protected:
    void done(int result) override;

private:
    void buildControls();
    void Cmb_SecurityChange(int index);
    void ChkBox_AuthClick();
    void Cmb_AuthKindChange();
    void Cmb_OAuthProviderChange(int index);
    void fillProviderEndpoints(int index);
    void followAuthMode();
    void proposeProviderServer();
    void restoreOwnServer();
    void enableAuthControls();
    void buildOAuthControls();
    bool oauthChosen() const;
    QString oauthRefusal() const;
    void Cmd_ClearTrustClick();
    void showPort();

    tessaly::Dialogs& dialogs_;
    tessaly::FittedPage* fitted_ = nullptr;
    std::string port_;
    std::string host_; // the provider's server the user accepted; empty: Edt_Host stays
    QString currentHost_; // Edt_Host as the window opened
    // What stood before the user accepted a provider's server, to go back to.
    struct OwnServer {
        int security = 0;
        std::string port;
    };
    std::optional<OwnServer> own_;
    bool clearTrust_ = false;
};
