#include "support/Child.h"
#include "support/TempDir.h"

#include "ipwatch/API_LiberationProcessus.h"
#include "platform/Processes.h"
#include "platform/UniqueFd.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

using namespace testsupport;
using ipwatch::LibereMemoireProcessus;

namespace {

constexpr long kHeldKiB = 50 * 1024;

// Resident memory of a process, in KiB, from its status file.
long Resident(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Copies of the memory-holding program under a chosen executable name, each holding the
// pages of a file of its own (pages mapped by two processes would not be given up).
class TrimTest : public ::testing::Test {
protected:
    std::unique_ptr<Child> Hold(const std::string& exeName) {
        std::string folder = dir / ("copy" + std::to_string(++copies));
        std::filesystem::create_directory(folder);
        std::string program = folder + "/" + exeName;
        std::filesystem::copy_file(HOLD_MEMORY, program);
        std::string data = folder + "/data";
        {
            std::ofstream out(data, std::ios::binary);
            std::string block(1 << 20, 'k');
            for (long i = 0; i < kHeldKiB / 1024; ++i)
                out << block;
        }
        // Clean pages: written back, so that nothing has to be written out to drop them.
        ::fsync(platform::UniqueFd(::open(data.c_str(), O_RDONLY)).Get());
        auto child = std::make_unique<Child>(program, std::vector<std::string>{data});
        EXPECT_EQ(child->ReadLine().rfind("ready", 0), 0u);
        EXPECT_GT(Resident(child->Pid()), kHeldKiB);
        return child;
    }

    static bool Trimmed(long before, long after) { return after < before - kHeldKiB / 2; }

    // A copy of the real program running on this machine (another test's, say) with a lower
    // pid comes first, and is the one trimmed.
    static pid_t FirstOfThatName() {
        for (const auto& e : platform::ProcessSnapshot())
            if (e.ExeName == "Kestrova.exe")
                return e.Pid;
        return 0;
    }

    TempDir dir;
    int copies = 0;
};

// One test, so that no other test's program of that name runs meanwhile and comes first.
TEST_F(TrimTest, OnlyTheFirstProcessOfExactlyThatNameGivesUpItsMemory) {
    {
        SCOPED_TRACE("one process of that name");
        auto child = Hold("Kestrova.exe");
        long before = Resident(child->Pid());
        pid_t expected = FirstOfThatName();
        LibereMemoireProcessus("Kestrova.exe");
        if (expected == child->Pid())
            EXPECT_TRUE(Trimmed(before, Resident(child->Pid())));
        else
            EXPECT_FALSE(Trimmed(before, Resident(child->Pid()))) << "another one came first";
    }
    struct Case {
        const char* exeName;
        const char* asked;
    };
    for (Case c : {Case{"kestrova.exe", "Kestrova.exe"}, Case{"KESTROVA.EXE", "Kestrova.exe"},
                   Case{"Kestrova.exe.old", "Kestrova.exe"}, Case{"Kestrova", "Kestrova.exe"}}) {
        SCOPED_TRACE(std::string(c.exeName) + " asked as " + c.asked);
        auto child = Hold(c.exeName);
        long before = Resident(child->Pid());
        LibereMemoireProcessus(c.asked);
        EXPECT_FALSE(Trimmed(before, Resident(child->Pid())));
    }
    {
        SCOPED_TRACE("two copies");
        auto one = Hold("Kestrova.exe");
        auto two = Hold("Kestrova.exe");
        const Child& first = one->Pid() < two->Pid() ? *one : *two;
        const Child& second = one->Pid() < two->Pid() ? *two : *one;
        long firstBefore = Resident(first.Pid());
        long secondBefore = Resident(second.Pid());
        pid_t expected = FirstOfThatName();
        LibereMemoireProcessus("Kestrova.exe");
        EXPECT_FALSE(Trimmed(secondBefore, Resident(second.Pid())));
        if (expected == first.Pid()) {
            EXPECT_TRUE(Trimmed(firstBefore, Resident(first.Pid())));
        }
    }
}

} // namespace
