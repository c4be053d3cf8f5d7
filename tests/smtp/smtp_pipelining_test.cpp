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
    // would wait in vain.
    void group(const QByteArray& rcpt, const QByteArray& replies) {
        server.expect("RSET").expect("MAIL FROM:<sender@example.jp>").expect(rcpt).expect("DATA");
        server.send(replies);
    }
};

TEST_F(PipeliningTest, SendsTheEnvelopeAsOneGroupAndReadsEveryReplyInOrder) {
    loggedIn();
    group("RCPT TO:<taro@example.jp>", "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n");
    server.expectData().send("250 queued\r\n");
    // A refused recipient: the replies after it are still read, so the next message is in step.
    group("RCPT TO:<jiro@example.jp>",
          "250 ok\r\n250 ok\r\n550 5.1.1 no such user\r\n554 no valid recipients\r\n");
    group("RCPT TO:<taro@example.jp>", "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n");
    server.expectData().send("250 queued\r\n");
    server.quit();

    client.Connect();
    client.SendMail();
    EXPECT_EQ(client.LastResult().Outcome, TSendOutcome::Accepted);
    client.PostMessage.ToAddress = {"jiro@example.jp"};
    EXPECT_EQ(thrown<ERefusedError>([&] { client.SendMail(); }), "554 no valid recipients\r\n");
    EXPECT_EQ(client.LastRecipientRefusal().Code, 550);
    EXPECT_EQ(client.LastRecipientRefusal().Text(), "550 5.1.1 no such user\r\n");
    client.PostMessage.ToAddress = {"taro@example.jp"};
    client.SendMail();
    EXPECT_EQ(client.LastRecipientRefusal().Code, 0);
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

TEST_F(PipeliningTest, OneCommandAtATimeWhenSwitchedOff) {
    loggedIn();
    client.Pipelining = false;
    server.mail().quit();
    client.Connect();
    client.SendMail();
    client.Disconnect();
    EXPECT_TRUE(server.played());
}

} // namespace
