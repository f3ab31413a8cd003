#include "platform/Shell.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {

namespace {

bool IsOpen(std::string_view verb) {
    constexpr std::string_view open = "open";
    return verb.size() == open.size() &&
           std::equal(verb.begin(), verb.end(), open.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

bool IsExecutableFile(const std::string& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(file.c_str(), X_OK) == 0;
}

std::string FindInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string rest = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find(':', start);
        if (end == std::string::npos)
            end = rest.size();
        std::string folder = rest.substr(start, end - start);
        if (!folder.empty()) {
            std::string candidate = folder + "/" + name;
            if (IsExecutableFile(candidate))
                return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Children started here are not waited for; those that have ended are collected at the
// next start so that they do not linger as zombies.
std::mutex spawned_lock;
std::vector<pid_t> spawned;

void CollectEnded() {
    std::lock_guard guard(spawned_lock);
    std::erase_if(spawned, [](pid_t pid) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        return r == pid || r < 0;
    });
}

bool Spawn(const std::string& program, const std::vector<std::string>& arguments) {
    CollectEnded();
    std::vector<char*> argv;
    std::string name = program;
    argv.push_back(name.data());
    std::vector<std::string> args = arguments;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawnattr_t attr;
    if (posix_spawnattr_init(&attr) != 0)
        return false;
    // Its own session: the program outlives this one and its terminal.
    posix_spawnattr_setflags(&attr,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), nullptr, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    if (rc != 0)
        return false;
    std::lock_guard guard(spawned_lock);
    spawned.push_back(pid);
    return true;
}

} // namespace

bool ShellExecute(std::string_view verb, const std::string& file) {
    if (!IsOpen(verb) || file.empty())
        return false;
    if (IsExecutableFile(file))
        return Spawn(file, {});
    // A missing document is not handed on: the opener would complain on screen.
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return false;
    std::string opener = FindInPath("xdg-open");
    return !opener.empty() && Spawn(opener, {file});
}

} // namespace platform
