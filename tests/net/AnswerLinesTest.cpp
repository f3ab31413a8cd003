#include "net/AnswerLines.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

namespace {

using net::AnswerLines;

TEST(AnswerLines, SplitTheBodyByTheAnswerRule) {
    struct Case {
        const char* name;
        std::string body;
        std::vector<std::string> lines;
    } cases[] = {
        {"empty body", "", {"0"}},
        {"LF then CR", "a\n\rb", {"a", "", "b"}},
        {"CR LF at the end", "a\r\n", {"a"}},
        {"NUL ends its line", "x\0y\nz"s, {"x", "z"}},
        {"fallback answer", "203.0.113.5\r\nword\r\n", {"203.0.113.5", "word"}},
        {"CR CR", "a\r\rb", {"a", "", "b"}},
        {"lone terminator", "\n", {""}},
        {"no terminator", "0", {"0"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AnswerLines(c.body), c.lines) << c.name;
}

} // namespace
