#include "net/CurlTransfer.h"

#include "net/IdException.h"
#include "vcl/Forms.h"

#include <algorithm>
#include <cerrno>
#include <mutex>
#include <utility>

namespace net::detail {

namespace {

void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A handler that pumped messages may have ended the program ("Quitter" from a menu or a
// button): the message loop ends only when that handler returns, so no request of it may
// wait any longer.
bool Quitting() {
    return vcl::HasApplication() && vcl::Application().Terminated();
}

} // namespace

EasyHandle NewEasy(char (&errorBuffer)[CURL_ERROR_SIZE]) {
    EnsureCurl();
    EasyHandle easy(curl_easy_init());
    if (!easy)
        throw EIdException("Out of memory for a network request");
    errorBuffer[0] = '\0';
    curl_easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(easy.get(), CURLOPT_NOSIGNAL, 1L);
    // The clients go straight to the server unless told otherwise, whatever the environment.
    curl_easy_setopt(easy.get(), CURLOPT_PROXY, "");
    return easy;
}

MultiHandle NewMulti() {
    EnsureCurl();
    MultiHandle multi(curl_multi_init());
    if (!multi)
        throw EIdException("Out of memory for a network request");
    return multi;
}

UrlHandle NewUrl() {
    EnsureCurl();
    UrlHandle url(curl_url());
    if (!url)
        throw EIdException("Out of memory for a network request");
    return url;
}

void AppendList(Slist& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (!grown)
        throw EIdException("Out of memory for a network request");
    (void)list.release();
    list.reset(grown);
}

std::string EncodeBlanks(std::string_view url) {
    std::string out;
    for (char c : url) {
        if (c == ' ')
            out += "%20";
        else
            out += c;
    }
    return out;
}

std::string_view WithoutLineEnd(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.remove_suffix(1);
    return line;
}

Transfer::Transfer(CURL* easy, CURLM* multi, const RequestToken& token)
    : easy_(easy), multi_(multi), token_(token) {
    curl_easy_setopt(easy_, CURLOPT_DEBUGFUNCTION, &Transfer::Debug);
    curl_easy_setopt(easy_, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(easy_, CURLOPT_VERBOSE, 1L);
}

Transfer::~Transfer() {
    curl_easy_setopt(easy_, CURLOPT_DEBUGFUNCTION, nullptr);
    curl_easy_setopt(easy_, CURLOPT_DEBUGDATA, nullptr);
    curl_easy_setopt(easy_, CURLOPT_VERBOSE, 0L);
}

void Transfer::Touch() {
    last_activity_ = std::chrono::steady_clock::now();
}

void Transfer::Count(std::size_t bytes) {
    bytes_ += static_cast<std::int64_t>(bytes);
}

int Transfer::Debug(CURL*, curl_infotype type, char* data, size_t size, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    switch (type) {
    case CURLINFO_HEADER_IN:
    case CURLINFO_HEADER_OUT:
        transfer->Touch();
        transfer->Count(size);
        if (transfer->OnTraffic && !transfer->failure_) {
            try {
                transfer->OnTraffic(type, std::string_view(data, size));
            } catch (...) {
                // Kept for Run: an exception must not cross libcurl's C frames.
                transfer->failure_ = std::current_exception();
            }
        }
        break;
    case CURLINFO_DATA_IN:
    case CURLINFO_DATA_OUT:
        transfer->Touch();
        transfer->Count(size);
        break;
    default:
        break;
    }
    return 0;
}

TransferOutcome Transfer::Run(const TransferLimits& limits, bool pump) {
    using clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;
    const auto start = clock::now();
    last_activity_ = start;
    // The speed floor is measured over windows of lowSpeedMs from the connection on.
    auto windowStart = start;
    std::int64_t windowBytes = 0;
    TransferOutcome outcome;
    if (pump && Quitting()) {
        outcome.end = TransferEnd::Quitting;
        return outcome;
    }

    if (curl_multi_add_handle(multi_, easy_) != CURLM_OK)
        throw EIdException("The network request could not be started");
    // Whatever ends the wait, the handle leaves the multi handle; a transfer cut short has
    // its connection closed by curl.
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi_, easy_};

    for (;;) {
        int running = 0;
        curl_multi_perform(multi_, &running);
        if (failure_)
            std::rethrow_exception(std::exchange(failure_, nullptr));
        int queued = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &queued)) {
            if (message->msg == CURLMSG_DONE && message->easy_handle == easy_) {
                outcome.code = message->data.result;
                outcome.end = TransferEnd::Finished;
                curl_off_t connectTime = 0;
                curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connectTime);
                outcome.connected = outcome.connected || connectTime > 0;
                return outcome;
            }
        }
        if (token_.ownerGone) {
            outcome.end = TransferEnd::OwnerGone;
            return outcome;
        }

