// The ICS-style HTTP client in its synchronous use: Get() fetches URL into RcvdStream over
// HTTP/1.0, pumping window messages while it waits. It raises nothing: a failed request
// (no connection, no answer in time, a body cut before its announced length, an answer over
// its size limit) leaves the stream as it was and StatusCode 0.
#pragma once

#include "vcl/Classes.h"
#include "vcl/Streams.h"

#include <cstdint>
#include <memory>
#include <string>

namespace net {

namespace detail {
struct RequestToken;
} // namespace detail

// A URL with its user information taken out: what Get() sends as Basic authorization.
struct TUrlUserInfo {
    std::string Url; // the URL without "user:password@"
    bool HasUserInfo = false;
    std::string Username;
    std::string Password;
};
// The user information runs up to the last "@" before the host, so names and passwords keep
// any "@", ":" and "/" they hold; the name ends at its first ":". An "@" after the first "?"
// or "#" belongs to the query, and one after a "/" with no ":" before it to the path
// ("http://host/@name").
TUrlUserInfo SplitUrlUserInfo(const std::string& url);

class THttpCli : public vcl::TComponent {
public:
    explicit THttpCli(vcl::TComponent* owner);
    ~THttpCli() override;

    std::string URL;
    std::string Proxy; // empty: straight to the server
    std::string ProxyPort = "80";
    std::string LocalAddr = "0.0.0.0";
    std::string Agent = "Mozilla/4.0 (compatible; ICS)";
    std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string RequestVer = "1.0";
    bool FollowRelocation = true;
    vcl::TStream* RcvdStream = nullptr; // the caller's; the body is written at its position
    // Milliseconds without a byte from the server before the request is given up; 0 waits
    // for ever. A stalled server must not freeze the program, so the default is a minute.
    int ReadTimeout = 60000;
    // What a peer can make a request hold: MaxAnswerSize bytes of an answer received into a
    // TMemoryStream (far above any real answer), MaxDownloadSize into any other stream; and
    // the whole request ends within AnswerDeadline or DownloadDeadline milliseconds (0: no
    // such limit), however steadily a server drips its answer. Past a limit the request
    // fails.
    std::int64_t MaxAnswerSize = std::int64_t{1} << 20;
    std::int64_t MaxDownloadSize = std::int64_t{1} << 30;
    int AnswerDeadline = 120000;
    int DownloadDeadline = 3600000;
    // Once connected, fewer than LowSpeedLimit bytes a second over LowSpeedTime milliseconds
    // fail the request too: a trickle ends within a minute. 0: no floor.
    std::int64_t LowSpeedLimit = 1024;
    int LowSpeedTime = 60000;

    void Get();

    int StatusCode() const { return status_code_; } // 0 when no answer came
    const std::string& ReasonPhrase() const { return reason_phrase_; }
    std::int64_t RcvdCount() const { return rcvd_count_; } // body bytes of the last Get
    bool Busy() const { return busy_ != nullptr; }

private:
    std::shared_ptr<detail::RequestToken> busy_;
    int status_code_ = 0;
    std::string reason_phrase_;
    std::int64_t rcvd_count_ = 0;
};

} // namespace net
