// The running processes, as a snapshot taken at one moment.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

struct ProcessEntry {
    pid_t Pid = 0;
    // The file name of the process's executable, without its folder.
    std::string ExeName;
    // The user the process runs for (its real user id); -1 when it could not be read.
    uid_t Uid = static_cast<uid_t>(-1);
};

// Every process that can be seen, every user's, in ascending pid order. The name is that of the
// file the process runs (a file replaced since its start still counts under its old name), or the
// process's own short name where its executable cannot be read.
std::vector<ProcessEntry> ProcessSnapshot();

// Ends the process at once (SIGKILL through a pidfd, so a pid reused meanwhile is never
// hit); the process gets no chance to clean up. False when it cannot be reached or killed.
bool TerminateProcess(pid_t pid);

// Waits up to timeoutMs for the process to be gone; True when it is (or never existed).
bool WaitForProcessExit(pid_t pid, int timeoutMs);

// Asks the system to take every page of the process out of memory (they come back on use).
// False when the process cannot be reached; pages that cannot go simply stay.
bool EmptyWorkingSet(pid_t pid);

} // namespace platform
