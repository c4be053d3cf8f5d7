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
                    // The piece the server said before it closed is kept for the user.
                    std::string(TSocketBase::ClosedByPeerText) + "\r\n220 la", 0}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------- one message's outcome

struct OutcomeCase {
    const char* name;
    std::function<void(SmtpScriptedServer&)> script; // after the greeting
    std::vector<std::string> to;
    SendOutcome outcome;
    int replyCode; // of the deciding reply, 0 when none came
    Raised raised;
    std::string error;
    std::vector<std::string> refused; // entries, as OnRecipientNotFound and the result name them
    bool failureEvent;
    bool keepsConnection;
    int timeOut = 5000;
    bool stopAfter50Ms = false;
};

class OutcomeTable : public ::testing::TestWithParam<OutcomeCase> {};

// Send says what became of the message; SendMail raises the same failure with the same events.
// Either way a failure leaves the record as it was and the connection in step, or closed.
TEST_P(OutcomeTable, SendSaysWhatSendMailRaises) {
    const OutcomeCase& c = GetParam();
    std::vector<std::string> expectedEvents{"start"};
    for (const std::string& entry : c.refused)
        expectedEvents.push_back("refused " + entry);
    if (c.failureEvent)
        expectedEvents.push_back("failure");
    if (c.outcome == SendOutcome::Accepted)
        expectedEvents.push_back("success");

    for (const bool viaSend : {true, false}) {
        SCOPED_TRACE(viaSend ? "Send" : "SendMail");
        SmtpScriptedServer server;
        server.greet();
        c.script(server);
        if (c.keepsConnection)
            server.quit();
        TSmtpClient client;
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.TimeOut = c.timeOut;
        client.UserID = "pc01";
        client.PostMessage.FromAddress = "sender@example.jp";
        client.PostMessage.ToAddress = c.to;
        client.PostMessage.Body = {"line 1"};
        std::vector<std::string> events;
        client.OnSendStart = [&](QObject*) { events.push_back("start"); };
        client.OnRecipientNotFound = [&](const std::string& r) { events.push_back("refused " + r); };
        client.OnFailure = [&](QObject*) { events.push_back("failure"); };
        client.OnSuccess = [&](QObject*) { events.push_back("success"); };
        client.Connect();
        if (c.stopAfter50Ms)
            QTimer::singleShot(50, &client, [&] { client.Abort(); });

        std::string text;
        Raised raised = Raised::Nothing;
        if (viaSend) {
            const SendResult result = client.Send();
            text = result.ErrorText;
            raised = raisedBy([&] {
                if (result.Exception)
                    std::rethrow_exception(result.Exception);
            }, text);
            EXPECT_EQ(text, result.ErrorText);
        } else {
            raised = raisedBy([&] { client.SendMail(); }, text);
        }
        const SendResult& result = client.LastResult();
        EXPECT_EQ(result.Outcome, c.outcome);
        EXPECT_EQ(result.Reply.Code, c.replyCode);
        EXPECT_EQ(result.ErrorText, c.error);
        EXPECT_EQ(raised, c.raised);
        EXPECT_EQ(text, c.error);
        std::vector<std::string> refused;
        for (const RecipientRefusal& r : result.RefusedRecipients)
            refused.push_back(r.Entry);
        EXPECT_EQ(refused, c.refused);
        EXPECT_EQ(events, expectedEvents);
        EXPECT_FALSE(client.Busy());
        EXPECT_EQ(client.PostMessage.ToAddress,
                  c.outcome == SendOutcome::Accepted ? std::vector<std::string>{} : c.to);
        EXPECT_EQ(client.Connected(), c.keepsConnection);
        if (c.keepsConnection) {
            EXPECT_EQ(thrown<Error>([&] { client.Disconnect(); }), ""); // QUIT's reply is QUIT's, not a late one
        }
        EXPECT_TRUE(server.played());
    }
}

const char* const kOk2 = "250-first\r\n250 second\r\n";
const char* const kProtocolError = "送信者: サーバーの応答が読めないため、接続を切りました。\n";
const std::vector<std::string> kTaro{"Taro <taro@example.jp>"};

