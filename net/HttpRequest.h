// The libcurl set-up that every HTTP request of the clients shares, written once.
#pragma once

#include <curl/curl.h>

#include <string>

namespace net::detail {

struct HttpRequest {
    CURLU* url = nullptr;          // must outlive the transfer
    curl_slist* headers = nullptr; // the same
    std::string agent;
    bool basicAuthentication = false;
    std::string username;
    std::string password;
    bool followRedirects = false;
    long maxRedirects = 0;
    // Each header line and each piece of the body, with their context.
    curl_write_callback onHeader = nullptr;
    curl_write_callback onBody = nullptr;
    void* context = nullptr;
};

// HTTP and HTTPS only, also when redirected; curl sends the credentials to the first host
// only.
void SetUpHttp(CURL* easy, const HttpRequest& request);

} // namespace net::detail
