// The SMTP exchange against a scripted server: greetings, refusals, replies in pieces, hangs.
#include "smtp_test_support.h"

#include <QTcpServer>
#include <QTimer>
#include <QtTest/QTest>
#include <functional>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace tessaly;
using namespace tessaly::test;

namespace {

struct ConnectCase {
    const char* name;
    std::function<void(SmtpScriptedServer&)> script;
    enum { NoHandler, Repairs, Declines } helloHandler; // Repairs: sets Handled and a new UserID
    std::string error;      // empty: Connect succeeds
    int authAsked;
};

class ConnectTable : public SmtpClientTest, public ::testing::WithParamInterface<ConnectCase> {};

TEST_P(ConnectTable, GreetsOrFailsWithTheReplyAndClosesOnFailure) {
    const ConnectCase& c = GetParam();
    c.script(server);
    int authAsked = 0, connected = 0;
    if (c.helloHandler != ConnectCase::NoHandler)
        client.OnAuthenticationFailed = [&](bool& handled) {
            ++authAsked;
            client.UserID = "pc02";
            handled = c.helloHandler == ConnectCase::Repairs;
        };
    client.OnConnect = [&](QObject*) { ++connected; };
    EXPECT_EQ(thrown<Error>([&] { client.Connect(); }), c.error);
    EXPECT_EQ(authAsked, c.authAsked);
    EXPECT_EQ(connected, c.error.empty() ? 1 : 0);
    EXPECT_FALSE(client.Busy());
    if (c.error.empty()) {
        EXPECT_TRUE(client.Connected());
        client.Disconnect();
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.played());
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, ConnectTable,
    ::testing::Values(
        ConnectCase{"MultiLineGreetingAndHello",
                    [](SmtpScriptedServer& s) {
                        s.send("220-first\r\n220-second\r\n220 last\r\n").expect("HELO pc01");
                        s.send("250-hello\r\n250-PIPELINING\r\n250 SIZE\r\n").quit();
                    },
                    ConnectCase::NoHandler, "", 0},
        ConnectCase{"Greeting421",
                    [](SmtpScriptedServer& s) { s.send("421 busy\r\n").quit(); },
                    ConnectCase::NoHandler, "421 busy\r\n", 0},
        ConnectCase{"HelloRefusedWithoutHandler",
                    [](SmtpScriptedServer& s) { s.send("220 hi\r\n").expect("HELO pc01").send("300 no\r\n").quit(); },
                    ConnectCase::NoHandler, "Authentication failed", 0},
        ConnectCase{"HelloRefusedHandlerDeclines",
                    [](SmtpScriptedServer& s) { s.send("220 hi\r\n").expect("HELO pc01").send("501 no\r\n").quit(); },
                    ConnectCase::Declines, "Authentication failed", 1},
        ConnectCase{"HelloRefusedRetriedWithNewUserId",
                    [](SmtpScriptedServer& s) {
                        s.send("220 hi\r\n").expect("HELO pc01").send("501 no\r\n");
                        s.expect("HELO pc02").send("250 ok\r\n").quit();
                    },
                    ConnectCase::Repairs, "", 1},
        ConnectCase{"HelloRefusedTwice",
                    [](SmtpScriptedServer& s) {
                        s.send("220 hi\r\n").expect("HELO pc01").send("501 no\r\n");
                        s.expect("HELO pc02").send("501 still no\r\n").quit();
                    },
                    ConnectCase::Repairs, "Authentication failed", 1},
        ConnectCase{"GreetingAndHelloReplyInOnePieceAtTheirLimits",
                    [](SmtpScriptedServer& s) { s.send("399 hi\r\n299 hello\r\n").expect("HELO pc01").quit(); },
                    ConnectCase::NoHandler, "", 0},
        ConnectCase{"GreetingInPieces",
                    [](SmtpScriptedServer& s) {
                        s.sendPieces({"22", "0 rea", "dy\r", "\n"}).expect("HELO pc01").send("250 ok\r\n").quit();
                    },
                    ConnectCase::NoHandler, "", 0},
        ConnectCase{"ServerClosesMidGreeting",
                    [](SmtpScriptedServer& s) { s.send("220-first\r\n220 la").close(); },
                    ConnectCase::NoHandler,
                    TSocketBase::ClosedByPeerText, 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- SendMail

struct SendCase {
    const char* name;
    std::function<void(SmtpScriptedServer&)> afterGreeting;
    std::vector<std::string> to;
    std::string error;                 // empty: accepted
    std::vector<std::string> notFound; // entries reported to OnRecipientNotFound
    bool failureEvent;
};

class SendTable : public SmtpClientTest, public ::testing::WithParamInterface<SendCase> {};

TEST_P(SendTable, RefusalsRaiseTheReplyLineAndKeepTheRecord) {
    const SendCase& c = GetParam();
    server.greet();
    c.afterGreeting(server);
    client.Connect();
    client.PostMessage.ToAddress = c.to;
    std::vector<std::string> notFound;
    int failures = 0, successes = 0;
    client.OnRecipientNotFound = [&](const std::string& r) { notFound.push_back(r); };
    client.OnFailure = [&](QObject*) { ++failures; };
    client.OnSuccess = [&](QObject*) { ++successes; };

    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), c.error);
    EXPECT_EQ(notFound, c.notFound);
    EXPECT_EQ(failures, c.failureEvent ? 1 : 0);
    EXPECT_EQ(successes, c.error.empty() ? 1 : 0);
    EXPECT_FALSE(client.Busy());
    EXPECT_TRUE(client.Connected()); // a refusal leaves the connection for the next RSET
    if (!c.error.empty()) {
        EXPECT_EQ(client.PostMessage.ToAddress, c.to);
    }
    EXPECT_TRUE(server.played());
}

void toData(SmtpScriptedServer& s, const char* rcptReply) {
    s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<sender@example.jp>").send("250 ok\r\n");
    s.expect("RCPT TO:<taro@example.jp>").send(rcptReply);
}

INSTANTIATE_TEST_SUITE_P(
    Smtp, SendTable,
    ::testing::Values(
        SendCase{"Accepted", [](SmtpScriptedServer& s) { s.mail(); }, {"Taro <taro@example.jp>"}, "", {}, false},
        SendCase{"ResetRefused", [](SmtpScriptedServer& s) { s.expect("RSET").send("500 what\r\n"); },
                 {"taro@example.jp"}, "500 what\r\n", {}, false},
        SendCase{"SenderRefused",
                 [](SmtpScriptedServer& s) {
                     s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<sender@example.jp>");
                     s.send("553 bad sender\r\n");
                 },
                 {"taro@example.jp"}, "553 bad sender\r\n", {}, false},
        SendCase{"DataRefused",
                 [](SmtpScriptedServer& s) {
                     toData(s, "250 ok\r\n");
                     s.expect("DATA").send("451 later\r\n");
                 },
                 {"taro@example.jp"}, "451 later\r\n", {}, false},
        SendCase{"Recipient550ThenDataRefused",
                 [](SmtpScriptedServer& s) {
                     toData(s, "550 no such user\r\n");
                     s.expect("DATA").send("503 no valid recipients\r\n");
                 },
                 {"Taro <taro@example.jp>"}, "503 no valid recipients\r\n", {"Taro <taro@example.jp>"}, false},
        SendCase{"Recipient351CountsAsRefused",
                 [](SmtpScriptedServer& s) {
                     toData(s, "351 odd\r\n");
                     s.expect("RCPT TO:<jiro@example.jp>").send("250 ok\r\n");
                     s.expect("DATA").send("354 go\r\n").expectData().send("250 ok\r\n");
                 },
                 {"taro@example.jp", "jiro@example.jp"}, "", {"taro@example.jp"}, false},
        SendCase{"Recipient300AcceptedAnd301Refused",
                 [](SmtpScriptedServer& s) {
                     toData(s, "300 odd but accepted\r\n");
                     s.expect("RCPT TO:<jiro@example.jp>").send("301 refused\r\n");
                     s.expect("DATA").send("354 go\r\n").expectData().send("250 ok\r\n");
                 },
                 {"taro@example.jp", "Jiro <jiro@example.jp>"}, "", {"Jiro <jiro@example.jp>"}, false},
        SendCase{"EmptyAddressSkipped",
                 [](SmtpScriptedServer& s) {
                     s.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
                     s.expect("DATA").send("503 need RCPT\r\n");
                 },
                 {"Nobody <>"}, "503 need RCPT\r\n", {}, false},
        SendCase{"EndOfDataRefused",
                 [](SmtpScriptedServer& s) {
                     toData(s, "250 ok\r\n");
                     s.expect("DATA").send("354 go\r\n").expectData().send("552 too big\r\n");
                 },
                 {"taro@example.jp"}, "552 too big\r\n", {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- whole replies

// Servers answer any command with several lines. Each reply is read whole, so the exchange stays
// in step: a refusal is reported with all its lines and a later reply is never taken for the
// answer to an earlier command. A reply that breaks the syntax closes the connection.
struct WholeReplyCase {
    const char* name;
    const char* mail;
    const char* rcpt;
    const char* data; // nullptr: no DATA expected
    const char* dot;  // nullptr: no "." expected
    std::string error;
    SendOutcome outcome;
    int notFound;
    bool keepsConnection;
};

class WholeReplyTable : public SmtpClientTest, public ::testing::WithParamInterface<WholeReplyCase> {};

TEST_P(WholeReplyTable, ReadsEveryReplyWholeAndStaysInStep) {
    const WholeReplyCase& c = GetParam();
    server.greet().expect("RSET").send("250-reset\r\n250 done\r\n");
    server.expect("MAIL FROM:<sender@example.jp>").send(c.mail);
    if (c.rcpt)
        server.expect("RCPT TO:<taro@example.jp>").send(c.rcpt);
    if (c.data)
        server.expect("DATA").send(c.data);
    if (c.dot)
        server.expectData().send(c.dot);
    if (c.keepsConnection)
        server.quit();
    client.Connect();
    int notFound = 0, failures = 0;
    client.OnRecipientNotFound = [&](const std::string&) { ++notFound; };
    client.OnFailure = [&](QObject*) { ++failures; };

    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), c.error);
    EXPECT_EQ(client.LastResult().Outcome, c.outcome);
    EXPECT_EQ(notFound, c.notFound);
    const bool refusedAfterData = c.dot && (c.outcome == SendOutcome::TemporaryFailure ||
                                            c.outcome == SendOutcome::PermanentFailure);
    EXPECT_EQ(failures, refusedAfterData ? 1 : 0);
    EXPECT_EQ(client.Connected(), c.keepsConnection);
    if (c.keepsConnection) {
        EXPECT_EQ(thrown<Error>([&] { client.Disconnect(); }), ""); // QUIT's reply is QUIT's, not a late one
    }
    EXPECT_TRUE(server.played());
}

const char* const kOk2 = "250-first\r\n250 second\r\n";
const char* const kProtocolError = "送信者: サーバーの応答が読めないため、接続を切りました。\n";

INSTANTIATE_TEST_SUITE_P(
    Smtp, WholeReplyTable,
    ::testing::Values(
        WholeReplyCase{"AcceptedEverywhere", kOk2, kOk2, "354-go\r\n354 on\r\n", "250-queued\r\n250-as\r\n250 X1\r\n", "",
                       SendOutcome::Accepted, 0, true},
        WholeReplyCase{"SenderRefused", "553-5.1.8 bad\r\n553 sender\r\n", nullptr, nullptr, nullptr,
                       "553-5.1.8 bad\r\n553 sender\r\n", SendOutcome::PermanentFailure, 0, true},
        WholeReplyCase{"RecipientRefusedThenData", kOk2, "550-5.1.1 no\r\n550-such\r\n550 user\r\n",
                       "554-no valid\r\n554 recipients\r\n", nullptr, "554-no valid\r\n554 recipients\r\n",
                       SendOutcome::PermanentFailure, 1, true},
        WholeReplyCase{"DataDeferred", kOk2, kOk2, "451-try\r\n451 later\r\n", nullptr, "451-try\r\n451 later\r\n",
                       SendOutcome::TemporaryFailure, 0, true},
        WholeReplyCase{"MessageRefusedAfterItsData", kOk2, kOk2, "354 go\r\n",
                       "554-5.7.1 refused\r\n554-see\r\n554 policy\r\n", "554-5.7.1 refused\r\n554-see\r\n554 policy\r\n",
                       SendOutcome::PermanentFailure, 0, true},
        WholeReplyCase{"MessageDeferredAfterItsData", kOk2, kOk2, "354 go\r\n", "452-full\r\n452 later\r\n",
                       "452-full\r\n452 later\r\n", SendOutcome::TemporaryFailure, 0, true},
        WholeReplyCase{"CodesDisagree", "250-first\r\n550 second\r\n", nullptr, nullptr, nullptr,
                       std::string(kProtocolError) + "250-first\r\n550 second\r\n", SendOutcome::None, 0, false},
        WholeReplyCase{"LineWithoutCode", "250-first\r\nsecond\r\n", nullptr, nullptr, nullptr,
                       std::string(kProtocolError) + "250-first\r\nsecond\r\n", SendOutcome::None, 0, false},
        WholeReplyCase{"NoReplyAfterTheData", kOk2, kOk2, "354 go\r\n", "garbage\r\n",
                       "本文: サーバーの応答が読めないため、接続を切りました。\ngarbage\r\n", SendOutcome::Unknown, 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- Disconnect

struct QuitCase {
    const char* name;
    const char* reply;
    std::string error;
};

class QuitTable : public SmtpClientTest, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitTable, ClosesTheSocketWhateverTheReply) {
    server.greet().expect("QUIT").send(GetParam().reply);
    client.Connect();
    int disconnects = 0;
    client.OnDisconnect = [&](QObject*) { ++disconnects; };
    EXPECT_EQ(thrown<Error>([&] { client.Disconnect(); }), GetParam().error);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.SocketDescriptor(), -1);
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(server.played());
}

INSTANTIATE_TEST_SUITE_P(Smtp, QuitTable,
                         ::testing::Values(QuitCase{"Quit221", "221 bye\r\n", ""},
                                           QuitCase{"Quit339", "339 odd\r\n", ""},
                                           QuitCase{"Quit350", "350 what\r\n", "350 what\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- waits that must end

TEST_F(SmtpClientTest, ServerHangingAfterDataEndsTheWaitWithAnError) {
    server.greet();
    toData(server, "250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").hang();
    client.TimeOut = 300;
    client.Connect();
    EXPECT_EQ(thrown<ESockError>([&] { client.SendMail(); }), TSocketBase::ReplyTimedOutText);
    EXPECT_FALSE(client.Busy());
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, ServerClosingMidReplyEndsTheWaitWithAnError) {
    server.greet().expect("RSET").send("250 par").close();
    client.TimeOut = 0; // no time limit: only the close can end the wait
    client.Connect();
    EXPECT_EQ(thrown<ESockError>([&] { client.SendMail(); }), TSocketBase::ClosedByPeerText);
    EXPECT_FALSE(client.Busy());
    EXPECT_FALSE(client.Connected());
    EXPECT_TRUE(server.played());
}

// Abort while a message is being sent: from a user command handled inside a wait, or from an
// owner's handler between two commands. Either way the message ends with the cancel, nothing
// more of it is sent and the connection is given up.
struct AbortCase {
    const char* name;
    bool fromSendStart;
    std::vector<QByteArray> sent; // lines the server received
};

class AbortTable : public SmtpClientTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortTable, EndsTheMessageWithTheCancelAndDropsTheConnection) {
    server.greet().expect("RSET").hang();
    client.TimeOut = 0;
    client.Connect();
    if (GetParam().fromSendStart)
        client.OnSendStart = [&](QObject*) { client.Abort(); };
    else
        QTimer::singleShot(50, &client, [&] { client.Abort(); });
    EXPECT_EQ(thrown<EAbortError>([&] { client.SendMail(); }), "Socket readln aborted");
    EXPECT_FALSE(client.Busy());
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.PostMessage.ToAddress, std::vector<std::string>{"Taro <taro@example.jp>"});
    if (!GetParam().fromSendStart) {
        ASSERT_TRUE(QTest::qWaitFor([&] { return server.lines().size() >= 2; }, 5000));
    }
    EXPECT_EQ(server.lines(), QList<QByteArray>(GetParam().sent.begin(), GetParam().sent.end()));
}

INSTANTIATE_TEST_SUITE_P(Smtp, AbortTable,
                         ::testing::Values(AbortCase{"InsideTheReplyWait", false, {"HELO pc01", "RSET"}},
                                           AbortCase{"FromTheSendStartHandler", true, {"HELO pc01"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- connection life

TEST_F(SmtpClientTest, SecondConnectFailsWhileConnected) {
    server.greet().quit();
    client.Connect();
    EXPECT_EQ(thrown<ESockError>([&] { client.Connect(); }), "Already connected");
    EXPECT_TRUE(client.Connected());
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, ConnectWorksAgainAfterTheServerClosed) {
    server.greet().close().accept().greet().mail().quit();
    client.Connect();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !client.Connected(); }, 5000));
    // Nobody is left to say goodbye to: Disconnect just closes, without a command or an error.
    EXPECT_EQ(thrown<Error>([&] { client.Disconnect(); }), "");
    client.Connect();
    client.SendMail();
    client.Disconnect();
    EXPECT_EQ(server.connections(), 2);
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, SocketHasLowDelaySet) {
    server.greet().quit();
    client.Connect();
    int flag = 0;
    socklen_t size = sizeof flag;
    ASSERT_EQ(getsockopt(static_cast<int>(client.SocketDescriptor()), IPPROTO_TCP, TCP_NODELAY, &flag, &size), 0);
    EXPECT_NE(flag, 0);
    client.Disconnect();
}

// A name that no resolver can know and that is refused without asking a name server, so that
// the test sends nothing beyond the loopback.
const char* const kUnknownHost = "no such host";

TEST_F(SmtpClientTest, UnknownHostAsksOnceThenFails) {
    // A handler that declines, and one that claims a repair but leaves the name as it was.
    for (bool claimsHandled : {false, true}) {
        client.Host = kUnknownHost;
        int asked = 0, failed = 0;
        client.OnInvalidHost = [&](bool& handled) {
            ++asked;
            handled = claimsHandled;
        };
        client.OnConnectionFailed = [&](QObject*) { ++failed; };
        EXPECT_EQ(thrown<ESockError>([&] { client.Connect(); }), "Null Remote Address");
        EXPECT_EQ(asked, 1);
        EXPECT_EQ(failed, 0);
        EXPECT_FALSE(client.Busy());
        EXPECT_FALSE(client.Connected());
    }
}

TEST_F(SmtpClientTest, UnknownHostRepairedByTheHandlerIsRetried) {
    server.greet().quit();
    client.Host = kUnknownHost;
    client.OnInvalidHost = [&](bool& handled) {
        client.Host = "127.0.0.1";
        handled = true;
    };
    client.Connect();
    EXPECT_TRUE(client.Connected());
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, RefusedConnectionFiresConnectionFailed) {
    quint16 closedPort = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        closedPort = probe.serverPort();
    }
    client.Port = closedPort;
    int failed = 0;
    client.OnConnectionFailed = [&](QObject*) { ++failed; };
    EXPECT_EQ(thrown<ESockError>([&] { client.Connect(); }), "Connection Failed");
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(client.LastErrorNo(), 10061);
    EXPECT_FALSE(client.Connected());
}

TEST_F(SmtpClientTest, ConnectionRequiredAndIncompleteHeaderAskTheOwnerOnce) {
    server.greet().mail();
    int required = 0;
    client.OnConnectionRequired = [&](bool& handled) {
        ++required;
        client.Connect();
        handled = true;
    };
    client.SendMail();
    EXPECT_EQ(required, 1);

    std::vector<int> kinds;
    client.OnHeaderIncomplete = [&](bool& handled, int hiType) {
        kinds.push_back(hiType);
        handled = hiType == 2;
    };
    client.PostMessage.ToAddress.clear(); // cleared by the send anyway
    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), "Incomplete Header");
    client.PostMessage.FromAddress.clear();
    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), "Incomplete Header");
    EXPECT_EQ(kinds, (std::vector<int>{2, 1}));
    client.OnConnectionRequired = nullptr;
    client.Abort();
    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), "Not Connected");
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, RecipientAddedByTheIncompleteHeaderHandlerGetsTheMessageButNoToLine) {
    // The header is built before the handler runs: the repair reaches the envelope only.
    server.greet();
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<sender@example.jp>").send("250 ok\r\n");
    server.expect("RCPT TO:<late@example.jp>").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").expectData().send("250 ok\r\n");
    client.PostMessage.ToAddress.clear();
    int asked = 0;
    client.OnHeaderIncomplete = [&](bool& handled, int hiType) {
        ++asked;
        EXPECT_EQ(hiType, 2);
        client.PostMessage.ToAddress = {"Late <late@example.jp>"};
        handled = true;
    };
    client.Connect();
    client.SendMail();
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(server.played());
    EXPECT_TRUE(server.messages().value(0).startsWith("From: <sender@example.jp>\r\nSubject: Hello\r\n"))
        << server.messages().value(0).toStdString();
}

