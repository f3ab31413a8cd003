// What a peer can make the HTTP clients hold: the time until an oversized or endless answer
// fails and the peak memory of the process meanwhile, next to a small answer. Each case runs
// in a child process of its own, so that its peak is its own; the loopback test server of
// the network tests serves the answers.
#include "net/HttpCli.h"
#include "net/IdHTTP.h"
#include "vcl/Streams.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct Figures {
    double seconds = 0;
    long peakKiB = 0;
    long long held = 0; // bytes in the caller's stream afterwards
    bool failed = false;
    bool running = false; // still not ended when the case was given up
};

// A case that holds its request this long is given up and reported as still running.
constexpr unsigned kGiveUpSeconds = 15;
int resultFd = -1;

void GiveUp(int) {
    Figures f;
    f.running = true;
    f.seconds = kGiveUpSeconds;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    f.peakKiB = usage.ru_maxrss;
    (void)!::write(resultFd, &f, sizeof f);
    ::_exit(0);
}

// Runs work in a child process and returns its figures.
Figures InChild(const std::function<Figures()>& work) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        throw std::runtime_error("pipe");
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        resultFd = pipeFds[1];
        ::signal(SIGALRM, GiveUp);
        ::alarm(kGiveUpSeconds);
        Figures f = work();
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        f.peakKiB = usage.ru_maxrss;
        (void)!::write(pipeFds[1], &f, sizeof f);
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    Figures f;
    (void)!::read(pipeFds[0], &f, sizeof f);
    ::close(pipeFds[0]);
    ::waitpid(child, nullptr, 0);
    return f;
}

template <class Request> Figures Timed(Request request) {
    const auto start = std::chrono::steady_clock::now();
    Figures f;
    f.failed = !request(f.held);
    f.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return f;
}

void Report(const char* what, const Figures& f) {
    if (f.running) {
        std::printf("%-46s still running after %4.0f s          peak RSS %6.1f MB\n", what,
                    f.seconds, static_cast<double>(f.peakKiB) / 1024);
        return;
    }
    std::printf("%-46s %s after %7.3f s   held %9lld bytes   peak RSS %6.1f MB\n", what,
                f.failed ? "failed   " : "succeeded", f.seconds, f.held,
                static_cast<double>(f.peakKiB) / 1024);
}

} // namespace

int main() {
    int toServer[2];
    if (::pipe(toServer) != 0)
        return 1;
    const std::string log = "/tmp/bench-net-answers.log";
    const pid_t server = ::fork();
    if (server == 0) {
        ::dup2(toServer[1], 1);
        ::execl("/usr/bin/python3", "python3", NET_SERVER_DIR "/http_server.py", log.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(toServer[1]);
    char line[32] = {};
    const ssize_t got = ::read(toServer[0], line, sizeof line - 1);
    if (got <= 0) {
        std::fprintf(stderr, "the test server did not start\n");
        return 1;
    }
    const std::string base = "http://127.0.0.1:" + std::to_string(std::stoi(line));

    auto idhttp = [&](const std::string& path) {
        return InChild([&] {
            return Timed([&](long long& held) {
                net::TIdHTTP http(nullptr);
                vcl::TMemoryStream stream;
                try {
                    http.Get(base + path, stream);
                    held = stream.Size();
                    return true;
                } catch (const std::exception&) {
                    held = stream.Size();
                    return false;
                }
            });
        });
    };
    auto httpcli = [&](const std::string& path) {
        return InChild([&] {
            return Timed([&](long long& held) {
                net::THttpCli http(nullptr);
                vcl::TMemoryStream stream;
                http.URL = base + path;
                http.RcvdStream = &stream;
                http.Get();
                held = stream.Size();
                return http.StatusCode() != 0;
            });
        });
    };
    Report("TIdHTTP, small answer", idhttp("/text"));
    Report("TIdHTTP, 10 MB answer into memory", idhttp("/big"));
    Report("TIdHTTP, endless answer into memory", idhttp("/endless"));
    Report("THttpCli, small answer", httpcli("/text"));
    Report("THttpCli, 10 MB answer into memory", httpcli("/big"));
    Report("THttpCli, endless answer into memory", httpcli("/endless"));

    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    ::unlink(log.c_str());
    return 0;
}
