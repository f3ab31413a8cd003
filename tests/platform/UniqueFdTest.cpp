// The descriptor owner: every road out of a scope closes what it holds, and the process
// functions built on it leave no descriptor behind.
#include "platform/UniqueFd.h"
#include "platform/Processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool IsOpen(int fd) {
    return ::fcntl(fd, F_GETFD) != -1;
}

int OpenNull() {
    return ::open("/dev/null", O_RDONLY | O_CLOEXEC);
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count;
}

TEST(UniqueFd, EveryRoadOutClosesWhatItHolds) {
    struct Case {
        const char* label;
        // Runs the road with the descriptor fd handed to an owner; says whether fd must be
        // closed afterwards.
        std::function<bool(int fd)> road;
    };
    const Case cases[] = {
        {"end of scope",
         [](int fd) {
             platform::UniqueFd owner(fd);
             return true;
         }},
        {"exception",
         [](int fd) {
             try {
                 platform::UniqueFd owner(fd);
                 throw std::runtime_error("leaves");
             } catch (const std::runtime_error&) {
             }
             return true;
         }},
        {"moved into another owner that ends",
         [](int fd) {
             platform::UniqueFd first(fd);
             { platform::UniqueFd second(std::move(first)); }
             return !first;
         }},
        {"move-assigned over another descriptor",
         [](int fd) {
             const int other = OpenNull();
             {
                 platform::UniqueFd target(other);
                 target = platform::UniqueFd(fd);
                 if (IsOpen(other))
                     return false;
             }
             return true;
         }},
        {"reset",
         [](int fd) {
             platform::UniqueFd owner(fd);
             owner.Reset();
             return !owner;
         }},
        {"closed on demand",
         [](int fd) {
             platform::UniqueFd owner(fd);
             return owner.Close() && !owner && owner.Close();
         }},
        {"released: the caller owns it",
         [](int fd) {
             {
                 platform::UniqueFd owner(fd);
                 (void)owner.Release();
             }
             const bool open = IsOpen(fd);
             ::close(fd);
             return open;
         }},
    };
    for (const auto& c : cases) {
        const int fd = OpenNull();
        ASSERT_GE(fd, 0);
        EXPECT_TRUE(c.road(fd)) << c.label;
        EXPECT_FALSE(IsOpen(fd)) << c.label;
    }
}

TEST(UniqueFd, DirectoryStreamsCloseToo) {
    const std::size_t before = OpenDescriptors();
    {
        platform::UniqueDir dir = platform::OpenDir("/proc/self");
        ASSERT_TRUE(dir);
        EXPECT_EQ(OpenDescriptors(), before + 1);
    }
    EXPECT_EQ(OpenDescriptors(), before);
    EXPECT_FALSE(platform::OpenDir("/no/such/folder"));
}

TEST(UniqueFd, TheProcessFunctionsLeaveNoDescriptor) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    const std::size_t before = OpenDescriptors();
    (void)platform::ProcessSnapshot();
    EXPECT_TRUE(platform::EmptyWorkingSet(child));
    EXPECT_FALSE(platform::WaitForProcessExit(child, 0));
    EXPECT_TRUE(platform::TerminateProcess(child));
    EXPECT_TRUE(platform::WaitForProcessExit(child, 10000));
    EXPECT_EQ(OpenDescriptors(), before);
    int status = 0;
    ::waitpid(child, &status, 0);
}

} // namespace
