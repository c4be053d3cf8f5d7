// Shared pieces of the SMTP client tests.
#pragma once

#include "fixtures/smtp_scripted_server.h"
#include "smtp/smtp_client.h"

#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <typeinfo>

namespace tessaly::test {

// The message of the exception `f` throws, prefixed with "wrong class: " when it is not an `E`;
// empty when nothing is thrown.
template <typename E, typename F> std::string thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.what();
    } catch (const std::exception& e) {
        return std::string("wrong class ") + typeid(e).name() + ": " + e.what();
    }
    return {};
}

// What an operation raised, by class, for tables that expect one.
enum class Raised { Nothing, Refused, Protocol, Socket, Abort, Other };

// Runs `f`; `text` gets the message of what it raised.
inline Raised raisedBy(const std::function<void()>& f, std::string& text) {
    try {
        f();
        return Raised::Nothing;
    } catch (const RefusedError& e) {
        text = e.what();
        return Raised::Refused;
    } catch (const ProtocolError& e) {
        text = e.what();
        return Raised::Protocol;
    } catch (const ESockError& e) {
        text = e.what();
        return Raised::Socket;
    } catch (const EAbortError& e) {
        text = e.what();
        return Raised::Abort;
    } catch (const std::exception& e) {
        text = e.what();
        return Raised::Other;
    }
}

// A client aimed at a scripted server, with a message ready to send.
class SmtpClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        client.Host = "127.0.0.1";
        client.Port = server.port();
        client.TimeOut = 5000; // no test may hang, whatever the client does
        client.UserID = "pc01";
        client.PostMessage.FromAddress = "sender@example.jp";
        client.PostMessage.ToAddress = {"Taro <taro@example.jp>"};
        client.PostMessage.Subject = "Hello";
        client.PostMessage.LocalProgram = "Tessaly27S";
        client.PostMessage.Body = {"line 1", "line 2"};
    }

    SmtpScriptedServer server;
    TSmtpClient client;
};

} // namespace tessaly::test
