#include "net/HttpRequest.h"

namespace net::detail {

void SetUpHttp(CURL* easy, const HttpRequest& request) {
    curl_easy_setopt(easy, CURLOPT_CURLU, request.url);
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_USERAGENT, request.agent.c_str());
    curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.headers);
    if (request.basicAuthentication) {
        curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
        curl_easy_setopt(easy, CURLOPT_USERNAME, request.username.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, request.password.c_str());
    }
    if (request.followRedirects) {
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, request.maxRedirects);
    }
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, request.onHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.context);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, request.onBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.context);
}

} // namespace net::detail
