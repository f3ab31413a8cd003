// The transfer under every client: what a traffic watcher raises comes out of Run, never
// through libcurl's C frames; a protocol line loses the CR and LF that end it.
#include "TestServers.h"

#include "net/CurlTransfer.h"

#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

using namespace net::detail;

namespace {

class CurlTransferTest : public nettest::HttpServerSuite<CurlTransferTest> {
public:
    static constexpr const char* kLogName = "transfer.log";
};

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

TEST_F(CurlTransferTest, AnExceptionOfTheTrafficWatcherEndsTheTransferAndComesOutOfRun) {
    for (const curl_infotype raisingOn : {CURLINFO_HEADER_OUT, CURLINFO_HEADER_IN}) {
        char errorBuffer[CURL_ERROR_SIZE];
        EasyHandle easy = NewEasy(errorBuffer);
        MultiHandle multi = NewMulti();
        const std::string url = "http://127.0.0.1:" + std::to_string(port_) + "/text";
        curl_easy_setopt(easy.get(), CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy.get(), CURLOPT_WRITEFUNCTION, &Discard);
        RequestToken token;
        Transfer transfer(easy.get(), multi.get(), token);
        int calls = 0;
        transfer.OnTraffic = [&](curl_infotype type, std::string_view) {
            if (type != raisingOn)
                return;
            ++calls;
            throw std::runtime_error("watcher failed");
        };
        TransferLimits limits;
        limits.deadlineMs = 60000;
        EXPECT_THROW(transfer.Run(limits, false), std::runtime_error);
        EXPECT_EQ(calls, 1) << "the watcher is not called again once it failed";
    }
}

TEST(WithoutLineEnd, TakesOffEveryEndingCrAndLf) {
    const struct {
        const char* line;
        const char* expected;
    } cases[] = {{"HTTP/1.1 200 OK\r\n", "HTTP/1.1 200 OK"},
                 {"250 ok\n", "250 ok"},
                 {"a\r", "a"},
                 {"a\r\n\r\n", "a"},
                 {"\r\n", ""},
                 {"a\rb", "a\rb"},
                 {"", ""}};
    for (const auto& c : cases)
        EXPECT_EQ(WithoutLineEnd(c.line), c.expected) << c.line;
}

} // namespace
