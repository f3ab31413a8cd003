#include "platform/Processes.h"

#include "platform/UniqueFd.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <malloc.h>
#include <poll.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

namespace platform {

namespace {

std::string ExeNameOf(pid_t pid) {
    std::string proc = "/proc/" + std::to_string(pid);
    char buffer[PATH_MAX];
    ssize_t n = ::readlink((proc + "/exe").c_str(), buffer, sizeof buffer - 1);
    if (n > 0) {
        std::string path(buffer, static_cast<std::size_t>(n));
        constexpr std::string_view deleted = " (deleted)";
        if (path.size() > deleted.size() && path.ends_with(deleted))
            path.resize(path.size() - deleted.size());
        return path.substr(path.rfind('/') + 1);
    }
    // Kernel threads and processes of other users keep their executable to themselves.
    std::ifstream comm(proc + "/comm");
    std::string name;
    std::getline(comm, name);
    return name;
}

// The real user id from the "Uid:" line of the process's status, readable for every process.
uid_t UidOf(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Uid:", 0) == 0) {
            unsigned long uid = 0;
            if (std::sscanf(line.c_str() + 4, "%lu", &uid) == 1)
                return static_cast<uid_t>(uid);
            break;
        }
    return static_cast<uid_t>(-1);
}

bool ParsePid(const char* text, pid_t& pid) {
    if (!*text)
        return false;
    long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9' || value > INT_MAX / 10)
            return false;
        value = value * 10 + (*p - '0');
    }
    pid = static_cast<pid_t>(value);
    return value > 0;
}

std::vector<iovec> Mappings(pid_t pid) {
    std::vector<iovec> ranges;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        unsigned long start = 0, end = 0;
        if (std::sscanf(line.c_str(), "%lx-%lx", &start, &end) != 2 || end <= start)
            continue;
        // The vsyscall page lies outside the process's own address space.
        if (line.ends_with("[vsyscall]"))
            continue;
        ranges.push_back({reinterpret_cast<void*>(start), end - start});
    }
    return ranges;
}

// Through the system call itself: this C library's declaration lacks C linkage.
UniqueFd PidfdOpen(pid_t pid) {
    return UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0u)));
}

int PidfdSendSignal(int pidfd, int signal) {
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signal, nullptr, 0u));
}

std::size_t Bytes(const iovec* ranges, std::size_t count) {
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i)
        total += ranges[i].iov_len;
    return total;
}

} // namespace

std::vector<ProcessEntry> ProcessSnapshot() {
    std::vector<ProcessEntry> entries;
    {
        UniqueDir proc = OpenDir("/proc");
        if (!proc)
            return entries;
        while (dirent* entry = ::readdir(proc.get())) {
            pid_t pid = 0;
            if (ParsePid(entry->d_name, pid))
                entries.push_back({pid, {}});
        }
    }
    std::sort(entries.begin(), entries.end(),
              [](const ProcessEntry& a, const ProcessEntry& b) { return a.Pid < b.Pid; });
    for (ProcessEntry& e : entries) {
        e.ExeName = ExeNameOf(e.Pid);
        e.Uid = UidOf(e.Pid);
    }
    return entries;
}

bool TerminateProcess(pid_t pid) {
    UniqueFd pidfd = PidfdOpen(pid);
    return pidfd && PidfdSendSignal(pidfd.Get(), SIGKILL) == 0;
}

bool WaitForProcessExit(pid_t pid, int timeoutMs) {
    UniqueFd pidfd = PidfdOpen(pid);
    if (!pidfd)
        return errno == ESRCH;
    // A pidfd becomes readable when its process has ended (a zombie counts as ended).
    pollfd p{pidfd.Get(), POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&p, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

bool EmptyWorkingSet(pid_t pid) {
    if (pid == ::getpid()) {
        // Give the heap's free pages back first, then page out what is left.
        ::malloc_trim(0);
        for (const iovec& range : Mappings(pid))
            ::madvise(range.iov_base, range.iov_len, MADV_PAGEOUT);
        return true;
    }
    UniqueFd pidfd = PidfdOpen(pid);
    if (!pidfd)
        return false;
    std::vector<iovec> ranges = Mappings(pid);
    long limit = ::sysconf(_SC_IOV_MAX);
    std::size_t batch = limit > 0 ? static_cast<std::size_t>(limit) : 1024;
    for (std::size_t first = 0; first < ranges.size(); first += batch) {
        std::size_t count = std::min(batch, ranges.size() - first);
        const iovec* part = ranges.data() + first;
        ssize_t done = ::process_madvise(pidfd.Get(), part, count, MADV_PAGEOUT, 0);
        // A batch stops at the first range the system refuses (a locked or special
        // mapping, or one gone since the maps were read): the rest goes one by one.
        if (done < 0 || static_cast<std::size_t>(done) < Bytes(part, count))
            for (std::size_t i = 0; i < count; ++i)
                ::process_madvise(pidfd.Get(), part + i, 1, MADV_PAGEOUT, 0);
    }
    return true;
}

} // namespace platform
