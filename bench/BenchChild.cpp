#include "BenchChild.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

namespace fs = std::filesystem;

int SpawnAndReport(const std::string& report, char** args) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execv(args[0], args);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ofstream(report) << seconds << ' ' << usage.ru_maxrss << ' '
                          << static_cast<double>(usage.ru_oublock) * 512 / 1e6 << ' ' << ok << '\n';
    return 0;
}

ChildRun Spawn(const std::string& self, const fs::path& scratch,
               const std::vector<std::string>& command) {
    const std::string report = (scratch / "spawn-report.txt").string();
    std::vector<std::string> args{self, "--spawn", report};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ChildRun run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::ifstream in(report);
    in >> run.seconds >> run.maxRssKb >> run.megabytesWritten >> run.ok;
    run.ok = in && run.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

std::map<std::string, long> SystemCalls(const std::string& self, const fs::path& scratch,
                                        const std::vector<std::string>& command) {
    std::map<std::string, long> calls;
    if (!Executable("/usr/bin/strace"))
        return calls;
    const std::string summary = (scratch / "strace.txt").string();
    std::vector<std::string> traced{"/usr/bin/strace", "-f", "-c", "-o", summary};
    traced.insert(traced.end(), command.begin(), command.end());
    if (!Spawn(self, scratch, traced).ok)
        return calls;
    std::ifstream in(summary);
    std::string line;
    while (std::getline(in, line)) {
        std::stringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        // "% time seconds usecs/call calls [errors] syscall": the calls are the fourth
        // column, the name the last.
        if (w.size() >= 5 && std::isdigit(static_cast<unsigned char>(w[3][0])))
            calls[w.back()] = std::strtol(w[3].c_str(), nullptr, 10);
    }
    return calls;
}

std::string PinToCores(const std::string& list) {
    cpu_set_t set;
    CPU_ZERO(&set);
    std::stringstream in(list);
    std::string part;
    while (std::getline(in, part, ',')) {
        const auto dash = part.find('-');
        const int first = std::atoi(part.c_str());
        const int last = dash == std::string::npos ? first : std::atoi(part.c_str() + dash + 1);
        for (int cpu = first; cpu <= last && cpu < CPU_SETSIZE; ++cpu)
            CPU_SET(cpu, &set);
    }
    if (CPU_COUNT(&set) == 0 || ::sched_setaffinity(0, sizeof set, &set) != 0)
        return "not pinned";
    return "pinned to cores " + list;
}

bool Executable(const std::string& path) {
    return ::access(path.c_str(), X_OK) == 0;
}

} // namespace bench
