#include "net/IdHTTP.h"

#include "net/CurlTransfer.h"
#include "net/HttpRequest.h"
#include "net/IdAntiFreeze.h"
#include "vcl/Forms.h"

#include <algorithm>
#include <exception>

namespace net {

namespace detail {

struct CookieJar {
    CookieJar() : share(curl_share_init()) {
        if (!share)
            throw EIdException("Out of memory for a network request");
        curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    }
    ShareHandle share;
};

} // namespace detail

namespace {

using detail::RequestToken;

// An error answer's body is kept for EIdHTTPProtocolException up to this size.
constexpr std::size_t ErrorBodyLimit = 1 << 20;
// The head of one answer (status line and header lines) may hold this much; a longer one is
// an answer too large. Below libcurl's own limit, so that the component says it first.
constexpr std::int64_t HeadLimit = 256 * 1024;

std::string PercentEncode(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// One request's state. It lives on the stack of the request, so the callbacks may still
// run after a pumped handler destroyed the component: every use of `http` is preceded by a
// look at the token.
struct Exchange {
    TIdHTTP* http = nullptr;
    const RequestToken* token = nullptr;
    CURL* easy = nullptr;
    vcl::TStream* response = nullptr;
    bool followRedirects = false;
    std::int64_t sizeLimit = 0;

    std::string statusLine;
    bool inHead = false; // between a status line and the blank line that ends its head
    std::int64_t headBytes = 0;
    long status = 0;
    std::int64_t contentLength = -1;
    bool readBegun = false;
    std::int64_t received = 0;
    std::string errorBody;
    bool errorBodyFull = false; // the error answer's body was read up to its limit

    const std::string* body = nullptr;
    std::size_t sent = 0;
    bool writeBegun = false;
    bool writeEnded = false;

    std::exception_ptr failure;

    bool Alive() const { return !token->ownerGone; }
    bool ErrorStatus() const {
        return status >= 400 || (status >= 300 && status != 304 && !followRedirects);
    }

    void BeginRead(std::int64_t expected) {
        readBegun = true;
        if (Alive() && http->OnWorkBegin)
            http->OnWorkBegin(http, wmRead, expected);
    }
    void EndRead() {
        if (readBegun && Alive() && http->OnWorkEnd)
            http->OnWorkEnd(http, wmRead);
        readBegun = false;
    }
};

size_t HeaderLine(char* data, size_t size, size_t count, void* context) {
    auto& x = *static_cast<Exchange*>(context);
    const std::string_view line(data, size * count);
    try {
        if (line.starts_with("HTTP/")) {
            x.statusLine = std::string(detail::WithoutLineEnd(line));
            x.inHead = true;
            x.headBytes = 0;
        }
        x.headBytes += static_cast<std::int64_t>(line.size());
        if (x.headBytes > HeadLimit)
            throw EIdAnswerTooLarge();
        if (line == "\r\n" || line == "\n") {
            x.inHead = false;
            long code = 0;
            curl_easy_getinfo(x.easy, CURLINFO_RESPONSE_CODE, &code);
            const bool followed = x.followRedirects && code / 100 == 3;
            if (code >= 200 && !followed) {
                x.status = code;
                curl_off_t length = -1;
                curl_easy_getinfo(x.easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
                x.contentLength = length;
                if (!x.ErrorStatus() && length > x.sizeLimit)
                    throw EIdAnswerTooLarge();
                x.BeginRead(std::max<curl_off_t>(length, 0));
            }
        }
    } catch (...) {
        x.failure = std::current_exception();
        return 0;
    }
    return x.Alive() ? size * count : 0;
}

size_t BodyData(char* data, size_t size, size_t count, void* context) {
    auto& x = *static_cast<Exchange*>(context);
    const size_t length = size * count;
    if (!x.Alive())
        return 0;
    try {
        if (x.ErrorStatus()) {
            const std::size_t room = ErrorBodyLimit - std::min(ErrorBodyLimit, x.errorBody.size());
            x.errorBody.append(data, std::min(room, length));
            if (length > room) {
                // Enough of an error page; the rest is not read at all.
                x.errorBodyFull = true;
                return 0;
            }
        } else {
            if (static_cast<std::int64_t>(length) > x.sizeLimit - x.received)
                throw EIdAnswerTooLarge();
            x.response->WriteBuffer(data, static_cast<std::int64_t>(length));
        }
        x.received += static_cast<std::int64_t>(length);
        if (x.http->OnWork)
            x.http->OnWork(x.http, wmRead, x.received);
    } catch (...) {
        x.failure = std::current_exception();
        return 0;
    }
    return x.Alive() ? length : 0;
}

size_t UploadData(char* buffer, size_t size, size_t count, void* context) {
    auto& x = *static_cast<Exchange*>(context);
    if (!x.Alive())
        return CURL_READFUNC_ABORT;
    try {
        const std::size_t total = x.body->size();
        if (!x.writeBegun) {
            x.writeBegun = true;
            if (x.http->OnWorkBegin)
                x.http->OnWorkBegin(x.http, wmWrite, static_cast<std::int64_t>(total));
            if (!x.Alive())
                return CURL_READFUNC_ABORT;
        }
        const std::size_t chunk = std::min(size * count, total - x.sent);
        std::copy_n(x.body->data() + x.sent, chunk, buffer);
        x.sent += chunk;
        if (chunk > 0 && x.http->OnWork)
            x.http->OnWork(x.http, wmWrite, static_cast<std::int64_t>(x.sent));
        if (x.sent == total && !x.writeEnded && x.Alive()) {
            x.writeEnded = true;
            if (x.http->OnWorkEnd)
                x.http->OnWorkEnd(x.http, wmWrite);
        }
        return x.Alive() ? chunk : CURL_READFUNC_ABORT;
    } catch (...) {
        x.failure = std::current_exception();
        return CURL_READFUNC_ABORT;
    }
}

} // namespace

TIdHTTP::TIdHTTP(vcl::TComponent* owner)
    : vcl::TComponent(owner), cookies_(std::make_shared<detail::CookieJar>()) {
}

TIdHTTP::~TIdHTTP() {
    if (busy_)
        busy_->ownerGone = true;
}

std::string TIdHTTP::Get(const std::string& url) {
    vcl::TMemoryStream response;
    DoRequest(url, nullptr, response);
    return std::string(reinterpret_cast<const char*>(response.Memory()),
                       static_cast<std::size_t>(response.Size()));
}

void TIdHTTP::Get(const std::string& url, vcl::TStream& response) {
    DoRequest(url, nullptr, response);
}

std::string TIdHTTP::Post(const std::string& url, const vcl::TStrings& fields) {
    vcl::TMemoryStream response;
    Post(url, fields, response);
    return std::string(reinterpret_cast<const char*>(response.Memory()),
                       static_cast<std::size_t>(response.Size()));
}

void TIdHTTP::Post(const std::string& url, const vcl::TStrings& fields, vcl::TStream& response) {
    const std::string body = EncodeFields(fields);
    DoRequest(url, &body, response);
}

std::string TIdHTTP::EncodeFields(const vcl::TStrings& fields) const {
    std::string body;
    for (int i = 0; i < fields.Count(); ++i) {
        const std::string field = fields[i];
        if (i > 0)
            body += '&';
        if (!ForceEncodeParams) {
            body += field;
            continue;
        }
        const auto equals = field.find('=');
        if (equals == std::string::npos) {
            body += PercentEncode(field);
        } else {
            body += PercentEncode(std::string_view(field).substr(0, equals));
            body += '=';
            body += PercentEncode(std::string_view(field).substr(equals + 1));
        }
    }
    return body;
}

void TIdHTTP::DoRequest(const std::string& url, const std::string* body, vcl::TStream& response) {
    // One request at a time: a second one started from a handler that runs while this one
    // pumps messages is refused at once, so the two answers can never mix.
    if (busy_)
        throw EIdAlreadyConnected();

    // The cookie jar goes on with the request even if the component does not; it must
    // outlive the easy handle that uses it.
    const std::shared_ptr<detail::CookieJar> cookies = cookies_;
    detail::UrlHandle target = detail::NewUrl();
    if (!Host.empty()) {
        const std::string base = "http://" + Host + ":" + std::to_string(Port) + "/";
        curl_url_set(target.get(), CURLUPART_URL, base.c_str(), 0);
    }
    if (curl_url_set(target.get(), CURLUPART_URL, detail::EncodeBlanks(url).c_str(), 0) !=
        CURLUE_OK)
        throw EIdConnectError(0, "Invalid URL: " + url);

    char errorBuffer[CURL_ERROR_SIZE];
    detail::EasyHandle easy = detail::NewEasy(errorBuffer);
    detail::MultiHandle multi = detail::NewMulti();
    CURL* e = easy.get();
    detail::Slist headers;
    if (!Request.Accept.empty())
        detail::AppendList(headers, "Accept: " + Request.Accept);
    if (!Request.ContentType.empty())
        detail::AppendList(headers, "Content-Type: " + Request.ContentType);
    detail::AppendList(headers, "Expect:"); // the body goes at once, without waiting for 100
    if (AllowCookies) {
        curl_easy_setopt(e, CURLOPT_SHARE, cookies->share.get());
        curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
    }

    auto token = std::make_shared<RequestToken>();
    Exchange x;
    x.http = this;
    x.token = token.get();
    x.easy = e;
    x.response = &response;
    x.followRedirects = HandleRedirects;
    x.body = body;
    const bool inMemory = dynamic_cast<vcl::TMemoryStream*>(&response) != nullptr;
    x.sizeLimit = inMemory ? MaxAnswerSize : MaxDownloadSize;

    detail::HttpRequest request;
    request.url = target.get();
    request.headers = headers.get();
    request.agent = Request.UserAgent;
    request.basicAuthentication = Request.BasicAuthentication;
    request.username = Request.Username;
    request.password = Request.Password;
    request.followRedirects = HandleRedirects;
    request.maxRedirects = RedirectMaximum;
    request.onHeader = &HeaderLine;
    request.onBody = &BodyData;
    request.context = &x;
    detail::SetUpHttp(e, request);
    if (body) {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body->size()));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, &UploadData);
        curl_easy_setopt(e, CURLOPT_READDATA, &x);
    }

