// TIdSMTP and TIdMessage against aiosmtpd and a few misbehaving servers on loopback.
#include "TestServers.h"

#include "net/IdSMTP.h"
#include "vcl/Forms.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <chrono>
#include <fstream>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace net;
using nettest::ErrorKind;

class IdSMTPTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new nettest::ServerProcess(nettest::ScriptPath("smtp_server.py"), Log());
        ports_ = QJsonDocument::fromJson(QByteArray::fromStdString(server_->FirstLine())).object();
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { std::ofstream(Log(), std::ios::trunc).close(); }

    static std::string Log() { return nettest::LogPath("smtp.log"); }
    static int Port(const char* name) { return ports_[name].toInt(); }
    static std::vector<QJsonObject> Events(const char* event) {
        std::vector<QJsonObject> found;
        for (const auto& entry : nettest::ReadLog(Log()))
            if (entry["event"].toString() == event)
                found.push_back(entry);
        return found;
    }

    // The server notes a goodbye as it ends the connection, which may come just after the
    // client has gone on: wait a little for it.
    static std::vector<QJsonObject> EventsWhenLogged(const char* event, std::size_t count) {
        std::vector<QJsonObject> found = Events(event);
        for (int i = 0; i < 100 && found.size() < count; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            found = Events(event);
        }
        return found;
    }

    std::unique_ptr<TIdSMTP> NewClient(int port) {
        auto smtp = std::make_unique<TIdSMTP>(nullptr);
        smtp->Host = "127.0.0.1";
        smtp->Port = port;
        smtp->HeloName = "client.example";
        smtp->ReadTimeout = 5000;
        return smtp;
    }
    static std::unique_ptr<TIdMessage> NewMessage(const std::string& from, const std::string& to) {
        auto message = std::make_unique<TIdMessage>(nullptr);
        message->From.Address = from;
        message->Recipients.Add().Address = to;
        message->Subject = "Changement d'adresse IP";
        message->Body.Assign(std::vector<std::string>{
            "Kestrova vous informe!", "Adresse IP : 192.0.2.7", "Lien : http://192.0.2.7",
            "Date et heure : 01/02/2024 10:11:12", " ", "Message :", ".", "..leading dots",
            "é accentué"});
        return message;
    }
    // The headers and the body lines of a received mail.
    static std::pair<std::vector<std::string>, std::vector<std::string>>
    Split(const std::string& data) {
        std::vector<std::string> headers, body;
        bool inBody = false;
        std::size_t start = 0;
        while (start < data.size()) {
            auto end = data.find("\r\n", start);
            if (end == std::string::npos)
                end = data.size();
            std::string line = data.substr(start, end - start);
            start = end + 2;
            if (!inBody && line.empty())
                inBody = true;
            else
                (inBody ? body : headers).push_back(line);
        }
        return {headers, body};
    }
    static std::string HeaderValue(const std::vector<std::string>& headers,
                                   const std::string& name) {
        for (const auto& h : headers)
            if (h.rfind(name + ": ", 0) == 0)
                return h.substr(name.size() + 2);
        return "<none>";
    }

    static inline nettest::ServerProcess* server_ = nullptr;
    static inline QJsonObject ports_;
    vcl::TApplication app_;
};

TEST_F(IdSMTPTest, SendsTheMailWithItsLinesInOrder) {
    auto smtp = NewClient(Port("smtp"));
    auto message = NewMessage("sender@example.org", "friend@example.org");
    smtp->Connect(300);
    EXPECT_TRUE(smtp->Connected());
    smtp->Send(*message);
    smtp->Disconnect();
    EXPECT_FALSE(smtp->Connected());

    const auto mails = Events("mail");
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(EventsWhenLogged("quit", 1).size(), 1u);
    const QJsonObject& mail = mails[0];
    EXPECT_EQ(mail["mail_from"].toString(), "sender@example.org");
    EXPECT_EQ(mail["rcpt_tos"].toArray().size(), 1);
    EXPECT_EQ(mail["rcpt_tos"].toArray()[0].toString(), "friend@example.org");
    EXPECT_TRUE(mail["login"].isNull());
    EXPECT_EQ(mail["ehlo"].toString(), "client.example");
    EXPECT_EQ(mail["ehlo_count"].toInt(), 1) << "one session from connect to send";
    const auto [headers, body] = Split(mail["data"].toString().toStdString());
    EXPECT_EQ(HeaderValue(headers, "From"), "sender@example.org");
    EXPECT_EQ(HeaderValue(headers, "To"), "friend@example.org");
    EXPECT_EQ(HeaderValue(headers, "Subject"), "Changement d'adresse IP");
    EXPECT_NE(HeaderValue(headers, "Date"), "<none>");
    EXPECT_EQ(body, message->Body.Lines());
}

