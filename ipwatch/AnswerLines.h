// How an HTTP answer becomes memo lines: the body split at CR, LF or CR LF, each line cut at
// its first NUL byte; an empty body is the single line "0".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ipwatch {

std::vector<std::string> AnswerLines(std::string_view body);

} // namespace ipwatch