OutcomeCase row(const char* name, SmtpExchange exchange, std::vector<std::string> to, SendOutcome outcome,
                int replyCode, Raised raised, std::string error, std::vector<std::string> refused = {},
                bool failureEvent = false) {
    return {name, [exchange](SmtpScriptedServer& s) { s.exchange(exchange); }, std::move(to), outcome, replyCode,
            raised, std::move(error), std::move(refused), failureEvent, true};
}

// The client ends the exchange itself: the rest of the script says how.
OutcomeCase cut(const char* name, SmtpExchange exchange, std::function<void(SmtpScriptedServer&)> then,
                SendOutcome outcome, Raised raised, std::string error, int timeOut = 5000, bool stop = false) {
    return {name,
            [exchange, then](SmtpScriptedServer& s) {
                s.exchange(exchange);
                then(s);
            },
            kTaro, outcome, 0, raised, std::move(error), {}, false, false, timeOut, stop};
}

const auto kHang = [](SmtpScriptedServer& s) { s.hang(); };
const auto kClose = [](SmtpScriptedServer& s) { s.close(); };

INSTANTIATE_TEST_SUITE_P(
    Smtp, OutcomeTable,
    ::testing::Values(
        row("Accepted", {}, kTaro, SendOutcome::Accepted, 250, Raised::Nothing, ""),
        row("AcceptedWithRepliesOfSeveralLines",
            {.resetReply = "250-reset\r\n250 done\r\n", .mail = kOk2, .rcpt = {kOk2}, .data = "354-go\r\n354 on\r\n",
             .dot = "250-queued\r\n250-as\r\n250 X1\r\n"},
            kTaro, SendOutcome::Accepted, 250, Raised::Nothing, ""),
        row("ResetRefused", {.resetReply = "500 what\r\n"}, kTaro, SendOutcome::PermanentFailure, 500, Raised::Refused,
            "500 what\r\n"),
        row("SenderRefused", {.mail = "553-5.1.8 bad\r\n553 sender\r\n"}, kTaro, SendOutcome::PermanentFailure, 553,
            Raised::Refused, "553-5.1.8 bad\r\n553 sender\r\n"),
        // Nobody is left to receive the message: no DATA goes out.
        row("EveryRecipientRefused", {.rcpt = {"550-5.1.1 no\r\n550 such user\r\n"}}, kTaro,
            SendOutcome::PermanentFailure, 550, Raised::Refused, "550-5.1.1 no\r\n550 such user\r\n", kTaro),
        row("EveryRecipientRefusedOneForNow", {.rcpt = {"452 full\r\n", "550 no such user\r\n"}},
            {"taro@example.jp", "jiro@example.jp"}, SendOutcome::TemporaryFailure, 452, Raised::Refused,
            "452 full\r\n", {"taro@example.jp", "jiro@example.jp"}),
        // Above 300 is refused, 300 is not; the message goes to whoever was accepted.
        row("SomeRecipientsRefused", {.rcpt = {"300 odd but accepted\r\n", "301 refused\r\n", "351 refused\r\n"}},
            {"taro@example.jp", "Jiro <jiro@example.jp>", "hanako@example.jp"}, SendOutcome::Accepted, 250,
            Raised::Nothing, "", {"Jiro <jiro@example.jp>", "hanako@example.jp"}),
        // An entry without an address sends no RCPT; the server refuses the DATA that follows.
        row("NoRecipientCommand", {.rcpt = {}, .data = "503 need RCPT\r\n"}, {"Nobody <>"},
            SendOutcome::PermanentFailure, 503, Raised::Refused, "503 need RCPT\r\n"),
        row("DataDeferred", {.data = "451-try\r\n451 later\r\n"}, kTaro, SendOutcome::TemporaryFailure, 451,
            Raised::Refused, "451-try\r\n451 later\r\n"),
        row("EndOfDataRefused", {.dot = "554-5.7.1 refused\r\n554 policy\r\n"}, kTaro, SendOutcome::PermanentFailure,
            554, Raised::Refused, "554-5.7.1 refused\r\n554 policy\r\n", {}, true),
        row("EndOfDataDeferred", {.dot = "452-full\r\n452 later\r\n"}, kTaro, SendOutcome::TemporaryFailure, 452,
            Raised::Refused, "452-full\r\n452 later\r\n", {}, true),
        cut("CodesDisagree", {.mail = ""}, [](SmtpScriptedServer& s) { s.send("250-first\r\n550 second\r\n"); },
            SendOutcome::ConnectionLost, Raised::Protocol, std::string(kProtocolError) + "250-first\r\n550 second\r\n"),
        cut("LineWithoutCode", {.mail = ""}, [](SmtpScriptedServer& s) { s.send("250-first\r\nsecond\r\n"); },
            SendOutcome::ConnectionLost, Raised::Protocol, std::string(kProtocolError) + "250-first\r\nsecond\r\n"),
        cut("GarbageAfterTheData", {.dot = "garbage\r\n"}, [](SmtpScriptedServer&) {}, SendOutcome::Unknown,
            Raised::Protocol, "本文: サーバーの応答が読めないため、接続を切りました。\ngarbage\r\n"),
        // With no time limit only the close can end the wait.
        cut("ClosedBeforeTheEnd", {.resetReply = ""},
            [](SmtpScriptedServer& s) { s.send("250 par").close(); }, SendOutcome::ConnectionLost, Raised::Socket,
            std::string(TSocketBase::ClosedByPeerText) + "\r\n250 par", 0),
        cut("ClosedAfterTheEnd", {.dot = ""}, kClose, SendOutcome::Unknown, Raised::Socket,
            TSocketBase::ClosedByPeerText, 0),
        cut("HangsAtARecipient", {.rcpt = {""}}, kHang, SendOutcome::ConnectionLost, Raised::Socket,
            TSocketBase::ReplyTimedOutText, 300),
        cut("HangsAfterTheEnd", {.dot = ""}, kHang, SendOutcome::Unknown, Raised::Socket,
            TSocketBase::ReplyTimedOutText, 300),
        cut("StoppedWhileWaiting", {.resetReply = ""}, kHang, SendOutcome::Stopped, Raised::Abort,
            "Socket readln aborted", 0, true)),
    [](const auto& info) { return std::string(info.param.name); });