    const bool pump = vcl::HasApplication() && TIdAntiFreeze::ShouldPump();
    detail::TransferLimits limits;
    limits.connectMs =
        ConnectTimeout > 0 ? ConnectTimeout : (pump ? TIdAntiFreeze::ConnectLimitMs : 0);
    limits.idleMs = ReadTimeout;
    limits.deadlineMs = inMemory ? AnswerDeadline : DownloadDeadline;
    limits.lowSpeedBytes = LowSpeedLimit;
    limits.lowSpeedMs = LowSpeedTime;

    response_code_ = 0;
    response_text_.clear();
    response_content_length_ = -1;
    busy_ = token;
    detail::TransferOutcome outcome;
    {
        detail::Transfer transfer(e, multi.get(), *token);
        try {
            outcome = transfer.Run(limits, pump);
        } catch (...) {
            if (!token->ownerGone)
                busy_.reset();
            throw;
        }
    }
    if (token->ownerGone)
        throw EIdException("The request was abandoned: its component was destroyed");
    busy_.reset();

    response_code_ = static_cast<int>(x.status);
    response_text_ = x.statusLine;
    response_content_length_ = x.contentLength;
    x.EndRead();
    if (token->ownerGone)
        throw EIdException("The request was abandoned: its component was destroyed");
    if (x.failure)
        std::rethrow_exception(x.failure);
    switch (outcome.end) {
    case detail::TransferEnd::ConnectTimeout:
        throw EIdConnectTimeout();
    case detail::TransferEnd::IdleTimeout:
    case detail::TransferEnd::Deadline:
    case detail::TransferEnd::TooSlow:
        throw EIdReadTimeout();
    case detail::TransferEnd::Quitting:
        // The program is ending: the connection is given up like one the server closed.
        throw EIdConnClosedGracefully();
    case detail::TransferEnd::OwnerGone:
    case detail::TransferEnd::Finished:
        break;
    }
    if (x.errorBodyFull)
        throw EIdHTTPProtocolException(static_cast<int>(x.status), x.statusLine, x.errorBody);
    // libcurl refuses a header line longer than it holds as a memory failure.
    if (outcome.code == CURLE_OUT_OF_MEMORY && x.inHead)
        throw EIdAnswerTooLarge();
    // The last redirect is not followed: it is answered as one the component was not asked
    // to follow.
    if (outcome.code == CURLE_TOO_MANY_REDIRECTS) {
        long code = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &code);
        response_code_ = static_cast<int>(code);
        throw EIdHTTPProtocolException(static_cast<int>(code), x.statusLine, {});
    }
    if (outcome.code != CURLE_OK)
        detail::RaiseCurlError(e, outcome.code, !outcome.connected);
    if (x.ErrorStatus())
        throw EIdHTTPProtocolException(static_cast<int>(x.status), x.statusLine, x.errorBody);
}

} // namespace net
