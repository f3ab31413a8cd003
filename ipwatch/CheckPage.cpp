#include "ipwatch/CheckPage.h"

namespace ipwatch {

std::string CutCheckPageAddress(std::string_view page) {
    // Positions count from 1, and 0 means "absent", as the page rule is written.
    auto position = [&](std::string_view what) {
        auto at = page.find(what);
        return at == std::string_view::npos ? 0L : static_cast<long>(at) + 1;
    };
    const long bodyEnd = position("</bo");
    const long colon = position(":");
    const long start = colon + 2;
    const long length = bodyEnd - colon - 2;
    if (length < 1 || start > static_cast<long>(page.size()))
        return {};
    return std::string(
        page.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(length)));
}

} // namespace ipwatch
