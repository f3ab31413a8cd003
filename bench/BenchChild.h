// Running a tool as a child process and measuring it: time from start to exit, peak RSS and
// blocks written (from the child's own rusage), and its system calls by name (strace -c -f).
// Each benchmark program is also the launcher: `--spawn report command...` runs the command,
// so that a child's peak RSS is its own and not that of the process that forked it.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace bench {

struct ChildRun {
    double seconds = 0;
    long maxRssKb = 0;
    double megabytesWritten = 0; // blocks the child submitted for writing, in MB
    bool ok = false;
};

// The launcher's side, for main to call on `--spawn report command...`.
int SpawnAndReport(const std::string& report, char** args);

// Runs command as a child of a fresh copy of self (this program), in scratch for its report.
ChildRun Spawn(const std::string& self, const std::filesystem::path& scratch,
               const std::vector<std::string>& command);

// Every system call the command and its children made, by name, with "total" for the sum;
// empty when strace is not installed or the command failed.
std::map<std::string, long> SystemCalls(const std::string& self,
                                        const std::filesystem::path& scratch,
                                        const std::vector<std::string>& command);

// Pins this process, and so every child it starts, to the cores listed ("6,7" or "2-3").
std::string PinToCores(const std::string& list);

bool Executable(const std::string& path);

} // namespace bench
