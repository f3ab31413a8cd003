// A child process for tests: started with posix_spawn, its standard input and output on
// pipes, ended (stdin closed, then killed if need be) and reaped when the object goes.
#pragma once

#include "platform/UniqueFd.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace testsupport {

class Child {
public:
    Child(const std::string& program, std::vector<std::string> args) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        platform::UniqueFd childIn(in[0]);
        stdin_.Reset(in[1]);
        if (pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        stdout_.Reset(out[0]);
        platform::UniqueFd childOut(out[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, childIn.Get(), STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, childOut.Get(), STDOUT_FILENO);
        std::vector<char*> argv;
        std::string name = program;
        argv.push_back(name.data());
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("cannot start " + program);
    }
    ~Child() {
        stdin_.Reset();
        stdout_.Reset();
        int status = 0;
        for (int i = 0; i < 200; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_)
                return;
            ::usleep(10000);
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t Pid() const { return pid_; }

    // The first line the child writes, or "" when none comes within the time limit.
    std::string ReadLine(int timeoutMs = 10000) {
        std::string line;
        pollfd p{stdout_.Get(), POLLIN, 0};
        while (::poll(&p, 1, timeoutMs) > 0) {
            char c;
            if (::read(stdout_.Get(), &c, 1) != 1 || c == '\n')
                break;
            line += c;
        }
        return line;
    }

private:
    pid_t pid_ = 0;
    platform::UniqueFd stdin_;
    platform::UniqueFd stdout_;
};

} // namespace testsupport
