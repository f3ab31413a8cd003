// A private home folder for the whole test program, so no test touches the user's settings.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace testsupport {

class TestHome {
public:
    TestHome() {
        char home[] = "/tmp/kestrova-test-XXXXXX";
        if (!mkdtemp(home))
            std::exit(2);
        path_ = home;
        setenv("HOME", home, 1);
        setenv("XDG_CONFIG_HOME", (path_ + "/.config").c_str(), 1);
    }
    ~TestHome() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TestHome(const TestHome&) = delete;
    TestHome& operator=(const TestHome&) = delete;

private:
    std::string path_;
};

} // namespace testsupport
