// TIdHTTP and TIdAntiFreeze against the loopback HTTP server.
#include "TestServers.h"
#include "support/TempDir.h"

#include "net/IdAntiFreeze.h"
#include "net/IdHTTP.h"
#include "vcl/Forms.h"

#include <QJsonArray>
#include <QTimer>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

using namespace net;
using nettest::ErrorKind;

class IdHTTPTest : public nettest::HttpServerSuite<IdHTTPTest> {
public:
    static constexpr const char* kLogName = "idhttp.log";

protected:
    static std::string Url(const std::string& path) {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    TIdHTTP* NewClient() {
        auto* http = vcl::Create<TIdHTTP>(&owner_);
        http->ReadTimeout = 5000;
        return http;
    }

    vcl::TApplication app_;
    vcl::TComponent owner_{nullptr};
};

TEST_F(IdHTTPTest, GetSendsTheRequestHeadersAndReturnsTheBody) {
    TIdHTTP* http = NewClient();
    EXPECT_EQ(http->Get(Url("/text?a=1")), "hello\r\nworld\r\n");
    EXPECT_EQ(http->ResponseCode(), 200);
    EXPECT_EQ(http->ResponseText(), "HTTP/1.1 200 OK");
    EXPECT_EQ(http->ResponseContentLength(), 14);
    const QJsonObject request = LastRequest();
    EXPECT_EQ(Text(request, "method"), "GET");
    EXPECT_EQ(Text(request, "path"), "/text?a=1");
    EXPECT_EQ(Header(request, "User-Agent"), "Mozilla/3.0 (compatible; Indy Library)");
    EXPECT_EQ(Header(request, "Accept"), "text/html, */*");
    EXPECT_EQ(Header(request, "Authorization"), "<none>");
}

TEST_F(IdHTTPTest, BasicAuthenticationCarriesNameAndPasswordIntact) {
    TIdHTTP* http = NewClient();
    http->Request.BasicAuthentication = true;
    http->Request.Username = "na@me";
    http->Request.Password = "pa:ss/wo@rd é";
    http->Get(Url("/text"));
    EXPECT_EQ(Text(LastRequest(), "credentials"), "na@me:pa:ss/wo@rd é");
}

TEST_F(IdHTTPTest, PostSendsEncodedFieldsToAPathOnTheHost) {
    TIdHTTP* http = NewClient();
    http->Host = "127.0.0.1";
    http->Port = port_;
    http->Request.ContentType = "application/x-www-form-urlencoded";
    vcl::TStringList fields({"hostname=a b.example", "system=dyndns", "myip=1.2.3.4&x=y"});
    std::vector<std::string> events;
    http->OnWorkBegin = [&](vcl::TObject*, TWorkMode mode, std::int64_t max) {
        events.push_back((mode == wmWrite ? "begin write " : "begin read ") + std::to_string(max));
    };
    http->OnWorkEnd = [&](vcl::TObject*, TWorkMode mode) {
        events.push_back(mode == wmWrite ? "end write" : "end read");
    };
    EXPECT_EQ(http->Post("/nic/update?", fields), "posted");
    const std::string body = "hostname=a+b.example&system=dyndns&myip=1.2.3.4%26x%3Dy";
    const QJsonObject request = LastRequest();
    EXPECT_EQ(Text(request, "method"), "POST");
    EXPECT_EQ(Text(request, "path").substr(0, 11), "/nic/update");
    EXPECT_EQ(Text(request, "body"), body);
    EXPECT_EQ(Header(request, "Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(events, (std::vector<std::string>{"begin write " + std::to_string(body.size()),
                                                "end write", "begin read 6", "end read"}));
}

