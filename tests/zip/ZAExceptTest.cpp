#include "zip/ZAExcept.h"
#include "zip/ZAConst.h"

#include "vcl/Classes.h"

#include <gtest/gtest.h>
#include <optional>

using zip::EZAException;

namespace {

struct MessageCase {
    const char* name;
    int code;
    std::optional<std::string> archiverName; // none: no archiver at all
    std::optional<std::vector<vcl::FormatArg>> fmtArgs;
    int errorCode;
    std::string message;
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const MessageCase& row, std::ostream* os) {
    *os << row.name;
}

const MessageCase messageCases[] = {
    {"NotOpenWithArchiver",
     13,
     "ZipArchiver1",
     {},
     7,
     "ZipArchiver1: Archive is not open - Native error: 00013"},
    {"InvalidArchiveWithout", 35, {}, {}, 18, "Invalid archive file. - Native error: 00035"},
    {"EmptyTextWithArchiver", 57, "ZipArchiver1", {}, -1, "ZipArchiver1:  - Native error: 00057"},
    {"EmptyTextWithout", 60, {}, {}, -1, " - Native error: 00060"},
    {"FormattedFileName", 12, "ZipArchiver1", std::vector<vcl::FormatArg>{std::string("C:\\a.zip")},
     6, "ZipArchiver1: File \"C:\\a.zip\" not found - Native error: 00012"},
    {"PlaceholderKept", 12, {}, {}, 6, "File \"%s\" not found - Native error: 00012"},
    {"EmptyNameNoPrefix", 13, "", {}, 7, "Archive is not open - Native error: 00013"},
    {"IndexCode1", 1, {}, {}, 1, "Index out of bounds - Native error: 00001"},
    {"IndexCode24", 24, {}, {}, 1, "Index out of bounds - Native error: 00024"},
    {"UnknownCode", 99, {}, {}, 0, "Unknown error - Native error: 00099"},
    {"LongCode", 100000, {}, {}, 0, "Unknown error - Native error: 100000"},
    {"TwoIntegers",
     34,
     {},
     std::vector<vcl::FormatArg>{std::int64_t{10}, std::int64_t{7}, std::string("extra")},
     17,
     "Invalid compressed size, rfs.size = 10, count = 7 - Native error: 00034"},
    {"TypoKept",
     37,
     {},
     {},
     20,
     "Archive is open. You should close it beore performing this operation. - Native error: 00037"},
    {"Deflate64",
     55,
     {},
     {},
     32,
     "Deflate64 compression method is not supported - Native error: 00055"},
};

class MessageTest : public ::testing::TestWithParam<MessageCase> {};

TEST_P(MessageTest, BuildsTextPrefixAndSuffix) {
    const MessageCase& c = GetParam();
    vcl::TComponent owner(nullptr);
    const vcl::TComponent* archiver = nullptr;
    if (c.archiverName) {
        owner.SetName(*c.archiverName);
        archiver = &owner;
    }
    // The table is about numbers: codes outside the engine's names (99, 100000) included.
    const auto code = static_cast<zip::TZAError>(c.code);
    EZAException e = c.fmtArgs ? EZAException::CreateFmt(code, *c.fmtArgs, archiver)
                               : EZAException(code, archiver);
    EXPECT_EQ(e.Message(), c.message);
    EXPECT_STREQ(e.what(), c.message.c_str());
    EXPECT_EQ(e.NativeError(), c.code);
    EXPECT_EQ(e.ErrorCode(), c.errorCode);
}

INSTANTIATE_TEST_SUITE_P(Codes, MessageTest, ::testing::ValuesIn(messageCases),
                         [](const auto& row) { return std::string(row.param.name); });

// Every native code 0 to 60 is in the map; the index groups are the engine's vocabulary.
TEST(CodeMap, EveryKnownCodeMapsAsPublished) {
    const int expected[61] = {0,  1,  1,  1,  1,  2,  3,  1,  4,  5,  5,  6,  6,  7,  7,  6,
                              1,  8,  6,  9,  10, 1,  11, 9,  1,  11, 13, 14, 15, 5,  6,  6,
                              16, 12, 17, 18, 19, 20, 6,  21, 22, 23, 6,  23, 24, 24, 25, 26,
                              27, 28, 29, 30, 31, 6,  6,  32, 33, -1, -1, -1, -1};
    for (int code = 0; code <= 60; ++code)
        EXPECT_EQ(zip::ZAMessageIndex(code), expected[code]) << "code " << code;
    EXPECT_EQ(zip::ZAMessageIndex(-1), 0);
    EXPECT_EQ(zip::ZAMessageIndex(61), 0);
}

TEST(CodeMap, EveryIndexHasText) {
    for (int index = 0; index < zip::ZAMessageCount; ++index)
        EXPECT_FALSE(zip::ZAMessageText(index).empty()) << "index " << index;
    EXPECT_TRUE(zip::ZAMessageText(-1).empty());
}

TEST(EZAException, IsTheFrameworkException) {
    try {
        throw EZAException(zip::zeArchiveDamaged);
    } catch (const vcl::Exception& e) {
        EXPECT_EQ(e.Message(), "Archive is damaged. Open failed - Native error: 00048");
    }
}

} // namespace
