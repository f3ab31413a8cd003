// How an HTTP answer body becomes lines, the one rule both programs read their answers by:
// the body split at CR, LF or CR LF, each line cut at its first NUL byte; an empty body is
// the single line "0".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace net {

std::vector<std::string> AnswerLines(std::string_view body);

} // namespace net
