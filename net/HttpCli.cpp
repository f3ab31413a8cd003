#include "net/HttpCli.h"

#include "net/CurlTransfer.h"
#include "net/HttpRequest.h"
#include "vcl/Forms.h"

namespace net {

using detail::RequestToken;

TUrlUserInfo SplitUrlUserInfo(const std::string& url) {
    TUrlUserInfo result;
    result.Url = url;
    const auto scheme = url.find("://");
    if (scheme == std::string::npos)
        return result;
    const std::size_t start = scheme + 3;
    std::size_t end = url.find_first_of("?#", start);
    if (end == std::string::npos)
        end = url.size();
    if (end == start)
        return result;
    const auto at = url.rfind('@', end - 1);
    if (at == std::string::npos || at < start)
        return result;
    const std::string info = url.substr(start, at - start);
    // "http://host/@name" is a path; "http://user:pa/ss@host/" is a password with a "/".
    if (info.find('/') != std::string::npos && info.find(':') == std::string::npos)
        return result;
    result.HasUserInfo = true;
    const auto colon = info.find(':');
    result.Username = info.substr(0, colon);
    if (colon != std::string::npos)
        result.Password = info.substr(colon + 1);
    result.Url = url.substr(0, start) + url.substr(at + 1);
    return result;
}

namespace {

struct Fetch {
    const RequestToken* token = nullptr;
    CURL* easy = nullptr;
    vcl::TStream* stream = nullptr;
    std::string statusLine;
    long status = 0;
    std::int64_t received = 0;
    std::int64_t sizeLimit = 0;
    bool tooLarge = false;
};

size_t HeaderLine(char* data, size_t size, size_t count, void* context) {
    auto& f = *static_cast<Fetch*>(context);
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        try {
            f.statusLine = std::string(detail::WithoutLineEnd(line));
        } catch (...) {
            return 0; // nothing may unwind through libcurl: the request ends without an answer
        }
    } else if (line == "\r\n" || line == "\n") {
        curl_easy_getinfo(f.easy, CURLINFO_RESPONSE_CODE, &f.status);
        curl_off_t length = -1;
        curl_easy_getinfo(f.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        if (length > f.sizeLimit) {
            f.tooLarge = true;
            return 0;
        }
    }
    return f.token->ownerGone ? 0 : size * count;
}

size_t BodyData(char* data, size_t size, size_t count, void* context) {
    auto& f = *static_cast<Fetch*>(context);
    const size_t length = size * count;
    if (f.token->ownerGone)
        return 0;
    if (static_cast<std::int64_t>(length) > f.sizeLimit - f.received) {
        f.tooLarge = true;
        return 0;
    }
    if (f.stream) {
        try {
            f.stream->WriteBuffer(data, static_cast<std::int64_t>(length));
        } catch (...) {
            return 0; // a stream that takes no more ends the request, quietly
        }
    }
    f.received += static_cast<std::int64_t>(length);
    return length;
}

std::string ReasonOf(const std::string& statusLine) {
    // "HTTP/1.1 404 Not Found": the words after the code.
    const auto first = statusLine.find(' ');
    if (first == std::string::npos)
        return {};
    const auto second = statusLine.find(' ', first + 1);
    return second == std::string::npos ? std::string() : statusLine.substr(second + 1);
}

} // namespace

THttpCli::THttpCli(vcl::TComponent* owner) : vcl::TComponent(owner) {
}

THttpCli::~THttpCli() {
    if (busy_)
        busy_->ownerGone = true;
}

void THttpCli::Get() {
    // One request at a time. Get pumps messages, so a timer tick or a menu command can call
    // Get again on this component before the first one ends: that second call returns at
    // once and leaves its stream untouched (its caller sees an empty answer), while the first
    // goes on with the URL and stream it started with. If the component is destroyed while
    // Get waits, the request is dropped and Get returns without touching it or the stream.
    if (busy_)
        return;

    const TUrlUserInfo target = SplitUrlUserInfo(URL);
    status_code_ = 0;
    reason_phrase_.clear();
    rcvd_count_ = 0;

    try {
        detail::UrlHandle url = detail::NewUrl();
        if (curl_url_set(url.get(), CURLUPART_URL, detail::EncodeBlanks(target.Url).c_str(), 0) !=
            CURLUE_OK)
            return;
        char errorBuffer[CURL_ERROR_SIZE];
        detail::EasyHandle easy = detail::NewEasy(errorBuffer);
        detail::MultiHandle multi = detail::NewMulti();
        CURL* e = easy.get();
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                         RequestVer == "1.1" ? static_cast<long>(CURL_HTTP_VERSION_1_1)
                                             : static_cast<long>(CURL_HTTP_VERSION_1_0));
        detail::Slist headers;
        if (!Accept.empty())
            detail::AppendList(headers, "Accept: " + Accept);
        const std::string proxy = Proxy.empty() ? std::string() : Proxy + ":" + ProxyPort;
        curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());

        auto token = std::make_shared<RequestToken>();
        Fetch f;
        f.token = token.get();
        f.easy = e;
        f.stream = RcvdStream;
        const bool inMemory = dynamic_cast<vcl::TMemoryStream*>(RcvdStream) != nullptr;
        f.sizeLimit = inMemory ? MaxAnswerSize : MaxDownloadSize;
        vcl::TStream* const stream = RcvdStream;
        const std::int64_t startSize = stream ? stream->Size() : 0;
        const std::int64_t startPosition = stream ? stream->Position() : 0;

        detail::HttpRequest request;
        request.url = url.get();
        request.headers = headers.get();
        request.agent = Agent;
        request.basicAuthentication = target.HasUserInfo;
        request.username = target.Username;
        request.password = target.Password;
        request.followRedirects = FollowRelocation;
        request.maxRedirects = 10;
        request.onHeader = &HeaderLine;
        request.onBody = &BodyData;
        request.context = &f;
        detail::SetUpHttp(e, request);

        detail::TransferLimits limits;
        limits.idleMs = ReadTimeout;
        limits.deadlineMs = inMemory ? AnswerDeadline : DownloadDeadline;
        limits.lowSpeedBytes = LowSpeedLimit;
        limits.lowSpeedMs = LowSpeedTime;
        busy_ = token;
        detail::TransferOutcome outcome;
        outcome.end = detail::TransferEnd::OwnerGone;
        {
            detail::Transfer transfer(e, multi.get(), *token);
            try {
                outcome = transfer.Run(limits, vcl::HasApplication());
            } catch (...) {
            }
        }
        if (token->ownerGone)
            return;
        busy_.reset();
        const bool complete =
            outcome.end == detail::TransferEnd::Finished && outcome.code == CURLE_OK && !f.tooLarge;
        if (!complete) {
            // Half an answer is no answer: the caller gets its stream back as it gave it.
            if (stream) {
                try {
                    stream->SetSize(startSize);
                    stream->SetPosition(startPosition);
                } catch (...) {
                }
            }
            return;
        }
        status_code_ = static_cast<int>(f.status);
        reason_phrase_ = ReasonOf(f.statusLine);
        rcvd_count_ = f.received;
    } catch (...) {
        // Nothing leaves Get: an answer that could not be had is an empty stream.
        busy_.reset();
    }
}

} // namespace net
