// Testing the entries of an archive opened the ordinary way: archives made by the peer tools
// pass whole, a damaged entry is reported through the failure event, and nothing is written
// out or left behind either way.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"

#include <filesystem>
#include <gtest/gtest.h>

using namespace zip;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

struct ToolCase {
    const char* label;
    const char* command; // run in the source folder; writes ../a.zip with its data stored
};

const ToolCase toolCases[] = {
    {"InfoZip", "zip -q -0 -r ../a.zip ."},
    {"SevenZip", "7zz a -tzip -mx0 ../a.zip ."},
    {"Python", "/usr/bin/python3 -c \"import zipfile, os\n"
               "z = zipfile.ZipFile('../a.zip', 'w', zipfile.ZIP_STORED)\n"
               "for root, dirs, files in os.walk('.'):\n"
               "    for n in dirs + files: z.write(os.path.join(root, n))\n\""},
};

struct Failure {
    std::string name;
    TZAProcessOperation operation;
    std::int32_t native;
    bool operator==(const Failure&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Failure& f) {
    return os << f.name << " op " << static_cast<int>(f.operation) << " error " << f.native;
}

const std::string secondData = [] {
    std::string s;
    for (int i = 0; i < 200; ++i)
        s += "the second entry's data, line " + std::to_string(i) + "\n";
    return s;
}();

struct Testing : ::testing::TestWithParam<ToolCase> {
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);
    TempDir dir;
    vcl::TScriptedDialogs dialogs;
    std::vector<Failure> failures;

    Testing() {
        a->SetName("ZipArchiver1");
        fs::create_directories(dir / "tmp");
        fs::create_directories(dir / "out");
        a->TempDir = dir / "tmp";
        a->BaseDir = dir / "out";
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation operation, std::int32_t native,
                                         std::int32_t, const std::string&, TZAAction& action) {
            failures.push_back({name, operation, native});
            action = fxaIgnore;
        };
    }

    void Make() {
        const std::string src = dir / "src";
        fs::create_directories(src + "/sub");
        WriteFile(src + "/first.txt", "the first entry\n");
        WriteFile(src + "/sub/second.txt", secondData);
        WriteFile(src + "/third.bin", ziptest::RandomBytes(50 * 1024, 9));
        ASSERT_TRUE(ziptest::Run("cd '" + src + "' && " + GetParam().command));
    }

    void FlipAByteOfTheSecondEntry() {
        std::string bytes = ReadFile(dir / "a.zip");
        const auto at = bytes.find(secondData);
        ASSERT_NE(at, std::string::npos);
        bytes[at + secondData.size() / 2] ^= 0x20;
        WriteFile(dir / "a.zip", bytes);
    }

    void TestAll(const std::string& mask = "*.*") {
        a->SetFileName(dir / "a.zip");
        a->OpenArchive();
        a->TestFiles(mask, zip::faAllEntries, "");
        a->CloseArchive();
    }

    void ExpectNothingWrittenOrLeft() {
        EXPECT_TRUE(fs::is_empty(dir / "tmp"));
        EXPECT_TRUE(fs::is_empty(dir / "out"));
        EXPECT_TRUE(dialogs->shown.empty());
    }
};

TEST_P(Testing, ASoundArchivePassesEveryEntry) {
    Make();
    TestAll();
    EXPECT_TRUE(failures.empty());
    ExpectNothingWrittenOrLeft();
}

TEST_P(Testing, AFlippedByteFailsItsEntryThroughTheFailureEvent) {
    Make();
    FlipAByteOfTheSecondEntry();
    TestAll();
    const std::vector<Failure> expected{{"sub/second.txt", poTest, 8}};
    EXPECT_EQ(failures, expected);
    ExpectNothingWrittenOrLeft();
}

TEST_P(Testing, OnlyTheEntriesTheMaskSelectsAreRead) {
    Make();
    FlipAByteOfTheSecondEntry();
    TestAll("*.bin");
    EXPECT_TRUE(failures.empty());
    ExpectNothingWrittenOrLeft();
}

INSTANTIATE_TEST_SUITE_P(Tools, Testing, ::testing::ValuesIn(toolCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(TestingGuards, TestFilesNeedsAnOpenArchive) {
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);
    EXPECT_EQ(ziptest::NativeErrorOf([&] { a->TestFiles("*.*", zip::faAllEntries, ""); }),
              zeArchiveNotOpen);
}

} // namespace
