// Running one libcurl transfer on the GUI thread: the connect limit, the idle limit, the
// optional message pump between polls, and the hand-off between a request and a component
// that may be destroyed while the request waits.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace net::detail {

struct EasyDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct MultiDeleter {
    void operator()(CURLM* handle) const { curl_multi_cleanup(handle); }
};
struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ShareDeleter {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using ShareHandle = std::unique_ptr<CURLSH, ShareDeleter>;

// Handles with the settings every client wants: no signals, no proxy from the environment,
// an error buffer. Failures to allocate raise EIdException.
EasyHandle NewEasy(char (&errorBuffer)[CURL_ERROR_SIZE]);
MultiHandle NewMulti();
UrlHandle NewUrl();
void AppendList(Slist& list, const std::string& line);
// A URL as typed, with its blanks written as %20 so that the request line stays whole.
std::string EncodeBlanks(std::string_view url);
// A protocol line without the CR and LF bytes that end it.
std::string_view WithoutLineEnd(std::string_view line);

// What a running request shares with the component that started it. Messages pumped while
// the request waits may run a handler that destroys the component; its destructor sets
// ownerGone, and the request then unwinds without touching the component again.
struct RequestToken {
    bool ownerGone = false;
};

// The longest sleep between two looks at the network while messages are pumped.
constexpr int PumpStepMs = 125;

struct TransferLimits {
    int connectMs = 0; // from the start until the TCP connection stands; 0: no limit of ours
    int idleMs = 0;    // with no byte in or out; 0: none
    // From the start until the end, however steadily bytes come: a server dripping its
    // answer never trips the idle limit. 0: none.
    int deadlineMs = 0;
    // Once connected, fewer than lowSpeedBytes a second (in and out) over lowSpeedMs ends the
    // transfer: a trickle that would hold it until the deadline gives up within a minute or
    // so. 0: none.
    std::int64_t lowSpeedBytes = 0;
    int lowSpeedMs = 0;
};

// Quitting: the program was told to end (TApplication::Terminate) while the request waited
// on its messages, or before a request that would pump them began; the message loop can
// only end once the request has given up.
enum class TransferEnd {
    Finished,
    ConnectTimeout,
    IdleTimeout,
    Deadline,
    TooSlow,
    OwnerGone,
    Quitting
};

struct TransferOutcome {
    TransferEnd end = TransferEnd::Finished;
    CURLcode code = CURLE_OK; // curl's result when Finished
    bool connected = false;   // a TCP connection had been made
};

// One transfer of an easy handle through a multi handle. The easy handle's debug function
// is taken over to watch the traffic; OnTraffic sees every header line in and out (for
// pingpong protocols: the commands and the server's replies). What OnTraffic raises never
// unwinds through libcurl: it ends the transfer and Run raises it.
class Transfer {
public:
    Transfer(CURL* easy, CURLM* multi, const RequestToken& token);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // Callbacks of the component call this for traffic they see themselves.
    void Touch();
    // Bytes that went in or out, for the speed floor.
    void Count(std::size_t bytes);
    TransferOutcome Run(const TransferLimits& limits, bool pump);

    std::function<void(curl_infotype type, std::string_view line)> OnTraffic;

private:
    static int Debug(CURL* handle, curl_infotype type, char* data, size_t size, void* self);

    CURL* easy_;
    CURLM* multi_;
    const RequestToken& token_;
    std::exception_ptr failure_;
    std::chrono::steady_clock::time_point last_activity_;
    std::int64_t bytes_ = 0;
};

// The network error for a failed transfer, in the component's own words: the class tells a
// connection never made from one that broke, the text what the user may be shown.
[[noreturn]] void RaiseCurlError(CURL* easy, CURLcode code, bool connectPhase);

} // namespace net::detail
