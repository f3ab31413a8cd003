// The address on the what-is-my-IP page: it begins two characters after the first ":" of
// the whole page and ends before the first "</bo" (the closing body tag).
#pragma once

#include <string>
#include <string_view>

namespace ipwatch {

// "" when the page has no closing body tag after the colon.
std::string CutCheckPageAddress(std::string_view page);

} // namespace ipwatch
