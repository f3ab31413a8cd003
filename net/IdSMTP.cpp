#include "net/IdSMTP.h"

#include "net/CurlTransfer.h"
#include "net/IdAntiFreeze.h"
#include "vcl/Forms.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <functional>
#include <unistd.h>

namespace net {

namespace detail {

// One SMTP session: curl keeps the connection in the multi handle between Connect and Send.
// It is shared with a running call so that a component destroyed meanwhile leaves the
// handles to the call, which frees them when it unwinds.
struct SmtpSession {
    char errorBuffer[CURL_ERROR_SIZE] = {};
    UrlHandle url;
    EasyHandle easy;
    MultiHandle multi;
    std::exception_ptr pending; // a refusal met during curl's connect steps; Send raises it
    bool closed = false;        // the connection is gone already; Disconnect has no goodbye
};

} // namespace detail

namespace {

using detail::RequestToken;
using detail::SmtpSession;

// The server's replies as the dialogue goes, and how far it got.
struct Dialogue {
    bool introduced = false; // past the greeting and EHLO/HELO
    int refusalCode = 0;     // the last reply of 400 or more
    std::string refusalText;

    void Watch(curl_infotype type, std::string_view lines) {
        while (!lines.empty()) {
            auto end = lines.find('\n');
            const std::string_view line = detail::WithoutLineEnd(lines.substr(0, end));
            lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
            if (type == CURLINFO_HEADER_OUT) {
                // Curl authenticates and then sends our first own command within its connect
                // steps: either one means the introduction is over.
                std::string word(line.substr(0, 4));
                std::transform(word.begin(), word.end(), word.begin(),
                               [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
                if (word == "AUTH" || word == "RSET")
                    introduced = true;
            } else if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                       std::isdigit(static_cast<unsigned char>(line[1])) &&
                       std::isdigit(static_cast<unsigned char>(line[2]))) {
                const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
                if (code >= 400) {
                    refusalCode = code;
                    refusalText = std::string(line.size() > 4 ? line.substr(4) : line);
                }
            }
        }
    }
};

size_t DiscardData(char*, size_t size, size_t count, void*) {
    return size * count;
}

struct Upload {
    const std::string* text = nullptr;
    std::size_t sent = 0;
};

size_t UploadData(char* buffer, size_t size, size_t count, void* context) {
    auto& up = *static_cast<Upload*>(context);
    const std::size_t chunk = std::min(size * count, up.text->size() - up.sent);
    std::copy_n(up.text->data() + up.sent, chunk, buffer);
    up.sent += chunk;
    return chunk;
}

std::string Envelope(const std::string& address) {
    std::string clean;
    for (char c : address)
        if (c != '\r' && c != '\n')
            clean += c;
    return "<" + clean + ">";
}

std::string ThisHostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || !name[0])
        return "localhost";
    return name;
}

// The error a failed step of the dialogue after the introduction stands for.
std::exception_ptr SendFailure(const detail::TransferOutcome& outcome, const Dialogue& dialogue,
                               SmtpSession& session) {
    try {
        if (outcome.end == detail::TransferEnd::IdleTimeout ||
            outcome.code == CURLE_OPERATION_TIMEDOUT)
            throw EIdReadTimeout();
        if (dialogue.refusalCode)
            throw EIdSMTPReplyError(dialogue.refusalCode, dialogue.refusalText);
        if (outcome.code == CURLE_LOGIN_DENIED)
            throw EIdSMTPReplyError(0, "Authentication failed.");
        detail::RaiseCurlError(session.easy.get(), outcome.code, false);
    } catch (...) {
        return std::current_exception();
    }
}

bool Pumping() {
    return vcl::HasApplication() && TIdAntiFreeze::ShouldPump();
}

// One exchange on the session's handle while `busy` marks the component, the server's
// replies watched by the dialogue. `release` unhooks the caller's data from the handle on
// every path. A component released meanwhile is never touched again: its `busy` is gone too.
detail::TransferOutcome Exchange(std::shared_ptr<RequestToken>& busy, detail::SmtpSession& session,
                                 const detail::TransferLimits& limits, Dialogue& dialogue,
                                 const std::function<void()>& release = {}) {
    auto token = std::make_shared<RequestToken>();
    busy = token;
    detail::TransferOutcome outcome;
    {
        detail::Transfer transfer(session.easy.get(), session.multi.get(), *token);
        transfer.OnTraffic = [&dialogue](curl_infotype type, std::string_view lines) {
            dialogue.Watch(type, lines);
        };
        try {
            outcome = transfer.Run(limits, Pumping());
        } catch (...) {
            if (release)
                release();
            if (!token->ownerGone)
                busy.reset();
            throw;
        }
    }
    if (release)
        release();
    if (token->ownerGone)
        throw EIdException("The SMTP session was abandoned: its component was destroyed");
    busy.reset();
    return outcome;
}

} // namespace

TIdSMTP::TIdSMTP(vcl::TComponent* owner) : vcl::TComponent(owner) {
}

TIdSMTP::~TIdSMTP() {
    if (busy_) {
        busy_->ownerGone = true; // the running call frees the session
        return;
    }
    Disconnect();
}