TEST_F(IdSMTPTest, AuthenticatesWithLogin) {
    auto smtp = NewClient(Port("smtp"));
    smtp->AuthenticationType = atLogin;
    smtp->Username = "mailer@example.org";
    smtp->Password = "p@ss:w/rd";
    auto message = NewMessage("sender@example.org", "friend@example.org");
    message->Subject = "Adresse changée";
    message->Body.Clear();
    smtp->Connect(300);
    smtp->Send(*message);
    smtp->Disconnect();
    const auto mails = Events("mail");
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0]["login"].toString(), "mailer@example.org");
    EXPECT_EQ(mails[0]["mechanism"].toString(), "LOGIN");
    const auto [headers, body] = Split(mails[0]["data"].toString().toStdString());
    EXPECT_EQ(HeaderValue(headers, "Subject"), "=?utf-8?B?QWRyZXNzZSBjaGFuZ8OpZQ==?=");
    EXPECT_TRUE(body.empty());
}

// Where a failure shows decides what the caller does: a failed Connect is reported as an
// unreachable server, a failed Send goes on to the caller's caller.
TEST_F(IdSMTPTest, ConnectFailuresAreToldApartFromSendFailures) {
    nettest::FullListener full;
    struct Case {
        const char* name;
        int port;
        std::string host;
        const char* password; // non-null: AUTH LOGIN
        const char* from;
        const char* to;
        int readTimeout;
        const char* connectKind; // "" when Connect succeeds
        const char* sendKind;
        int replyCode;
        std::string message; // what the user is shown; "" when any
    };
    const Case cases[] = {
        {"refused", nettest::RefusedPort(), "127.0.0.1", nullptr, "a@example.org", "b@example.org",
         5000, "EIdConnectError", "", 0, "Connection refused."},
        {"bad host name", 25, "bad host!", nullptr, "a@example.org", "b@example.org", 5000,
         "EIdConnectError", "", 0, "Invalid SMTP server: bad host!:25"},
        {"never accepted", full.Port(), "127.0.0.1", nullptr, "a@example.org", "b@example.org",
         5000, "EIdConnectTimeout", "", 0, "Connect timed out."},
        {"bad greeting", Port("badgreeting"), "127.0.0.1", nullptr, "a@example.org",
         "b@example.org", 5000, "EIdConnectError", "", 0, "554 5.3.2 Not now"},
        {"introduction refused", Port("badintroduction"), "127.0.0.1", nullptr, "a@example.org",
         "b@example.org", 5000, "EIdConnectError", "", 0, "502 5.5.2 Not understood"},
        {"no greeting", Port("silent"), "127.0.0.1", nullptr, "a@example.org", "b@example.org", 150,
         "EIdConnectError", "", 0, "Read timed out."},
        {"wrong password", Port("smtp"), "127.0.0.1", "wrong", "a@example.org", "b@example.org",
         5000, "", "EIdSMTPReplyError", 535, "5.7.8 Authentication credentials invalid"},
        {"sender refused", Port("smtp"), "127.0.0.1", nullptr, "blocked@example.org",
         "b@example.org", 5000, "", "EIdSMTPReplyError", 553, "5.7.1 Sender refused"},
        {"recipient refused", Port("smtp"), "127.0.0.1", nullptr, "a@example.org",
         "refused@example.org", 5000, "", "EIdSMTPReplyError", 550, "5.1.1 Mailbox unavailable"},
        {"connection lost", Port("drop"), "127.0.0.1", nullptr, "a@example.org", "b@example.org",
         5000, "", "EIdSocketError", 0, "Connection Closed Gracefully."},
        {"connection lost during the data", Port("dropdata"), "127.0.0.1", nullptr, "a@example.org",
         "b@example.org", 5000, "", "EIdSocketError", 0, "Connection Closed Gracefully."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto smtp = NewClient(c.port);
        smtp->Host = c.host;
        smtp->ReadTimeout = c.readTimeout;
        if (c.password) {
            smtp->AuthenticationType = atLogin;
            smtp->Username = "mailer@example.org";
            smtp->Password = c.password;
        }
        std::exception_ptr connectError;
        try {
            smtp->Connect(300);
        } catch (...) {
            connectError = std::current_exception();
        }
        if (*c.connectKind) {
            ASSERT_TRUE(connectError);
            EXPECT_EQ(ErrorKind(connectError), c.connectKind);
            EXPECT_FALSE(smtp->Connected());
            try {
                std::rethrow_exception(connectError);
            } catch (const EIdException& e) {
                if (!c.message.empty()) {
                    EXPECT_EQ(e.Message(), c.message);
                }
            }
            continue;
        }
        ASSERT_FALSE(connectError) << ErrorKind(connectError);
        auto message = NewMessage(c.from, c.to);
        std::exception_ptr sendError;
        try {
            smtp->Send(*message);
        } catch (...) {
            sendError = std::current_exception();
        }
        smtp->Disconnect();
        ASSERT_TRUE(sendError);
        const std::string kind = ErrorKind(sendError);
        if (std::string(c.sendKind) == "EIdSocketError")
            EXPECT_TRUE(kind == "EIdSocketError" || kind == "EIdConnClosedGracefully") << kind;
        else
            EXPECT_EQ(kind, c.sendKind);
        try {
            std::rethrow_exception(sendError);
        } catch (const EIdConnectError&) {
            ADD_FAILURE() << "a failure after the connect is no connect error";
        } catch (const EIdSMTPReplyError& e) {
            EXPECT_EQ(e.ReplyErrorCode(), c.replyCode);
            EXPECT_FALSE(e.Message().empty());
        } catch (const EIdException& e) {
            EXPECT_FALSE(e.Message().empty());
        }
        try {
            std::rethrow_exception(sendError);
        } catch (const EIdException& e) {
            if (!c.message.empty()) {
                EXPECT_EQ(e.Message(), c.message);
            }
        }
    }
    EXPECT_TRUE(Events("mail").empty());
}

TEST_F(IdSMTPTest, DisconnectWithoutSendSaysGoodbyeOnTheSameConnection) {
    auto smtp = NewClient(Port("smtp"));
    smtp->Connect(300);
    smtp->Disconnect();
    const auto quits = EventsWhenLogged("quit", 1);
    ASSERT_EQ(quits.size(), 1u);
    EXPECT_EQ(quits[0]["ehlo_count"].toInt(), 1);
    EXPECT_TRUE(Events("mail").empty());
}

TEST(IdMessage, HeaderValuesStayOnOneLine) {
    TIdMessage message(nullptr);
    message.From.Address = "a@example.org";
    message.Recipients.SetEMailAddresses("b@example.org, c@example.org;d@example.org");
    message.Subject = "two\r\nBcc: evil@example.org";
    message.Body.Assign(std::vector<std::string>{"one\ntwo", "three"});
    const std::string text = message.GenerateMessage("here.example");
    EXPECT_NE(text.find("\r\nTo: b@example.org, c@example.org, d@example.org\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nSubject: two  Bcc: evil@example.org\r\n"), std::string::npos);
    EXPECT_EQ(text.find("\r\nBcc:"), std::string::npos);
    EXPECT_NE(text.find("\r\n\r\none\r\ntwo\r\nthree\r\n"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

} // namespace
