#include "TestServers.h"

#include "platform/UniqueFd.h"

#include <QByteArray>
#include <QJsonDocument>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace nettest {

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

} // namespace

ServerProcess::ServerProcess(const std::string& script, const std::string& logPath,
                             const std::vector<std::string>& arguments) {
    int out[2];
    if (pipe(out) != 0)
        throw std::runtime_error("pipe");
    const platform::UniqueFd readEnd(out[0]);
    platform::UniqueFd writeEnd(out[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    // Debian's interpreter, which has python3-aiosmtpd.
    std::string python = "/usr/bin/python3";
    std::vector<char*> argv{python.data(), const_cast<char*>(script.c_str()),
                            const_cast<char*>(logPath.c_str())};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, python.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Reset();
    if (rc != 0)
        throw std::runtime_error("cannot start " + script);
    // The first line comes once the server listens; give it a few seconds at most.
    char c;
    pollfd wait{readEnd.Get(), POLLIN, 0};
    while (poll(&wait, 1, 10000) > 0 && read(readEnd.Get(), &c, 1) == 1 && c != '\n')
        first_line_ += c;
    if (first_line_.empty())
        throw std::runtime_error("no answer from " + script);
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

std::vector<QJsonObject> ReadLog(const std::string& path) {
    std::vector<QJsonObject> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line))
        entries.push_back(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object());
    return entries;
}

std::string LogPath(const std::string& name) {
    return std::string(std::getenv("HOME")) + "/" + name;
}

std::string ScriptPath(const std::string& name) {
    return std::string(NET_TEST_DIR) + "/" + name;
}

int RefusedPort() {
    const platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    return BoundPort(fd.Get());
}

FullListener::FullListener() {
    listener_.Reset(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address = Loopback(0);
    bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_.Get(), 0);
    port_ = BoundPort(listener_.Get());
    // Connections nobody accepts fill the queue; later handshakes get no answer.
    sockaddr_in target = Loopback(port_);
    for (int i = 0; i < 4; ++i) {
        platform::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
        connect(fd.Get(), reinterpret_cast<sockaddr*>(&target), sizeof target);
        fillers_.push_back(std::move(fd));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

FullListener::~FullListener() = default;

} // namespace nettest

#include "net/IdException.h"

namespace nettest {

std::string ErrorKind(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const net::EIdHTTPProtocolException&) {
        return "EIdHTTPProtocolException";
    } catch (const net::EIdSMTPReplyError&) {
        return "EIdSMTPReplyError";
    } catch (const net::EIdConnectTimeout&) {
        return "EIdConnectTimeout";
    } catch (const net::EIdConnectError&) {
        return "EIdConnectError";
    } catch (const net::EIdReadTimeout&) {
        return "EIdReadTimeout";
    } catch (const net::EIdConnClosedGracefully&) {
        return "EIdConnClosedGracefully";
    } catch (const net::EIdSocketError&) {
        return "EIdSocketError";
    } catch (const net::EIdAnswerTooLarge&) {
        return "EIdAnswerTooLarge";
    } catch (const net::EIdAlreadyConnected&) {
        return "EIdAlreadyConnected";
    } catch (const net::EIdException&) {
        return "EIdException";
    } catch (...) {
        return "other";
    }
}

} // namespace nettest