void TIdSMTP::Connect(int timeoutMs) {
    // One call at a time: a second one from a handler run by the message pump is refused.
    if (busy_ || session_)
        throw EIdAlreadyConnected();

    auto session = std::make_shared<SmtpSession>();
    session->url = detail::NewUrl();
    CURLU* url = session->url.get();
    const std::string port = std::to_string(Port);
    const std::string path = "/" + (HeloName.empty() ? ThisHostName() : HeloName);
    if (curl_url_set(url, CURLUPART_SCHEME, "smtp", 0) != CURLUE_OK ||
        curl_url_set(url, CURLUPART_HOST, Host.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url, CURLUPART_PORT, port.c_str(), 0) != CURLUE_OK ||
        curl_url_set(url, CURLUPART_PATH, path.c_str(), CURLU_URLENCODE) != CURLUE_OK)
        throw EIdConnectError(0, "Invalid SMTP server: " + Host + ":" + port);

    session->easy = detail::NewEasy(session->errorBuffer);
    session->multi = detail::NewMulti();
    CURL* e = session->easy.get();
    curl_easy_setopt(e, CURLOPT_CURLU, url);
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "smtp");
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &DiscardData);
    if (ReadTimeout > 0)
        curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                         static_cast<long>((ReadTimeout + 999) / 1000));
    if (AuthenticationType == atLogin) {
        curl_easy_setopt(e, CURLOPT_USERNAME, Username.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, Password.c_str());
        curl_easy_setopt(e, CURLOPT_LOGIN_OPTIONS, "AUTH=LOGIN");
    }
    // A harmless command gets curl through its connect steps and leaves the connection open
    // for Send.
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "RSET");

    Dialogue dialogue;
    detail::TransferLimits limits;
    limits.connectMs = timeoutMs;
    limits.idleMs = ReadTimeout;
    const detail::TransferOutcome outcome = Exchange(busy_, *session, limits, dialogue);

    const bool failed = outcome.end != detail::TransferEnd::Finished || outcome.code != CURLE_OK;
    if (!failed) {
        session_ = session;
        return;
    }
    if (outcome.end == detail::TransferEnd::ConnectTimeout)
        throw EIdConnectTimeout();
    if (dialogue.introduced) {
        // Curl authenticates within its connect steps; to the caller that is part of the
        // sending, so the refusal waits for Send.
        session->pending = SendFailure(outcome, dialogue, *session);
        session->closed = true;
        session_ = session;
        return;
    }
    if (outcome.end == detail::TransferEnd::IdleTimeout)
        throw EIdConnectError(0, "Read timed out.");
    if (dialogue.refusalCode)
        throw EIdConnectError(0, std::to_string(dialogue.refusalCode) + " " + dialogue.refusalText);
    detail::RaiseCurlError(e, outcome.code, true);
}

void TIdSMTP::Send(const TIdMessage& message) {
    if (busy_)
        throw EIdAlreadyConnected();
    if (!session_)
        throw EIdNotConnected();
    std::shared_ptr<SmtpSession> session = session_;
    if (session->pending) {
        std::exception_ptr pending = std::exchange(session->pending, nullptr);
        std::rethrow_exception(pending);
    }
    if (message.Recipients.Count() == 0)
        throw EIdException("No recipients");

    CURL* e = session->easy.get();
    detail::Slist recipients;
    for (int i = 0; i < message.Recipients.Count(); ++i)
        detail::AppendList(recipients, Envelope(message.Recipients[i].Address));
    const std::string sender = Envelope(message.From.Address);
    const std::string text = message.GenerateMessage(HeloName.empty() ? ThisHostName() : HeloName);
    Upload upload;
    upload.text = &text;

    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, nullptr);
    curl_easy_setopt(e, CURLOPT_MAIL_FROM, sender.c_str());
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(e, CURLOPT_READFUNCTION, &UploadData);
    curl_easy_setopt(e, CURLOPT_READDATA, &upload);
    curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(text.size()));
    // The goodbye comes with the end of the mail, under this handle's reply limit.
    curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);

    Dialogue dialogue;
    detail::TransferLimits limits;
    limits.idleMs = ReadTimeout;
    // The handle must not keep pointers into this call's locals.
    const detail::TransferOutcome outcome = Exchange(busy_, *session, limits, dialogue, [e] {
        curl_easy_setopt(e, CURLOPT_MAIL_RCPT, nullptr);
        curl_easy_setopt(e, CURLOPT_READDATA, nullptr);
    });
    session->closed = true;

    if (outcome.end == detail::TransferEnd::Finished && outcome.code == CURLE_OK)
        return;
    std::rethrow_exception(SendFailure(outcome, dialogue, *session));
}

void TIdSMTP::Disconnect() {
    if (busy_ || !session_)
        return;
    std::shared_ptr<SmtpSession> session = std::move(session_);
    session_.reset();
    if (session->closed)
        return;
    try {
        CURL* e = session->easy.get();
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, "QUIT");
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        auto token = std::make_shared<RequestToken>();
        detail::TransferLimits limits;
        limits.connectMs = 1; // goodbye on the open connection only, never on a new one
        limits.idleMs = ReadTimeout;
        busy_ = token;
        {
            detail::Transfer transfer(e, session->multi.get(), *token);
            transfer.Run(limits, false);
        }
        busy_.reset();
    } catch (...) {
        busy_.reset();
    }
}

} // namespace net
