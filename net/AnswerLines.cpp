#include "net/AnswerLines.h"

namespace net {

std::vector<std::string> AnswerLines(std::string_view body) {
    if (body.empty())
        return {"0"};
    std::vector<std::string> lines;
    std::size_t i = 0;
    while (i < body.size()) {
        std::size_t end = body.find_first_of("\r\n", i);
        if (end == std::string_view::npos)
            end = body.size();
        std::string_view line = body.substr(i, end - i);
        line = line.substr(0, line.find('\0'));
        lines.emplace_back(line);
        if (end < body.size())
            end += body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n' ? 2 : 1;
        i = end;
    }
    return lines;
}

} // namespace net
