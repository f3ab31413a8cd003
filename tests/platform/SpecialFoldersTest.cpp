#include "platform/SpecialFolders.h"
#include "support/TempDir.h"

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
    testsupport::TempDir dir;
    const std::string home = dir / "home/u";
    struct Case {
        std::string xdg; // "" for unset
        std::string home;
        std::string expected;
    } cases[] = {
        {dir / "x/config/", home, dir / "x/config"},
        {"", home, home + "/.config"},
        {"relative/ignored", home + "/", home + "/.config"},
    };
    for (const Case& c : cases) {
        Env xdg("XDG_CONFIG_HOME", c.xdg.empty() ? nullptr : c.xdg.c_str());
        Env h("HOME", c.home.c_str());
        EXPECT_EQ(platform::SpecialFolderPath(platform::CSIDL_APPDATA), c.expected);
        // A new account has no such folder yet: it is made, private, for the programs to use.
        EXPECT_EQ(testsupport::Mode(c.expected), 0700u) << c.expected;
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
