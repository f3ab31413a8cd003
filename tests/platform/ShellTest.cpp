#include "support/TempDir.h"

#include "platform/Shell.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

using namespace testsupport;
using platform::ShellExecute;

namespace {

// Waits for the stand-in program's note, up to a few seconds.
std::string AwaitRecord(const std::string& path) {
    for (int i = 0; i < 500 && !Exists(path); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return ReadFile(path);
}

class ShellTest : public ::testing::Test {
protected:
    void SetUp() override { setenv("KESTROVA_START_RECORD", record.c_str(), 1); }
    void TearDown() override { unsetenv("KESTROVA_START_RECORD"); }

    TempDir dir;
    std::string record = dir / "record";
};

TEST_F(ShellTest, AnExecutableStartsWithoutArgumentsInASessionOfItsOwn) {
    EXPECT_TRUE(ShellExecute("OPEN", RECORD_START));
    EXPECT_EQ(AwaitRecord(record), "arguments=0 own-session=1\n");
}

TEST_F(ShellTest, TheVerbIsOpenInAnyCase) {
    EXPECT_TRUE(ShellExecute("oPeN", RECORD_START));
    EXPECT_FALSE(AwaitRecord(record).empty());
}

TEST_F(ShellTest, NothingStartsForOtherVerbsOrMissingFiles) {
    struct Case {
        const char* name;
        std::string verb;
        std::string file;
    };
    for (const Case& c :
         {Case{"other verb", "print", RECORD_START},
          Case{"missing program", "open", dir / "Tamrel.exe"},
          Case{"missing document", "open", dir / "Kestrova.chm"}, Case{"no name", "open", ""}}) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(ShellExecute(c.verb, c.file));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(Exists(record));
}

TEST_F(ShellTest, AFileThatIsNotExecutableIsNotRunAsAProgram) {
    std::string copy = dir / "not-executable";
    std::filesystem::copy_file(RECORD_START, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_write);
    // Handed to the desktop's opener when there is one, never run directly.
    ShellExecute("open", copy);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(Exists(record));
}

} // namespace
