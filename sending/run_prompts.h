// What a send run asks of its owner, and the questions' texts. The run never shows anything
// itself: the main window answers through its dialogs, tests through a fake.
#pragma once

#include "common/dialogs.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tessaly {

struct JournalState;

// A certificate that failed its check, offered to be trusted for this host and port.
struct CertificateQuestion {
    QString text;            // the question as the user reads it
    std::string hostSjis;
    int port = 0;
    std::string fingerprint; // SHA-256, 64 lowercase hex digits
};

class RunPrompts {
public:
    virtual ~RunPrompts() = default;

    // A plain message the user reads before the run goes on or ends (an unknown host, a
    // sign-in that must be done again).
    virtual void inform(const QString& text) = 0;
    // The password of a login; none when the user cancelled.
    virtual std::optional<std::string> askPassword(const QString& question) = 0;
    // True to trust the certificate; the owner then keeps that for the host and port at once,
    // so that no later cancel or crash loses the decision.
    virtual bool trustCertificate(const CertificateQuestion& question) = 0;
    // An unfinished run of the same mail to the same list: Yes sends to the rest, No to
    // everyone, Cancel sends nothing.
    virtual Choice askResume(const QString& question) = 0;
    virtual bool confirmSendToEveryone(const QString& question) = 0;
    virtual bool confirmResendInFlight(const QString& question) = 0;
    // A message larger than most providers take, to a server that names no limit: true sends.
    virtual bool confirmLargeMessage(const QString& question) = 0;
    // Opens the sign-in page of an OAuth login in the browser.
    virtual void openSignInPage(const QUrl& url) = 0;

    // The mail as it stands at the moment the run needs it: the recipient list for the notify
    // copy (entries added during the run are listed there), and the body field for the
    // sent-data file once the notify copy's lines are in it.
    virtual std::vector<std::string> recipientsNow() = 0;
    virtual std::vector<std::string> bodyShownNow() = 0;
};

// The questions of a resumed run. The first one offers はい (send to the rest), いいえ (send to
// everyone again) and キャンセル; "N" is where the run stopped (from 1), "M" how many have not
// been sent at all (those in flight are named apart, added recipients counted in).
QString ResumeQuestionText(const JournalState& journal);
// Asked after いいえ: everyone already sent to gets the mail a second time.
QString SendAllAgainQuestionText(std::size_t acceptedCount);
// Asked after はい when messages were in flight: names them; はい sends to them again.
QString InFlightQuestionText(const JournalState& journal);
// The password question of a login at `hostSjis`:`port` as `login`.
QString PasswordQuestionText(const std::string& hostSjis, int port, const std::string& login);
// Asked before a run when the user wants to confirm it: how many recipients, which server, and
// the attachments by name (none named when the list is empty).
QString SendConfirmQuestionText(std::size_t recipients, const std::string& hostSjis, int port,
                                const QStringList& attachmentNames);
// Whether to trust the certificate `tlsText` describes for `hostSjis`:`port`.
QString TrustQuestionText(const std::string& tlsText, const std::string& hostSjis, int port);

} // namespace tessaly