TEST_F(SmtpClientTest, RecipientsAddedDuringTheExchangeAreSentWhenSafe) {
    // A recipient handler may add entries to a list still to come; one with a line break would
    // reach the server as a command of its own, so it ends the message instead.
    server.greet();
    toData(server, "550 no such user\r\n");
    server.expect("RCPT TO:<jiro@example.jp>").send("550 no such user either\r\n");
    client.OnRecipientNotFound = [&](const std::string& entry) {
        if (entry == "taro@example.jp")
            client.PostMessage.ToBlindCarbonCopy = {"jiro@example.jp", "evil@example.jp>\r\nDATA\r\n"};
    };
    client.PostMessage.ToAddress = {"taro@example.jp"};
    client.Connect();
    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }),
              "Recipient must not contain a line break (CR, LF) or a zero byte");
    EXPECT_FALSE(client.Busy());
    ASSERT_TRUE(server.played());
    EXPECT_EQ(server.lines().size(), 5); // HELO, RSET, MAIL, two RCPT: nothing of the bad entry
}

TEST_F(SmtpClientTest, ClearParamsDecidesWhetherRecipientsStay) {
    server.greet().mail().mail();
    client.Connect();
    client.ClearParams = false;
    client.SendMail();
    EXPECT_EQ(client.PostMessage.ToAddress.size(), 1u);
    client.SendMail(); // same recipient again, over the same connection
    client.ClearParams = true;
    EXPECT_TRUE(server.played());
    server.mail();
    client.SendMail();
    EXPECT_TRUE(client.PostMessage.ToAddress.empty());
    EXPECT_EQ(client.PostMessage.Body.size(), 2u);
    EXPECT_EQ(thrown<Error>([&] { client.SendMail(); }), "Incomplete Header");
    EXPECT_TRUE(server.played());
    EXPECT_EQ(server.lines().count("RSET"), 3);
}

