#include "platform/CodePages.h"

#include <gtest/gtest.h>

namespace {

struct OemCase {
    const char* label;
    std::string utf8;
    std::string oem;
    bool exact;
    bool back; // the CP850 bytes give the text again
};

const OemCase oemCases[] = {
    {"ascii", "dir/file.txt", "dir/file.txt", true, true},
    {"accents", "café/Über.txt",
     "caf\x82/\x9A"
     "ber.txt",
     true, true},
    {"box drawing", "╔═╗", "\xC9\xCD\xBB", true, true},
    {"no CP850 form", "prix €.txt", "prix ?.txt", false, false},
    {"not UTF-8", "caf\xE9", "caf\xE9", true, false},
};

class CodePages : public ::testing::TestWithParam<OemCase> {};

TEST_P(CodePages, BothDirections) {
    const OemCase& c = GetParam();
    std::string oem;
    EXPECT_EQ(platform::AnsiToOem(c.utf8, oem), c.exact);
    EXPECT_EQ(oem, c.oem);
    if (c.back) {
        EXPECT_EQ(platform::OemToAnsi(c.oem), c.utf8);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, CodePages, ::testing::ValuesIn(oemCases), [](const auto& p) {
    std::string name = p.param.label;
    for (char& ch : name)
        if (ch == ' ' || ch == '-')
            ch = '_';
    return name;
});

} // namespace
