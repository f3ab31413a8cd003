// The Indy-style HTTP client: blocking GET and form POST, Basic authentication, cookies kept
// per component, work events for progress, and EIdException failures.
#pragma once

#include "net/IdException.h"
#include "vcl/Classes.h"
#include "vcl/Streams.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace net {

enum TWorkMode { wmRead, wmWrite };

using TWorkBeginEvent =
    std::function<void(vcl::TObject* Sender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)>;
using TWorkEvent =
    std::function<void(vcl::TObject* Sender, TWorkMode AWorkMode, std::int64_t AWorkCount)>;
using TWorkEndEvent = std::function<void(vcl::TObject* Sender, TWorkMode AWorkMode)>;

struct TIdHTTPRequest {
    std::string Accept = "text/html, */*";
    std::string UserAgent = "Mozilla/3.0 (compatible; Indy Library)";
    std::string ContentType = "text/html";
    std::string Username;
    std::string Password;
    bool BasicAuthentication = false;
};

namespace detail {
struct CookieJar;
struct RequestToken;
} // namespace detail

class TIdHTTP : public vcl::TComponent {
public:
    explicit TIdHTTP(vcl::TComponent* owner);
    ~TIdHTTP() override;

    // Server for URLs given as a path only ("/nic/update?").
    std::string Host;
    int Port = 80;
    TIdHTTPRequest Request;
    bool AllowCookies = true;
    // Form fields are percent-encoded, name and value apart; off, they go as they stand.
    bool ForceEncodeParams = true;
    // A redirect is answered with EIdHTTPProtocolException unless this is set.
    bool HandleRedirects = false;
    int RedirectMaximum = 15;
    // Milliseconds without a byte from the server before the request fails with
    // EIdReadTimeout; 0 waits for ever. A stalled server must not freeze the program, so
    // the default is a minute.
    int ReadTimeout = 60000;
    // Milliseconds for the TCP connect; 0: 120000 while a TIdAntiFreeze is active, else only
    // the idle limit above.
    int ConnectTimeout = 0;
    // What a peer can make a request hold. An answer read into memory (a string or a
    // TMemoryStream) may have MaxAnswerSize bytes, far above any real answer of the servers
    // these programs ask; a download into any other stream (a file) MaxDownloadSize. A
    // longer answer fails the request with EIdAnswerTooLarge, one announced longer fails it
    // before its body is read. Besides the idle limit, the whole request must end within
    // AnswerDeadline or DownloadDeadline milliseconds (0: no such limit), else it fails with
    // EIdReadTimeout: a server dripping its answer never lets the idle limit trip.
    std::int64_t MaxAnswerSize = std::int64_t{1} << 20;
    std::int64_t MaxDownloadSize = std::int64_t{1} << 30;
    int AnswerDeadline = 120000;
    int DownloadDeadline = 3600000;
    // Once connected, a request that moves fewer than LowSpeedLimit bytes a second over
    // LowSpeedTime milliseconds fails with EIdReadTimeout: a trickle ends within a minute, not
    // at the deadline. 0: no floor.
    std::int64_t LowSpeedLimit = 1024;
    int LowSpeedTime = 60000;

    std::string Get(const std::string& url);
    void Get(const std::string& url, vcl::TStream& response);
    std::string Post(const std::string& url, const vcl::TStrings& fields);
    void Post(const std::string& url, const vcl::TStrings& fields, vcl::TStream& response);

    // The last answer: its status code (0 before any) and status line.
    int ResponseCode() const { return response_code_; }
    const std::string& ResponseText() const { return response_text_; }
    // The body length the last answer announced; -1 when it announced none.
    std::int64_t ResponseContentLength() const { return response_content_length_; }
    bool Busy() const { return busy_ != nullptr; }

    TWorkBeginEvent OnWorkBegin;
    TWorkEvent OnWork;
    TWorkEndEvent OnWorkEnd;

    // The body of a form post as this component sends it.
    std::string EncodeFields(const vcl::TStrings& fields) const;

private:
    void DoRequest(const std::string& url, const std::string* body, vcl::TStream& response);

    std::shared_ptr<detail::CookieJar> cookies_;
    std::shared_ptr<detail::RequestToken> busy_;
    int response_code_ = 0;
    std::string response_text_;
    std::int64_t response_content_length_ = -1;
};

} // namespace net
