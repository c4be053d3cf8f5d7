// Commands sent as one group when the server offers PIPELINING after EHLO.
#include "smtp_test_support.h"

namespace {

using namespace tessaly;
using namespace tessaly::test;

class PipeliningTest : public SmtpClientTest {
protected:
    void loggedIn() {
        client.UseAuth = true;
        client.LoginName = "user";
        client.Password = "secret";
        server.send("220 ready\r\n").expect("EHLO pc01");
        server.send("250-hello\r\n250-PIPELINING\r\n250 AUTH PLAIN\r\n");
        server.expect("AUTH PLAIN *").send("235 ok\r\n");
    }
    // The server answers only once the whole group is in: a client that waited for each reply
    // would wait in vain. RSET leads the group only after a message that was not accepted.
    void group(bool reset, const QByteArray& rcpt, const QByteArray& replies) {
        if (reset)
            server.expect("RSET");
        server.expect("MAIL FROM:<sender@example.jp>").expect(rcpt).expect("DATA");
        server.send(replies);
    }
};

TEST_F(PipeliningTest, SendsTheEnvelopeAsOneGroupAndReadsEveryReplyInOrder) {
    loggedIn();
    group(false, "RCPT TO:<taro@example.jp>", "250 ok\r\n250 ok\r\n354 go\r\n");
    server.expectData().send("250 queued\r\n");
    // A refused recipient: the replies after it are still read, so the next message is in step.
    group(false, "RCPT TO:<jiro@example.jp>", "250 ok\r\n550 5.1.1 no such user\r\n554 no valid recipients\r\n");
    group(true, "RCPT TO:<taro@example.jp>", "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n");
    server.expectData().send("250 queued\r\n");
    server.quit();

    client.Connect();
    client.SendMail();
    EXPECT_EQ(client.LastResult().Outcome, SendOutcome::Accepted);
    client.PostMessage.ToAddress = {"jiro@example.jp"};
    // Nobody left to receive it: the recipient's refusal decides, not the DATA's.
    EXPECT_EQ(thrown<RefusedError>([&] { client.SendMail(); }), "550 5.1.1 no such user\r\n");
    EXPECT_EQ(client.LastRecipientRefusal().Code, 550);
    EXPECT_EQ(client.LastRecipientRefusal().Text(), "550 5.1.1 no such user\r\n");
    client.PostMessage.ToAddress = {"taro@example.jp"};
    client.SendMail();
    EXPECT_EQ(client.LastRecipientRefusal().Code, 0);
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

// A server that opens the data although it accepted no recipient gets it closed empty, and the
// next message starts in step.
TEST_F(PipeliningTest, DataOpenedForNobodyIsClosedEmpty) {
    loggedIn();
    group(false, "RCPT TO:<taro@example.jp>", "250 ok\r\n450 mailbox busy\r\n354 go\r\n");
    server.expect(".").send("554 no valid recipients\r\n");
    group(true, "RCPT TO:<taro@example.jp>", "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n");
    server.expectData().send("250 queued\r\n").quit();

    client.Connect();
    const SendResult refused = client.Send();
    EXPECT_EQ(refused.Outcome, SendOutcome::TemporaryFailure);
    EXPECT_EQ(refused.Reply.Text(), "450 mailbox busy\r\n");
    EXPECT_EQ(client.Send().Outcome, SendOutcome::Accepted);
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

// One command at a time, and RSET only where a refused message may have left a transaction open.
TEST_F(PipeliningTest, OneCommandAtATimeWhenSwitchedOff) {
    loggedIn();
    client.Pipelining = false;
    server.extendedMail();
    server.expect("MAIL FROM:<*").send("250 ok\r\n").expect("RCPT TO:<*").send("550 no such user\r\n");
    server.expect("RSET").send("250 ok\r\n").expect("MAIL FROM:<*").send("250 ok\r\n");
    server.expect("RCPT TO:<*").send("250 ok\r\n").expect("DATA").send("354 go\r\n");
    server.expectData().send("554 5.7.1 rejected\r\n");
    server.mail().quit();

    const auto send = [this] {
        client.PostMessage.ToAddress = {"taro@example.jp"};
        client.SendMail();
    };
    client.Connect();
    send();
    EXPECT_THROW(send(), RefusedError);
    EXPECT_THROW(send(), RefusedError);
    EXPECT_EQ(client.LastResult().Outcome, SendOutcome::PermanentFailure);
    send();
    EXPECT_EQ(client.LastResult().Outcome, SendOutcome::Accepted);
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

// The extended exchange sends the header, the body and "." in one write. A stop just before it
// sends none of it, so the message is known to be unsent rather than of unknown fate.
TEST_F(PipeliningTest, AStopBeforeTheMessageDataLeavesItUnsent) {
    loggedIn();
    server.expect("MAIL FROM:<*").send("250 ok\r\n").expect("RCPT TO:<*").send("250 ok\r\n");
    server.expect("DATA").send("354 go\r\n").hang();
    client.Pipelining = false;
    client.Connect();
    client.OnEndOfData = [this](QObject*) { client.Abort(); };
    EXPECT_EQ(thrown<EAbortError>([&] { client.SendMail(); }), "Socket send aborted");
    EXPECT_EQ(client.LastResult().Outcome, SendOutcome::Stopped);
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(server.lines().back(), "DATA");
}

} // namespace
