// One Qt application for the whole test program, on the offscreen platform, and a private
// home folder so no test touches the user's settings.
#include <QApplication>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char home[] = "/tmp/kestrova-test-XXXXXX";
    if (!mkdtemp(home))
        return 2;
    setenv("HOME", home, 1);
    setenv("XDG_CONFIG_HOME", (std::string(home) + "/.config").c_str(), 1);
    QApplication app(argc, argv);
    int rc = RUN_ALL_TESTS();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return rc;
}
