#include "smtp/certificate_check.h"

#include <QCryptographicHash>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <algorithm>

namespace tessaly {

namespace {

CertProblem problemOf(QSslError::SslError error) {
    switch (error) {
    case QSslError::CertificateExpired:
        return CertProblem::Expired;
    case QSslError::CertificateNotYetValid:
        return CertProblem::NotYetValid;
    case QSslError::HostNameMismatch:
        return CertProblem::HostMismatch;
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
        return CertProblem::SelfSigned;
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::CertificateUntrusted:
    case QSslError::CertificateRejected:
    case QSslError::InvalidCaCertificate:
        return CertProblem::UntrustedIssuer;
    default:
        return CertProblem::Other;
    }
}

} // namespace

const char* CertProblemText(CertProblem problem) {
    switch (problem) {
    case CertProblem::Expired:
        return "期限切れ";
    case CertProblem::NotYetValid:
        return "有効期間の開始前";
    case CertProblem::HostMismatch:
        return "ホスト名の不一致";
    case CertProblem::UntrustedIssuer:
        return "発行者を確認できない";
    case CertProblem::SelfSigned:
        return "自己署名";
    case CertProblem::PinMismatch:
        return "信頼済みの証明書と違う";
    case CertProblem::Handshake:
        return "TLS の開始に失敗";
    case CertProblem::Other:
        break;
    }
    return "その他の証明書の問題";
}

std::string CertificateFingerprint(const QSslCertificate& certificate) {
    if (certificate.isNull())
        return {};
    return certificate.digest(QCryptographicHash::Sha256).toHex().toStdString();
}

void CertificateCheck::Begin(std::string trustedFingerprint) {
    m_trusted = std::move(trustedFingerprint);
    m_fingerprint.clear();
    m_problems.clear();
}

void CertificateCheck::Review(QSslSocket& socket, const QList<QSslError>& errors) {
    m_fingerprint = CertificateFingerprint(socket.peerCertificate());
    if (!m_trusted.empty() && m_fingerprint == m_trusted) {
        // The user trusts this one certificate for this server: only its own errors pass.
        socket.ignoreSslErrors(errors);
        m_problems.clear();
        return;
    }
    for (const QSslError& e : errors) {
        const CertProblem problem = problemOf(e.error());
        if (std::find(m_problems.begin(), m_problems.end(), problem) == m_problems.end())
            m_problems.push_back(problem);
    }
    if (!m_trusted.empty())
        m_problems.push_back(CertProblem::PinMismatch);
}

void CertificateCheck::Passed(const QSslCertificate& peer) { m_fingerprint = CertificateFingerprint(peer); }

bool CertificateCheck::PinMismatched() const {
    return std::find(m_problems.begin(), m_problems.end(), CertProblem::PinMismatch) != m_problems.end();
}

std::string CertificateCheck::FailureText(const std::string& why) const {
    std::string text = "TLS: " + why;
    if (!m_problems.empty()) {
        text = "TLS: サーバーの証明書を確認できないため、接続を中止しました（";
        for (std::size_t i = 0; i < m_problems.size(); ++i)
            text += std::string(i ? "、" : "") + CertProblemText(m_problems[i]);
        text += "）。";
    }
    if (!m_fingerprint.empty())
        text += "\n証明書の SHA-256 指紋: " + m_fingerprint;
    if (PinMismatched())
        text += "\n信頼済みの指紋: " + m_trusted;
    return text;
}

} // namespace tessaly
