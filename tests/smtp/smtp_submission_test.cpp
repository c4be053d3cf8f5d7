// Protection and login against a real submission server (aiosmtpd with STARTTLS, TLS and AUTH,
// certificates made when the fixture starts). The server records every line it received, so the
// tests can tell what went in plain text.
#include "fixtures/smtp_real_server.h"
#include "smtp_test_support.h"

#include <QCoreApplication>
#include <algorithm>
#include <gtest/gtest.h>

using namespace tessaly;
using tessaly::test::ReceivedLine;
using tessaly::test::SubmissionServer;
using tessaly::test::thrown;

namespace {

class Submission : public ::testing::Test {
protected:
    void SetUp() override {
        TSocketBase::SetExtraCaCertificates(SubmissionServer::caPem());
        // Names of this test alone: the server is shared with tests running at the same time.
        const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::string id = std::to_string(QCoreApplication::applicationPid()) + "-" + test;
        std::replace(id.begin(), id.end(), '/', '-');
        client.UserID = "sub-" + id;
        sender = "sub-" + id + "@tessaly.test";
        client.Host = "localhost"; // the name in the certificates
        client.TimeOut = 10000;
        client.Security = SmtpSecurity::StartTls;
        client.UseAuth = true;
        client.LoginName = SubmissionServer::Login;
        client.Password = SubmissionServer::Password;
        client.PostMessage.FromAddress = sender;
        client.PostMessage.Subject = "secure";
        client.PostMessage.Body = {"line 1", ".dot", "line 3"};
    }
    void TearDown() override { TSocketBase::SetExtraCaCertificates({}); }

    void aimAt(const char* listener) { client.Port = SubmissionServer::port(listener); }

    // The message as the server must store it: the header and body the client built, the
    // dot-stuffing undone.
    QByteArray sendOne(const std::string& to) {
        client.PostMessage.ToAddress = {to};
        client.SendMail();
        QByteArray message = QByteArray::fromStdString(client.FinalHeader.Text() + "\r\n\r\n") + client.BodyStream();
        return message.replace("\r\n..", "\r\n.");
    }

    std::vector<ReceivedLine> lines() const {
        return SubmissionServer::linesGreetedAs(QString::fromStdString(client.UserID));
    }
    // What the server received in plain text, CR LF removed.
    QList<QByteArray> plainLines() const {
        QList<QByteArray> out;
        for (const ReceivedLine& l : lines())
            if (!l.tls)
                out.append(l.line.trimmed());
        return out;
    }

    TSmtpClient client;
    std::string sender;
};

TEST_F(Submission, StartTlsAndPlainLoginDeliverThreeMessagesWhole) {
    aimAt("starttls");
    client.Connect();
    EXPECT_TRUE(client.Encrypted());
    EXPECT_TRUE(client.Password.empty()); // wiped once the login is done
    std::vector<QByteArray> sent;
    for (const char* to : {"taro@example.jp", "jiro@example.jp", "saburo@example.jp"}) {
        sent.push_back(sendOne(to));
        EXPECT_EQ(client.LastResult().Outcome, SendOutcome::Accepted);
    }
    client.Disconnect();

    const auto stored = SubmissionServer::messagesFrom(QString::fromStdString(sender));
    ASSERT_EQ(stored.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(stored[i].data, sent[i]);
        EXPECT_TRUE(stored[i].tls);
        EXPECT_EQ(stored[i].login, QLatin1String(SubmissionServer::Login));
        EXPECT_EQ(stored[i].peerPort, stored[0].peerPort); // one connection
    }
    const QByteArray ehlo = QByteArray("EHLO ") + client.UserID.c_str();
    EXPECT_EQ(plainLines(), (QList<QByteArray>{ehlo, "STARTTLS"}));
    const auto all = lines();
    EXPECT_TRUE(std::any_of(all.begin(), all.end(), [](const ReceivedLine& l) { return l.line.startsWith("AUTH PLAIN "); }));
}

// Each case connects once and, when it succeeds, sends one message.
struct SecureCase {
    const char* name;
    const char* listener;
    SmtpSecurity security;
    const char* password;           // nullptr: the right one
    std::vector<CertProblem> tls;  // expected TlsError problems; empty: no TLS failure
    std::string errorPart;          // expected part of the error text; "" = connects
    std::vector<QByteArray> plain;  // every line the server received in plain text ("EHLO" = ours)
    const char* mechanism;          // the AUTH line's start when the login happens
};

class SecureTable : public Submission, public ::testing::WithParamInterface<SecureCase> {};

TEST_P(SecureTable, ConnectsOnlyWhenSafeAndSendsNothingOtherwise) {
    const SecureCase& c = GetParam();
    aimAt(c.listener);
    client.Security = c.security;
    if (c.password)
        client.Password = c.password;
    std::string error;
    try {
        client.Connect();
        sendOne("taro@example.jp");
        client.Disconnect();
    } catch (const TlsError& e) {
        error = e.what();
        EXPECT_EQ(e.Problems, c.tls);
        EXPECT_EQ(e.Fingerprint.size(), 64u);
        EXPECT_EQ(e.Fingerprint, client.PeerFingerprint());
        EXPECT_NE(error.find(e.Fingerprint), std::string::npos);
    } catch (const AuthError& e) {
        error = e.what();
        EXPECT_EQ(e.Reply.Code, 535);
    } catch (const std::exception& e) {
        error = e.what();
    }
    EXPECT_TRUE(client.Password.empty());
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(error.find(SubmissionServer::Password), std::string::npos);
    if (c.errorPart.empty()) {
        EXPECT_EQ(error, "");
    } else {
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << error;
    }

    QList<QByteArray> plain;
    for (QByteArray line : c.plain)
        plain.append(line == "EHLO" ? line + " " + client.UserID.c_str() : line);
    EXPECT_EQ(plainLines(), plain);
    const auto all = lines();
    const bool mailed = std::any_of(all.begin(), all.end(), [](const ReceivedLine& l) { return l.line.startsWith("MAIL"); });
    EXPECT_EQ(mailed, c.errorPart.empty());
    if (c.mechanism) {
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const ReceivedLine& l) { return l.line.startsWith(c.mechanism); }));
    }
    EXPECT_EQ(SubmissionServer::messagesFrom(QString::fromStdString(sender)).size(), c.errorPart.empty() ? 1u : 0u);
}

