#include "support/Child.h"
#include "support/TempDir.h"

#include "platform/Processes.h"
#include "platform/SpecialFolders.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testsupport;
using platform::ProcessEntry;
using platform::ProcessSnapshot;

namespace {

const ProcessEntry* Find(const std::vector<ProcessEntry>& snapshot, pid_t pid) {
    for (const auto& e : snapshot)
        if (e.Pid == pid)
            return &e;
    return nullptr;
}

TEST(Processes, TheSnapshotIsInAscendingPidOrderAndNamesTheExecutableFileAndItsUser) {
    auto snapshot = ProcessSnapshot();
    EXPECT_TRUE(std::is_sorted(snapshot.begin(), snapshot.end(),
                               [](const auto& a, const auto& b) { return a.Pid < b.Pid; }));
    const ProcessEntry* self = Find(snapshot, ::getpid());
    ASSERT_NE(self, nullptr);
    std::string path = platform::ProgramPath();
    EXPECT_EQ(self->ExeName, path.substr(path.rfind('/') + 1));
    EXPECT_EQ(self->Uid, ::getuid());
    const ProcessEntry* init = Find(snapshot, 1);
    ASSERT_NE(init, nullptr);
    EXPECT_EQ(init->Uid, 0u); // another user's, unless the tests run as root
}

TEST(Processes, AProgramFileDeletedSinceItsStartKeepsItsName) {
    TempDir dir;
    std::string program = dir / "Replaced.exe";
    std::filesystem::copy_file(HOLD_MEMORY, program);
    std::string data = dir / "data";
    WriteFile(data, std::string(8192, 'x'));
    Child child(program, {data});
    ASSERT_EQ(child.ReadLine().rfind("ready", 0), 0u);
    std::filesystem::remove(program);
    // The entry points into the snapshot, which must outlive it.
    const auto snapshot = ProcessSnapshot();
    const ProcessEntry* entry = Find(snapshot, child.Pid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->ExeName, "Replaced.exe");
}

TEST(Processes, EmptyingTheOwnWorkingSetLeavesTheProcessWorking) {
    std::vector<char> block(16 << 20, 'a');
    EXPECT_TRUE(platform::EmptyWorkingSet(::getpid()));
    EXPECT_EQ(std::count(block.begin(), block.end(), 'a'), static_cast<long>(block.size()));
}

TEST(Processes, AProcessThatIsGoneCannotBeTrimmed) {
    pid_t gone = 0;
    {
        Child child(RECORD_START, {});
        gone = child.Pid();
    }
    EXPECT_FALSE(platform::EmptyWorkingSet(gone));
}

TEST(Processes, ATerminatedProcessEndsAndIsGoneAfterTheWait) {
    TempDir dir;
    std::string data = dir / "data";
    WriteFile(data, std::string(4096, 'x'));
    Child child(HOLD_MEMORY, {data});
    ASSERT_EQ(child.ReadLine().rfind("ready", 0), 0u);
    EXPECT_FALSE(platform::WaitForProcessExit(child.Pid(), 50));
    EXPECT_TRUE(platform::TerminateProcess(child.Pid()));
    EXPECT_TRUE(platform::WaitForProcessExit(child.Pid(), 5000));
}

TEST(Processes, AProcessThatIsGoneCannotBeTerminated) {
    pid_t gone = 0;
    {
        Child child(RECORD_START, {});
        gone = child.Pid();
    }
    EXPECT_FALSE(platform::TerminateProcess(gone));
    EXPECT_TRUE(platform::WaitForProcessExit(gone, 0));
}

} // namespace
