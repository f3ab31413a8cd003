// Prints the time Tamrel takes to install a release archive of about 50 MB (140 MB of mixed
// files, which deflate to about that) from a loopback server
// (the "Mise à jour" button pressed, its message box answered: download, archive test,
// extraction, its two fixed pauses of 300 ms included), next to `curl -o` followed by
// `unzip -o` on the same archive, medians of ZIP_BENCH_RUNS (default 5) runs each. The
// release is made from fixed seeds by Info-ZIP zip; ZIP_BENCH_RELEASE_MB sets the size of
// its files.
// Usage: bench_updater (needs python3, zip, unzip and curl; widgets on Qt's offscreen platform).
#include "ArchiveCorpus.h"
#include "BenchSupport.h"
#include "updater/Unit1.h"
#include "vcl/DateUtils.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"
#include "vcl/SysUtils.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using bench::Clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void WriteProgram(const fs::path& path, const std::string& release) {
    std::ofstream(path) << "#!/bin/sh\necho " << release
                        << " > \"$(dirname \"$0\")/started.txt\"\n";
    ::chmod(path.c_str(), 0755);
}

void SetNoon(const fs::path& path, int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 12;
    t.tm_isdst = -1;
    const std::time_t when = std::mktime(&t);
    const timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

// The loopback release server: tests/net/http_server.py, its port read from its first line.
class ReleaseServer {
public:
    ReleaseServer(const fs::path& script, const fs::path& log, const fs::path& routes) {
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::execl("/usr/bin/python3", "python3", script.c_str(), log.c_str(), routes.c_str(),
                    "release=127.0.0.1:0", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        std::string line;
        char c = 0;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        const auto colon = line.find(':');
        if (colon != std::string::npos)
            port_ = std::atoi(line.c_str() + colon + 1);
    }
    ~ReleaseServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    ReleaseServer(const ReleaseServer&) = delete;
    ReleaseServer& operator=(const ReleaseServer&) = delete;
    int Port() const { return port_; }

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

// One press of "Mise à jour" on a fresh installation holding the old main program.
double UpdateOnce(const fs::path& inst, int port, bool& installed) {
    fs::remove_all(inst);
    fs::create_directories(inst);
    WriteProgram(inst / "Kestrova.exe", "old");
    SetNoon(inst / "Kestrova.exe", 2020, 3, 15);
    vcl::TScriptedDialogs dialogs;
    auto app = std::make_unique<vcl::TApplication>();
    app->Title = "Mise à jour";
    updater::TUpdaterPlace place;
    place.Folder = inst.string() + "/";
    place.ReleaseHost = "127.0.0.1:" + std::to_string(port);
    place.Processes = [] { return std::vector<platform::ProcessEntry>{}; };
    auto* form = app->CreateForm<updater::TForm1>(place);
    const auto start = Clock::now();
    form->BitBtn1->Click();
    const double seconds = Seconds(start);
    installed = !dialogs->shown.empty() &&
                dialogs->shown.back().text.find("terminée et installée") != std::string::npos;
    return seconds;
}

} // namespace

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const char* mbText = std::getenv("ZIP_BENCH_RELEASE_MB");
    const std::size_t mb = mbText && *mbText ? std::strtoul(mbText, nullptr, 10) : 140;
    const char* runsText = std::getenv("ZIP_BENCH_RUNS");
    const int runs = std::max(1, runsText && *runsText ? std::atoi(runsText) : 5);
    const fs::path scratch = fs::path(fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp") /
                             ("updater-bench-" + std::to_string(::getpid()));
    fs::create_directories(scratch / "release");
    WriteProgram(scratch / "release" / "Kestrova.exe", "new");
    bench::MakeMixedCorpus(scratch / "release" / "data", std::uint64_t{mb} * 1000000, 3);
    const fs::path archive = scratch / "Kestrova.zip";
    if (std::system(("cd '" + (scratch / "release").string() + "' && zip -q -r '" +
                     archive.string() + "' .")
                        .c_str()) != 0) {
        std::fprintf(stderr, "zip failed\n");
        return 1;
    }
    const std::string page = vcl::DateToStr(vcl::EncodeDate(2020, 3, 16)) + "\r\n";
    std::ofstream(scratch / "routes.json")
        << "{\"release\": {\"/kestrova/update.html\": {\"body\": \""
        << page.substr(0, page.size() - 2) << "\\r\\n\"}, \"/rv/Kestrova.zip\": {\"file\": \""
        << archive.string() << "\"}}}";
    ReleaseServer server(fs::path(BENCH_NET_DIR) / "http_server.py", scratch / "http.log",
                         scratch / "routes.json");
    if (server.Port() == 0) {
        std::fprintf(stderr, "the release server did not start\n");
        return 1;
    }
    std::vector<double> tamrel, peers;
    bool allInstalled = true;
    for (int i = 0; i < runs; ++i) {
        bool installed = false;
        tamrel.push_back(UpdateOnce(scratch / "inst", server.Port(), installed));
        allInstalled = allInstalled && installed;
        fs::remove_all(scratch / "peer");
        fs::create_directories(scratch / "peer");
        const auto start = Clock::now();
        const std::string url =
            "http://127.0.0.1:" + std::to_string(server.Port()) + "/rv/Kestrova.zip";
        const std::string command = "curl -s -o '" + (scratch / "peer.zip").string() + "' " + url +
                                    " && unzip -qo '" + (scratch / "peer.zip").string() + "' -d '" +
                                    (scratch / "peer").string() + "'";
        if (std::system(command.c_str()) != 0)
            std::fprintf(stderr, "curl or unzip failed\n");
        peers.push_back(Seconds(start));
    }
    std::printf("release of %.1f MB on loopback, median of %d: Tamrel %.3f s%s (0.600 s of it "
                "its two fixed pauses), curl -o + unzip -o %.3f s\n",
                static_cast<double>(fs::file_size(archive)) / 1e6, runs, bench::Median(tamrel),
                allInstalled ? "" : " (NOT INSTALLED)", bench::Median(peers));
    fs::remove_all(scratch);
    return 0;
}
