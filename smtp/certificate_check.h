// The check of a server's certificate during a TLS handshake: what is wrong with it, its
// fingerprint, and the one certificate the user trusts for the server despite its problems.
#pragma once

#include <QList>
#include <string>
#include <vector>

class QSslCertificate;
class QSslError;
class QSslSocket;

namespace tessaly {

// Why a server's certificate was not accepted.
enum class CertProblem { Expired, NotYetValid, HostMismatch, UntrustedIssuer, SelfSigned, PinMismatch, Handshake, Other };

// The reason in words: 期限切れ, ホスト名の不一致, 発行者を確認できない, ...
const char* CertProblemText(CertProblem problem);

// SHA-256 of a certificate, 64 lowercase hex digits; "" for a null certificate.
std::string CertificateFingerprint(const QSslCertificate& certificate);

// One handshake's check. The socket reports its verification errors to Review; a certificate
// that fails verification passes only when its fingerprint is the trusted one.
class CertificateCheck {
public:
    // `trustedFingerprint`: the fingerprint trusted for this server, or "" for none.
    void Begin(std::string trustedFingerprint);
    // From the socket's sslErrors signal: ignores the errors of the trusted certificate and
    // records the problems of any other. Errors not ignored here end the handshake.
    void Review(QSslSocket& socket, const QList<QSslError>& errors);
    // From the socket's encrypted signal.
    void Passed(const QSslCertificate& peer);

    // The problems found, each once, in the order found; PinMismatch when a certificate other
    // than the trusted one came. Empty when the handshake failed for another reason.
    const std::vector<CertProblem>& Problems() const { return m_problems; }
    const std::string& Fingerprint() const { return m_fingerprint; } // "" when none came
    const std::string& Trusted() const { return m_trusted; }
    bool PinMismatched() const;
    // The failure in the user's words: the problems when there are some, else `why`; then the
    // fingerprints the user needs to decide.
    std::string FailureText(const std::string& why) const;

private:
    std::string m_trusted;
    std::string m_fingerprint;
    std::vector<CertProblem> m_problems;
};

} // namespace tessaly
