// The errors the Internet clients raise. Callers tell a connection that was never made from
// one that broke afterwards by class: EIdConnectError and its subclasses cover name look-up,
// refusal, the connect limit and a server that greets or introduces badly; everything after
// that is another EIdException.
#pragma once

#include "vcl/SysUtils.h"

#include <string>

namespace net {

class EIdException : public vcl::Exception {
public:
    using vcl::Exception::Exception;
};

// A component asked for a second operation while one is still running on it.
class EIdAlreadyConnected : public EIdException {
public:
    EIdAlreadyConnected() : EIdException("Already connected.") {}
};

class EIdNotConnected : public EIdException {
public:
    EIdNotConnected() : EIdException("Not Connected") {}
};

// A network failure; LastError is the system's error number when there is one, else 0.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int lastError, std::string message)
        : EIdException(std::move(message)), last_error_(lastError) {}
    int LastError() const { return last_error_; }

private:
    int last_error_;
};

// No session with the server came about.
class EIdConnectError : public EIdSocketError {
public:
    using EIdSocketError::EIdSocketError;
};

class EIdConnectTimeout : public EIdConnectError {
public:
    EIdConnectTimeout() : EIdConnectError(0, "Connect timed out.") {}
};

// The server sent nothing for longer than the component's ReadTimeout.
class EIdReadTimeout : public EIdSocketError {
public:
    EIdReadTimeout() : EIdSocketError(0, "Read timed out.") {}
};

// The server closed the connection before its answer was complete.
class EIdConnClosedGracefully : public EIdSocketError {
public:
    EIdConnClosedGracefully() : EIdSocketError(0, "Connection Closed Gracefully.") {}
};

// The answer is longer than the component takes into memory or into a download; a peer
// cannot make the program hold more than that.
class EIdAnswerTooLarge : public EIdException {
public:
    EIdAnswerTooLarge() : EIdException("Response too large.") {}
};

// The server answered, and refused.
class EIdProtocolReplyError : public EIdException {
public:
    EIdProtocolReplyError(int replyErrorCode, std::string message)
        : EIdException(std::move(message)), reply_error_code_(replyErrorCode) {}
    int ReplyErrorCode() const { return reply_error_code_; }

private:
    int reply_error_code_;
};

// An HTTP answer with an error or an unfollowed redirect status. The message is the status
// line ("HTTP/1.1 404 Not Found"); ErrorMessage holds the body of the answer.
class EIdHTTPProtocolException : public EIdProtocolReplyError {
public:
    EIdHTTPProtocolException(int errorCode, std::string statusLine, std::string errorMessage)
        : EIdProtocolReplyError(errorCode, std::move(statusLine)),
          error_message_(std::move(errorMessage)) {}
    int ErrorCode() const { return ReplyErrorCode(); }
    const std::string& ErrorMessage() const { return error_message_; }

private:
    std::string error_message_;
};

// An SMTP server refused a step after the introduction (authentication, sender, recipient,
// data). The message is the server's reply text.
class EIdSMTPReplyError : public EIdProtocolReplyError {
public:
    using EIdProtocolReplyError::EIdProtocolReplyError;
};

} // namespace net
