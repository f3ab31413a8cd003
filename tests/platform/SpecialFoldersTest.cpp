#include "platform/SpecialFolders.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

struct Env {
    Env(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~Env() { old_.empty() ? unsetenv(name_) : setenv(name_, old_.c_str(), 1); }
    const char* name_;
    std::string old_;
};

TEST(SpecialFolders, ApplicationDataFollowsTheXdgRule) {
    struct Case {
        const char* xdg;
        const char* home;
        std::string expected;
    } cases[] = {
        {"/x/config/", "/home/u", "/x/config"},
        {nullptr, "/home/u", "/home/u/.config"},
        {"relative/ignored", "/home/u/", "/home/u/.config"},
    };
    for (const Case& c : cases) {
        Env xdg("XDG_CONFIG_HOME", c.xdg);
        Env home("HOME", c.home);
        EXPECT_EQ(platform::SpecialFolderPath(platform::CSIDL_APPDATA), c.expected);
    }
    EXPECT_EQ(platform::SpecialFolderPath(1234), "");
}

TEST(SpecialFolders, TheProgramFolderHoldsTheRunningExecutable) {
    std::string folder = platform::ProgramFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_EQ(platform::ProgramPath().rfind(folder, 0), 0u);
    EXPECT_NE(platform::ProgramPath().find("test_platform"), std::string::npos);
}

} // namespace