TEST_F(SmtpClientTest, ReplyNumberComesFromTheLeadingDigits) {
    server.greet();
    const std::pair<const char*, int> rows[] = {
        {"250 ok", 250}, {"abc", 0}, {"354", 354}, {"0000000000250 ten digits at most", 0}, {"32767 max", 32767}};
    for (const auto& [line, number] : rows)
        server.expect("NOOP").send(QByteArray(line) + "\r\n");
    server.expect("NOOP").send("32768 too big\r\n");
    client.Connect();
    for (const auto& [line, number] : rows) {
        EXPECT_EQ(client.Transaction("NOOP"), std::string(line) + "\r\n");
        EXPECT_EQ(client.ReplyNumber(), number) << line;
        EXPECT_EQ(client.LastReply(), std::string(line) + "\r\n");
    }
    EXPECT_EQ(thrown<Error>([&] { client.Transaction("NOOP"); }), "Reply code out of range: 32768 too big\r\n");
    EXPECT_TRUE(server.played());
}

TEST_F(SmtpClientTest, StatusReportsPassByLevel) {
    server.greet().expect("NOOP").send("250 fine\r\n");
    std::vector<std::string> reports;
    client.OnStatus = [&](QObject*, const std::string& s) { reports.push_back(s); };
    client.ReportLevel = 1;
    client.Connect();
    client.Transaction("NOOP");
    EXPECT_EQ(reports, (std::vector<std::string>{"250 hello\r\n", "250 fine\r\n"}));
    client.ReportLevel = 8;
    reports.clear();
    client.Abort();
    EXPECT_EQ(client.LastStatus(), "Request Close Socket");
    EXPECT_EQ(reports.front(), "Disconnecting");
    EXPECT_TRUE(server.played());

    // Nothing is reported once destruction has begun.
    reports.clear();
    {
        TSocketBase socket;
        socket.ReportLevel = 16;
        socket.OnStatus = [&](QObject*, const std::string& s) { reports.push_back(s); };
    }
    EXPECT_TRUE(reports.empty());
}

} // namespace