TEST_F(IdHTTPTest, FailuresRaiseTheirOwnClasses) {
    nettest::FullListener full;
    const int refused = nettest::RefusedPort();
    struct Case {
        const char* name;
        std::string url;
        int readTimeout;
        int connectTimeout;
        const char* kind;
        int code;
        const char* message; // "" when any
    };
    const Case cases[] = {
        {"not found", Url("/404"), 5000, 0, "EIdHTTPProtocolException", 404,
         "HTTP/1.1 404 Not Found"},
        {"server error", Url("/500"), 5000, 0, "EIdHTTPProtocolException", 500,
         "HTTP/1.1 500 Internal Server Error"},
        {"redirect not followed", Url("/redirect"), 5000, 0, "EIdHTTPProtocolException", 302,
         "HTTP/1.1 302 Found"},
        {"refused", "http://127.0.0.1:" + std::to_string(refused) + "/", 5000, 0, "EIdConnectError",
         0, "Connection refused."},
        {"bad host", "http://bad host!/", 5000, 0, "EIdConnectError", 0, ""},
        {"never accepted", "http://127.0.0.1:" + std::to_string(full.Port()) + "/", 5000, 300,
         "EIdConnectTimeout", 0, "Connect timed out."},
        {"no answer", Url("/stall"), 300, 0, "EIdReadTimeout", 0, "Read timed out."},
        {"stalls in the body", Url("/stallbody"), 300, 0, "EIdReadTimeout", 0, "Read timed out."},
        {"closed in the body", Url("/cut"), 5000, 0, "EIdConnClosedGracefully", 0,
         "Connection Closed Gracefully."},
        {"reset at once", Url("/reset"), 5000, 0, "EIdSocketError", 0, "Connection reset by peer."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIdHTTP* http = NewClient();
        http->ReadTimeout = c.readTimeout;
        http->ConnectTimeout = c.connectTimeout;
        vcl::TMemoryStream stream;
        std::exception_ptr error;
        try {
            http->Get(c.url, stream);
        } catch (...) {
            error = std::current_exception();
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(ErrorKind(error), c.kind);
        try {
            std::rethrow_exception(error);
        } catch (const EIdHTTPProtocolException& e) {
            EXPECT_EQ(e.ErrorCode(), c.code);
            EXPECT_EQ(http->ResponseCode(), c.code);
            EXPECT_FALSE(e.ErrorMessage().empty());
            EXPECT_EQ(stream.Size(), 0) << "an error answer stays out of the caller's stream";
        } catch (const EIdException& e) {
            EXPECT_FALSE(e.Message().empty());
        }
        try {
            std::rethrow_exception(error);
        } catch (const EIdException& e) {
            if (*c.message) {
                EXPECT_EQ(e.Message(), c.message);
            }
        }
    }
}

// What a peer can make a request hold: a body shorter than announced, one longer than the
// limit of its kind (in memory or into a file), and one dripped so slowly that the idle
// limit never trips. Every case fails as a request error, and what the caller's stream
// holds stays within the limit.
TEST_F(IdHTTPTest, AnswersOutsideTheirLimitsFail) {
    enum Target { Memory, File };
    struct Case {
        const char* name;
        Target target;
        const char* path;
        std::int64_t maxAnswer; // 0: the component's default
        std::int64_t maxDownload;
        int deadline; // for the target's kind; 0: the default
        const char* kind;
        const char* message;
    };
    const Case cases[] = {
        {"short body", Memory, "/cut", 0, 0, 0, "EIdConnClosedGracefully",
         "Connection Closed Gracefully."},
        {"short download", File, "/cut", 0, 0, 0, "EIdConnClosedGracefully",
         "Connection Closed Gracefully."},
        {"announced above the memory default", Memory, "/big", 0, 0, 0, "EIdAnswerTooLarge",
         "Response too large."},
        {"endless into memory", Memory, "/endless", 64 * 1024, 0, 0, "EIdAnswerTooLarge",
         "Response too large."},
        {"endless download", File, "/endless", 0, 256 * 1024, 0, "EIdAnswerTooLarge",
         "Response too large."},
        {"announced above the download limit", File, "/big", 0, 1024 * 1024, 0, "EIdAnswerTooLarge",
         "Response too large."},
        {"dripped into memory", Memory, "/drip?ms=200", 0, 0, 1200, "EIdReadTimeout",
         "Read timed out."},
        {"dripped download", File, "/drip?ms=200", 0, 0, 1200, "EIdReadTimeout", "Read timed out."},
        {"endless error page", Memory, "/endless?status=404", 0, 0, 0, "EIdHTTPProtocolException",
         "HTTP/1.1 404 Not Found"},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIdHTTP* http = NewClient();
        http->ReadTimeout = 1000; // above the drip's pace: only the deadline can end it
        if (c.maxAnswer)
            http->MaxAnswerSize = c.maxAnswer;
        if (c.maxDownload)
            http->MaxDownloadSize = c.maxDownload;
        if (c.deadline) {
            http->AnswerDeadline = c.deadline;
            http->DownloadDeadline = c.deadline;
        }
        vcl::TMemoryStream memory;
        std::unique_ptr<vcl::TFileStream> file;
        if (c.target == File)
            file = std::make_unique<vcl::TFileStream>(dir / "download", vcl::fmCreate);
        vcl::TStream& stream = c.target == File ? static_cast<vcl::TStream&>(*file) : memory;
        std::exception_ptr error;
        try {
            http->Get(Url(c.path), stream);
        } catch (...) {
            error = std::current_exception();
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(ErrorKind(error), c.kind);
        try {
            std::rethrow_exception(error);
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_LE(stream.Size(), c.target == File ? http->MaxDownloadSize : http->MaxAnswerSize);
    }
}

// What a hostile server can send, and the words each failure is shown in.
TEST_F(IdHTTPTest, HostileAnswersFailInTheComponentsOwnWords) {
    struct Case {
        const char* name;
        bool download; // into a file, else into memory
        const char* path;
        bool follow;      // HandleRedirects
        int lowSpeedTime; // 0: the default
        const char* kind;
        const char* message;
    };
    // A trickle of 5 bytes a second: the idle limit never trips, and with no deadline only
    // the speed floor can end it.
    const Case cases[] = {
        {"trickled answer", false, "/drip?ms=200&bytes=100000", false, 1500, "EIdReadTimeout",
         "Read timed out."},
        {"trickled download", true, "/drip?ms=200&bytes=100000", false, 1500, "EIdReadTimeout",
         "Read timed out."},
        {"one header line of 10 MB", false, "/longheader", false, 0, "EIdAnswerTooLarge",
         "Response too large."},
        {"10 MB of header lines", true, "/manyheaders", false, 0, "EIdAnswerTooLarge",
         "Response too large."},
        {"redirected for ever", false, "/loop", true, 0, "EIdHTTPProtocolException",
         "HTTP/1.1 302 Found"},
        // Redirects lead to HTTP and HTTPS only: a file or another protocol is never read.
        {"redirected to a file", false, "/redirectto?url=file:///etc/passwd", true, 0,
         "EIdConnectError", "Invalid URL."},
        {"redirected to FTP", true, "/redirectto?url=ftp://127.0.0.1/x", true, 0, "EIdConnectError",
         "Invalid URL."},
        {"redirected to DICT", false, "/redirectto?url=dict://127.0.0.1/x", true, 0,
         "EIdConnectError", "Invalid URL."},
    };
    testsupport::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TIdHTTP* http = NewClient();
        http->ReadTimeout = 1000;
        http->AnswerDeadline = 0;
        http->DownloadDeadline = 0;
        http->HandleRedirects = c.follow;
        if (c.lowSpeedTime)
            http->LowSpeedTime = c.lowSpeedTime;
        vcl::TMemoryStream memory;
        std::unique_ptr<vcl::TFileStream> file;
        if (c.download)
            file = std::make_unique<vcl::TFileStream>(dir / "download", vcl::fmCreate);
        vcl::TStream& stream = c.download ? static_cast<vcl::TStream&>(*file) : memory;
        std::exception_ptr error;
        try {
            http->Get(Url(c.path), stream);
        } catch (...) {
            error = std::current_exception();
        }
        ASSERT_TRUE(error);
        EXPECT_EQ(ErrorKind(error), c.kind);
        try {
            std::rethrow_exception(error);
        } catch (const EIdException& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_LT(stream.Size(), 1000);
    }
}

TEST_F(IdHTTPTest, ADownloadIntoAFileMayBeFarLongerThanAnAnswerInMemory) {
    TIdHTTP* http = NewClient();
    testsupport::TempDir dir;
    vcl::TFileStream file(dir / "download", vcl::fmCreate);
    http->Get(Url("/big"), file);
    EXPECT_EQ(file.Size(), 10 * 1024 * 1024);
    EXPECT_GT(file.Size(), http->MaxAnswerSize);
}

TEST_F(IdHTTPTest, WorkEventsFollowALargeDownload) {
    TIdHTTP* http = NewClient();
    http->MaxAnswerSize = 16 * 1024 * 1024;
    std::int64_t max = -1, last = 0, calls = 0;
    int begins = 0, ends = 0;
    bool monotonic = true;
    http->OnWorkBegin = [&](vcl::TObject* sender, TWorkMode mode, std::int64_t count) {
        EXPECT_EQ(sender, http);
        EXPECT_EQ(mode, wmRead);
        ++begins;
        max = count;
    };
    http->OnWork = [&](vcl::TObject*, TWorkMode mode, std::int64_t count) {
        EXPECT_EQ(mode, wmRead);
        monotonic = monotonic && count > last;
        last = count;
        ++calls;
    };
    http->OnWorkEnd = [&](vcl::TObject*, TWorkMode) { ++ends; };
    vcl::TMemoryStream stream;
    http->Get(Url("/big"), stream);
    const std::int64_t size = 10 * 1024 * 1024;
    EXPECT_EQ(begins, 1);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(max, size);
    EXPECT_EQ(last, size);
    EXPECT_GT(calls, 1);
    EXPECT_TRUE(monotonic);
    ASSERT_EQ(stream.Size(), size);
    bool same = true;
    for (std::int64_t i = 0; i < size && same; i += 4099)
        same = stream.Memory()[i] == i % 251;
    EXPECT_TRUE(same);
}

TEST_F(IdHTTPTest, AnEmptyBodyIsAnEmptyAnswer) {
    TIdHTTP* http = NewClient();
    int ends = 0;
    http->OnWorkEnd = [&](vcl::TObject*, TWorkMode) { ++ends; };
    EXPECT_EQ(http->Get(Url("/empty")), "");
    EXPECT_EQ(http->ResponseCode(), 200);
    EXPECT_EQ(ends, 1);
}

TEST_F(IdHTTPTest, CookiesStayWithTheirComponent) {
    TIdHTTP* first = NewClient();
    TIdHTTP* second = NewClient();
    first->Get(Url("/setcookie"));
    first->Get(Url("/text"));
    EXPECT_EQ(Header(LastRequest(), "Cookie"), "session=abc");
    second->Get(Url("/text"));
    EXPECT_EQ(Header(LastRequest(), "Cookie"), "<none>");
}

// A timer that counts its ticks and runs a job on the first one.
struct Ticker {
    explicit Ticker(std::function<void()> job = {}) {
        timer.setInterval(20);
        QObject::connect(&timer, &QTimer::timeout, [this, job] {
            if (ticks++ == 0 && job)
                job();
        });
        timer.start();
    }
    QTimer timer;
    int ticks = 0;
};

TEST_F(IdHTTPTest, WithoutAntiFreezeARequestBlocksMessages) {
    TIdHTTP* http = NewClient();
    Ticker ticker;
    EXPECT_EQ(http->Get(Url("/slow?ms=300")), "slow");
    EXPECT_EQ(ticker.ticks, 0);
}

TEST_F(IdHTTPTest, AntiFreezePumpsMessagesDuringARequest) {
    vcl::Create<TIdAntiFreeze>(&owner_);
    TIdHTTP* http = NewClient();
    Ticker ticker;
    EXPECT_EQ(http->Get(Url("/slow?ms=300")), "slow");
    EXPECT_GE(ticker.ticks, 2);
}

TEST_F(IdHTTPTest, ASecondRequestWhileOneRunsIsRefused) {
    vcl::Create<TIdAntiFreeze>(&owner_);
    TIdHTTP* http = NewClient();
    std::string nested = "not run";
    Ticker ticker([&] {
        try {
            nested = http->Get(Url("/text"));
        } catch (const std::exception&) {
            nested = ErrorKind(std::current_exception());
        }
    });
    EXPECT_EQ(http->Get(Url("/slow?ms=300")), "slow");
    EXPECT_EQ(nested, "EIdAlreadyConnected");
    EXPECT_FALSE(http->Busy());
    EXPECT_EQ(http->Get(Url("/text")), "hello\r\nworld\r\n");
}

TEST_F(IdHTTPTest, DestroyingTheOwnerDuringARequestAbandonsIt) {
    vcl::Create<TIdAntiFreeze>(&owner_);
    auto* form = vcl::Create<vcl::TComponent>(&owner_);
    auto* http = vcl::Create<TIdHTTP>(form);
    http->OnWork = [](vcl::TObject*, TWorkMode, std::int64_t) {};
    Ticker ticker([&] { owner_.DestroyComponent(form); });
    EXPECT_THROW(http->Get(Url("/slow?ms=300")), EIdException);
    EXPECT_EQ(owner_.ComponentCount(), 1);
}

TEST_F(IdHTTPTest, DestroyingTheOwnerFromAWorkEventAbandonsTheDownload) {
    auto* form = vcl::Create<vcl::TComponent>(&owner_);
    auto* http = vcl::Create<TIdHTTP>(form);
    http->MaxAnswerSize = 16 * 1024 * 1024;
    int works = 0;
    http->OnWork = [&](vcl::TObject*, TWorkMode, std::int64_t) {
        if (++works == 1)
            owner_.DestroyComponent(form);
    };
    vcl::TMemoryStream stream;
    EXPECT_THROW(http->Get(Url("/big"), stream), EIdException);
    EXPECT_EQ(works, 1);
    EXPECT_LT(stream.Size(), 10 * 1024 * 1024);
}

// "Quitter" chosen while a request pumps messages: the message loop can end only when the
// handler waiting for the answer returns, so the request gives up instead of waiting for its
// server, and a request made afterwards by the same handler does not wait either.
TEST_F(IdHTTPTest, TheProgramEndingWhileARequestWaitsAbandonsIt) {
    vcl::Create<TIdAntiFreeze>(&owner_);
    TIdHTTP* http = NewClient();
    Ticker ticker([&] { app_.Terminate(); });
    EXPECT_THROW(http->Get(Url("/slow?ms=3000")), EIdConnClosedGracefully);
    EXPECT_GE(ticker.ticks, 1);
    EXPECT_FALSE(http->Busy());
    EXPECT_THROW(http->Get(Url("/text")), EIdConnClosedGracefully);
}

} // namespace
