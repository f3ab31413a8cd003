// The Indy-style SMTP client: Connect (the TCP connection within a limit, the server's
// greeting and the client's introduction), Send (authentication, sender, recipients, data)
// and Disconnect. A failure of Connect is an EIdConnectError; Send raises other
// EIdException classes (EIdSMTPReplyError for a refusal), so callers can treat an
// unreachable server apart from a refused mail.
#pragma once

#include "net/IdException.h"
#include "net/IdMessage.h"
#include "vcl/Classes.h"

#include <memory>
#include <string>

namespace net {

enum TAuthenticationType { atNone, atLogin };

namespace detail {
struct SmtpSession;
struct RequestToken;
} // namespace detail

class TIdSMTP : public vcl::TComponent {
public:
    explicit TIdSMTP(vcl::TComponent* owner);
    ~TIdSMTP() override;

    std::string Host;
    int Port = 25;
    TAuthenticationType AuthenticationType = atNone;
    std::string Username;
    std::string Password;
    std::string HeloName; // the name given in EHLO; empty: this machine's name
    // Milliseconds without a reply before the dialogue fails; 0 waits for ever. A stalled
    // server must not freeze the program, so the default is a minute.
    int ReadTimeout = 60000;

    // timeoutMs limits the TCP connect only (0: no limit of its own); the greeting and the
    // introduction are then under ReadTimeout.
    void Connect(int timeoutMs = 0);
    bool Connected() const { return session_ != nullptr; }
    void Send(const TIdMessage& message);
    // Says goodbye and closes; raises nothing.
    void Disconnect();

private:
    std::shared_ptr<detail::SmtpSession> session_;
    std::shared_ptr<detail::RequestToken> busy_;
};

} // namespace net
