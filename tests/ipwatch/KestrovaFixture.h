// A fresh start of Kestrova for each test: its own settings folder, a new application
// object, the main window then the notice window, as the program makes them. The message
// loop is not entered; tests drive the handlers and pump messages themselves.
#pragma once

#include "support/TempDir.h"

#include "ipwatch/Unit1.h"
#include "ipwatch/Unit2.h"
#include "platform/UniqueFd.h"
#include "vcl/Dialogs.h"
#include "vcl/Forms.h"
#include "vcl/SysUtils.h"

#include <QApplication>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sys/inotify.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

// Counts the times the settings file is replaced: each written value replaces it once.
class WriteCounter {
public:
    explicit WriteCounter(const std::string& folder)
        : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        inotify_add_watch(fd_.Get(), folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }

    // The replacements of "serie.ini" since the last call.
    int Take() {
        int count = 0;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while ((n = ::read(fd_.Get(), buffer, sizeof buffer)) > 0) {
            for (char* p = buffer; p < buffer + n;) {
                auto* event = reinterpret_cast<inotify_event*>(p);
                if ((event->mask & IN_MOVED_TO) && event->len &&
                    std::string(event->name) == "serie.ini")
                    ++count;
                p += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

private:
    platform::UniqueFd fd_;
};

class KestrovaTest : public ::testing::Test {
protected:
    void SetUp() override { vcl::CreateDir(home.SettingsFolder(), 0700); }
    void TearDown() override { app.reset(); }

    void Start() {
        app.reset();
        app = std::make_unique<vcl::TApplication>();
        app->Title = "Kestrova";
        form1 = app->CreateForm<ipwatch::TForm1>();
        form2 = app->CreateForm<ipwatch::TForm2>();
    }

    std::string Settings() const { return ReadFile(home.SettingsFile()); }
    bool SettingsExist() const { return Exists(home.SettingsFile()); }

    // Pumps messages until the condition holds or the time runs out.
    static bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    ConfigHome home;
    vcl::TScriptedDialogs dialogs;
    std::unique_ptr<vcl::TApplication> app;
    ipwatch::TForm1* form1 = nullptr;
    ipwatch::TForm2* form2 = nullptr;
};

} // namespace testsupport