        const auto now = clock::now();
        if (limits.deadlineMs > 0) {
            const auto elapsed = std::chrono::duration_cast<milliseconds>(now - start).count();
            if (elapsed >= limits.deadlineMs) {
                outcome.end = TransferEnd::Deadline;
                return outcome;
            }
        }
        if (!outcome.connected) {
            curl_off_t connectTime = 0;
            curl_easy_getinfo(easy_, CURLINFO_CONNECT_TIME_T, &connectTime);
            if (connectTime > 0) {
                outcome.connected = true;
                last_activity_ = std::max(last_activity_, now);
                windowStart = now;
                windowBytes = bytes_;
            }
        }
        if (outcome.connected && limits.lowSpeedMs > 0) {
            const auto window = std::chrono::duration_cast<milliseconds>(now - windowStart).count();
            if (window >= limits.lowSpeedMs) {
                if ((bytes_ - windowBytes) * 1000 < limits.lowSpeedBytes * window) {
                    outcome.end = TransferEnd::TooSlow;
                    return outcome;
                }
                windowStart = now;
                windowBytes = bytes_;
            }
        }
        long waitMs = pump ? PumpStepMs : 1000;
        if (!outcome.connected && limits.connectMs > 0) {
            const auto elapsed = std::chrono::duration_cast<milliseconds>(now - start).count();
            if (elapsed >= limits.connectMs) {
                outcome.end = TransferEnd::ConnectTimeout;
                return outcome;
            }
            waitMs = std::min<long>(waitMs, static_cast<long>(limits.connectMs - elapsed));
        } else if (limits.idleMs > 0) {
            // While a connect limit runs, it alone decides; otherwise waiting for the
            // connection counts as receiving nothing.
            const auto idle =
                std::chrono::duration_cast<milliseconds>(now - last_activity_).count();
            if (idle >= limits.idleMs) {
                outcome.end = TransferEnd::IdleTimeout;
                return outcome;
            }
            waitMs = std::min<long>(waitMs, static_cast<long>(limits.idleMs - idle));
        }

        if (pump && vcl::HasApplication()) {
            vcl::Application().ProcessMessages();
            if (token_.ownerGone) {
                outcome.end = TransferEnd::OwnerGone;
                return outcome;
            }
            if (Quitting()) {
                outcome.end = TransferEnd::Quitting;
                return outcome;
            }
        }
        if (limits.deadlineMs > 0) {
            const auto elapsed = std::chrono::duration_cast<milliseconds>(now - start).count();
            waitMs = std::min<long>(waitMs, static_cast<long>(limits.deadlineMs - elapsed));
        }
        long curlWait = -1;
        curl_multi_timeout(multi_, &curlWait);
        if (curlWait >= 0)
            waitMs = std::min(waitMs, curlWait);
        curl_multi_poll(multi_, nullptr, 0, static_cast<int>(std::max(waitMs, 1L)), nullptr);
    }
}

namespace {

// The library's own words for the socket errors a connection meets; "" for any other
// number, which curl may leave behind from an earlier call and which then tells nothing.
std::string SocketErrorText(long osError) {
    switch (osError) {
    case ECONNREFUSED:
        return "Connection refused.";
    case ECONNRESET:
        return "Connection reset by peer.";
    case ECONNABORTED:
        return "Software caused connection abort.";
    case EHOSTUNREACH:
        return "No route to host.";
    case ENETUNREACH:
        return "Network is unreachable.";
    case ENETDOWN:
        return "Network is down.";
    case EHOSTDOWN:
        return "Host is down.";
    case ETIMEDOUT:
        return "Connection timed out.";
    default:
        return {};
    }
}

} // namespace

void RaiseCurlError(CURL* easy, CURLcode code, bool connectPhase) {
    // The user sees these texts: curl's own explanations name its internals ("response
    // reading failed (errno: 115)"), so each failure gets the component's words instead.
    long osError = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
    const int lastError = static_cast<int>(osError);
    const std::string socketText = SocketErrorText(osError);
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        if (connectPhase)
            throw EIdConnectTimeout();
        throw EIdReadTimeout();
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        throw EIdConnectError(0, "Invalid URL.");
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        throw EIdConnectError(lastError, "Host not found.");
    case CURLE_COULDNT_CONNECT:
        throw EIdConnectError(lastError, socketText.empty() ? "Connection refused." : socketText);
    case CURLE_OUT_OF_MEMORY:
        throw EIdException("Out of memory for a network request");
    default:
        // Whatever broke the exchange, the connection is gone.
        if (connectPhase)
            throw EIdConnectError(lastError, socketText.empty() ? "Connection Closed Gracefully."
                                                                : socketText);
        if (socketText.empty())
            throw EIdConnClosedGracefully();
        throw EIdSocketError(lastError, socketText);
    }
}

} // namespace net::detail