const std::vector<QByteArray> kUpToStartTls{"EHLO", "STARTTLS"};

INSTANTIATE_TEST_SUITE_P(
    Smtp, SecureTable,
    ::testing::Values(
        SecureCase{"ImplicitTls", "implicit", SmtpSecurity::ImplicitTls, nullptr, {}, "", {}, "AUTH PLAIN "},
        SecureCase{"LoginOnly", "login_only", SmtpSecurity::StartTls, nullptr, {}, "", kUpToStartTls, "AUTH LOGIN"},
        SecureCase{"WrongPassword", "starttls", SmtpSecurity::StartTls, "wrong-password", {},
                   "認証: サーバーがログインを断りました。ログイン名とパスワードを確かめてください。\n535", kUpToStartTls,
                   "AUTH PLAIN "},
        SecureCase{"StartTlsNotOffered", "no_starttls", SmtpSecurity::StartTls, nullptr, {}, "STARTTLS に対応していない",
                   {"EHLO", "QUIT"}, nullptr},
        SecureCase{"Expired", "expired", SmtpSecurity::StartTls, nullptr, {CertProblem::Expired}, "期限切れ",
                   kUpToStartTls, nullptr},
        SecureCase{"NotYetValid", "not_yet_valid", SmtpSecurity::StartTls, nullptr, {CertProblem::NotYetValid},
                   "有効期間の開始前", kUpToStartTls, nullptr},
        SecureCase{"HostMismatch", "wrong_host", SmtpSecurity::StartTls, nullptr, {CertProblem::HostMismatch},
                   "ホスト名の不一致", kUpToStartTls, nullptr},
        SecureCase{"UnknownAuthority", "untrusted", SmtpSecurity::StartTls, nullptr, {CertProblem::UntrustedIssuer},
                   "発行者を確認できない", kUpToStartTls, nullptr},
        // A line forged into the plain reply to STARTTLS is dropped: taken for the reply to the
        // second EHLO, it would hide the login the server offers.
        SecureCase{"PlainTextAfterStartTlsDropped", "injecting", SmtpSecurity::StartTls, nullptr, {}, "", kUpToStartTls,
                   "AUTH PLAIN "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Submission, AnUntrustedCertificateIsAcceptedOnlyWhenItIsTheOneTrusted) {
    aimAt("untrusted");
    std::string fingerprint;
    try {
        client.Connect();
        ADD_FAILURE() << "an untrusted certificate was accepted";
    } catch (const TlsError& e) {
        fingerprint = e.Fingerprint;
        EXPECT_EQ(e.PinnedFingerprint, "");
    }
    ASSERT_EQ(fingerprint.size(), 64u);

    client.TrustedFingerprint = fingerprint;
    client.Password = SubmissionServer::Password;
    client.Connect();
    sendOne("taro@example.jp");
    client.Disconnect();
    EXPECT_EQ(SubmissionServer::messagesFrom(QString::fromStdString(sender)).size(), 1u);

    // Another certificate for the same name is not covered by that trust.
    aimAt("untrusted2");
    client.Password = SubmissionServer::Password;
    try {
        client.Connect();
        ADD_FAILURE() << "a different certificate was accepted on a trusted fingerprint";
    } catch (const TlsError& e) {
        EXPECT_EQ(e.Problems, (std::vector<CertProblem>{CertProblem::UntrustedIssuer, CertProblem::PinMismatch}));
        EXPECT_EQ(e.PinnedFingerprint, fingerprint);
        EXPECT_NE(e.Fingerprint, fingerprint);
        const std::string text = e.what();
        EXPECT_NE(text.find(fingerprint), std::string::npos);
        EXPECT_NE(text.find(e.Fingerprint), std::string::npos);
    }
    EXPECT_EQ(SubmissionServer::messagesFrom(QString::fromStdString(sender)).size(), 1u);
}

} // namespace