// Abort from the owner's handler before the first command: nothing of the message goes out and
// the connection is given up, since the cancel cannot be told from one inside a wait.
TEST_F(SmtpClientTest, StopFromTheSendStartHandlerSendsNothing) {
    server.greet().expect("RSET").hang();
    client.TimeOut = 0;
    client.Connect();
    client.OnSendStart = [&](QObject*) { client.Abort(); };
    EXPECT_EQ(thrown<EAbortError>([&] { client.SendMail(); }), "Socket readln aborted");
    EXPECT_EQ(client.LastResult().Outcome, SendOutcome::Stopped);
    EXPECT_FALSE(client.Busy());
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server.lines(), QList<QByteArray>{"HELO pc01"});
}

// What an owner's handler throws ends the message and comes out of SendMail as it was thrown;
// a handler that throws while the server waits inside the data leaves no half message behind.
TEST_F(SmtpClientTest, AHandlerThatThrowsEndsTheMessageAsNotSent) {
    struct Journal : std::runtime_error {
        using std::runtime_error::runtime_error;
    };
    server.greet().exchange({.data = ""}).send("354 go\r\n").accept().greet().mail().quit();
    client.Connect();
    int throwAt = 1;
    client.OnEndOfData = [&](QObject*) {
        if (--throwAt == 0)
            throw Journal("journal full");
    };
    const SendResult first = client.Send();
    EXPECT_EQ(first.Outcome, SendOutcome::NotSent);
    EXPECT_EQ(first.ErrorText, "journal full");
    EXPECT_THROW(std::rethrow_exception(first.Exception), Journal);
    EXPECT_FALSE(client.Connected()); // never "." after the body the server holds
    EXPECT_FALSE(client.Busy());

    client.Connect();
    throwAt = 2;
    client.OnSendStart = [&](QObject*) {
        if (throwAt == 2)
            throw Journal("before any command");
    };
    EXPECT_THROW(client.SendMail(), Journal);
    EXPECT_TRUE(client.Connected()); // nothing was sent: the connection is in step
    client.OnSendStart = nullptr;
    client.SendMail();
    client.Disconnect();
    EXPECT_TRUE(server.played());
    EXPECT_EQ(server.received().count("\r\n.\r\n"), 1); // the second message's end only
}

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
    server.greet().exchange({.rcpt = {"550 no such user\r\n"}});
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
