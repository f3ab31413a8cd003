// Servers for the net tests, all on 127.0.0.1: the Python HTTP and SMTP servers started as
// child processes, a port that refuses, and a listener whose queue is full so that connects
// to it hang.
#pragma once

#include <QJsonObject>

#include <string>
#include <vector>

namespace nettest {

// A Python server script run with the log file (and any further arguments); it prints one
// line (its port or ports) once it listens.
class ServerProcess {
public:
    ServerProcess(const std::string& script, const std::string& logPath,
                  const std::vector<std::string>& arguments = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    const std::string& FirstLine() const { return first_line_; }

private:
    int pid_ = -1;
    std::string first_line_;
};

// The JSON objects of a log file, one a line, in order; none when there is no file yet.
std::vector<QJsonObject> ReadLog(const std::string& path);
std::string LogPath(const std::string& name); // in the test's private home folder
std::string ScriptPath(const std::string& name);

// A loopback port where nothing listens.
int RefusedPort();

class FullListener {
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener&) = delete;
    FullListener& operator=(const FullListener&) = delete;
    int Port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};

} // namespace nettest

#include <exception>

namespace nettest {

// The most derived of the clients' error classes that the error belongs to, by name.
std::string ErrorKind(const std::exception_ptr& error);

} // namespace nettest
