#include "ipwatch/OutsideServices.h"

#include <charconv>

namespace ipwatch {

THostPort SplitHostPort(const std::string& hostText) {
    THostPort result{hostText, 80};
    const auto colon = hostText.rfind(':');
    if (colon == std::string::npos || colon + 1 == hostText.size())
        return result;
    int port = 0;
    const char* first = hostText.data() + colon + 1;
    const char* last = hostText.data() + hostText.size();
    const auto [end, error] = std::from_chars(first, last, port);
    if (error != std::errc() || end != last || port <= 0 || port > 65535)
        return result;
    result.Host = hostText.substr(0, colon);
    result.Port = port;
    return result;
}

} // namespace ipwatch
