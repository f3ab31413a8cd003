// libzip's regression archives, every one opened and listed by the engine in a child process
// under a 2 GiB address-space limit and a time limit: each must open or fail with the
// engine's own error or a stream error, never crash, exhaust memory or hang.
#include "ZipTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>

namespace {

const std::string CorpusDir = std::string(ZIP_CORPUS_DIR) + "/libzip-regress";

} // namespace

TEST(Corpus, EveryArchiveOpensOrFailsCleanly) {
    if (!std::filesystem::is_directory(CorpusDir))
        GTEST_SKIP() << "no corpus at " << CorpusDir;
    ziptest::TempDir dir;
    int opened = 0;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(CorpusDir)) {
        if (!entry.is_regular_file())
            continue;
        ++files;
        const std::string file = entry.path().string();
        const std::string out = dir / "out.txt";
        const std::string command = "ulimit -v 2097152; timeout 20 '" +
                                    std::string(ZIP_CORPUS_PROBE) + "' '" + file + "' > '" + out +
                                    "' 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status)) << file;
        const int code = WEXITSTATUS(status);
        // 0 opened, 2 the engine's error, 3 a stream error; 124 is the time limit, 128 and
        // more a signal, 1 anything else thrown.
        EXPECT_TRUE(code == 0 || code == 2 || code == 3)
            << entry.path().filename() << " exit " << code << ": " << ziptest::ReadFile(out);
        opened += code == 0;
    }
    EXPECT_GT(files, 100);
    // Most of them are sound archives, or damaged in ways the reader tolerates.
    EXPECT_GT(opened, files / 2);
}
