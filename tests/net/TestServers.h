// Servers for the net tests, all on 127.0.0.1: the Python HTTP and SMTP servers started as
// child processes, a port that refuses, and a listener whose queue is full so that connects
// to it hang.
#pragma once

#include "platform/UniqueFd.h"

#include <QJsonArray>
#include <QJsonObject>
#include <fstream>
#include <gtest/gtest.h>

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
    platform::UniqueFd listener_;
    int port_ = 0;
    std::vector<platform::UniqueFd> fillers_;
};

} // namespace nettest

#include <exception>

namespace nettest {

// The most derived of the clients' error classes that the error belongs to, by name.
std::string ErrorKind(const std::exception_ptr& error);

// A test suite with one loopback HTTP server for all its tests, the log emptied before each.
// Suite names its log file in a static kLogName.
template <class Suite> class HttpServerSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        server_ = new ServerProcess(ScriptPath("http_server.py"), Log());
        port_ = std::stoi(server_->FirstLine());
    }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override { std::ofstream(Log(), std::ios::trunc).close(); }

    static std::string Log() { return LogPath(Suite::kLogName); }
    static QJsonObject LastRequest() {
        auto all = ReadLog(Log());
        return all.empty() ? QJsonObject() : all.back();
    }
    // A request header's value, "<none>" when it was not sent.
    static std::string Header(const QJsonObject& request, const std::string& name) {
        for (const auto& pair : request["headers"].toArray())
            if (pair.toArray()[0].toString().compare(QString::fromStdString(name),
                                                     Qt::CaseInsensitive) == 0)
                return pair.toArray()[1].toString().toStdString();
        return "<none>";
    }
    static std::string Text(const QJsonObject& request, const char* key) {
        return request[key].toString().toStdString();
    }

    static inline ServerProcess* server_ = nullptr;
    static inline int port_ = 0;
};

} // namespace nettest
