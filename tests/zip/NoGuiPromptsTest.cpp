// A program without windows: this test program makes no Qt application and links no Qt. Each
// default prompt gives the answer of a dialog closed without a button, and nothing aborts.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "vcl/Dialogs.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using namespace zip;
using ziptest::ReadFile;
using ziptest::WriteFile;

namespace {

struct NoGuiPrompts : ::testing::Test {
    vcl::TComponent owner{nullptr};
    ziptest::TTestArchiver* a = vcl::Create<ziptest::TTestArchiver>(&owner);
    ziptest::TempDir dir;
};

TEST_F(NoGuiPrompts, EveryDefaultPromptAnswersAsClosed) {
    struct Case {
        const char* label;
        // Runs the dispatcher and says whether it gave the closed answer.
        std::function<bool(ziptest::TTestArchiver&)> closed;
    };
    const Case cases[] = {
        {"overwrite: not confirmed, mode kept",
         [](ziptest::TTestArchiver& z) {
             z.Options().OverwriteMode = omPrompt;
             std::string dest = "/x/f.txt";
             bool confirm = true;
             z.DoConfirmOverwrite("f.txt", dest, confirm);
             return !confirm && z.Options().OverwriteMode == omPrompt;
         }},
        {"password: entry skipped, password kept",
         [](ziptest::TTestArchiver& z) {
             std::string password = "old";
             bool skip = false;
             z.DoPassword("s.txt", password, skip);
             return skip && password == "old";
         }},
        {"processing failure: abort",
         [](ziptest::TTestArchiver& z) {
             TZAAction action = fxaIgnore;
             z.DoProcessFileFailure("f", poExtract, 8, 4, "boom", action);
             return action == fxaAbort;
         }},
        {"blank disk: cancelled",
         [](ziptest::TTestArchiver& z) {
             std::string name = "a.zip";
             bool cancel = false;
             z.DoRequestBlankVolume(1, name, cancel);
             return cancel;
         }},
        {"first disk: cancelled",
         [](ziptest::TTestArchiver& z) {
             std::string name = "a.zip";
             bool cancel = false;
             z.DoRequestFirstVolume(name, cancel);
             return cancel;
         }},
        {"last disk: cancelled, asked once",
         [](ziptest::TTestArchiver& z) {
             std::string name = "a.zip";
             bool cancel = false;
             z.DoRequestLastVolume(name, cancel);
             return cancel;
         }},
        {"middle disk: cancelled",
         [](ziptest::TTestArchiver& z) {
             std::string name = "a.zip";
             bool cancel = false;
             z.DoRequestMiddleVolume(2, name, cancel);
             return cancel;
         }},
        {"disk full: cancelled",
         [](ziptest::TTestArchiver& z) {
             bool cancel = false;
             z.DoDiskFull(0, "/tmp/a.zip", cancel);
             return cancel;
         }},
    };
    // Removable disks: the volume requests ask the user instead of looking for files.
    a->SetSpanningMode(smSpanning);
    for (const auto& c : cases)
        EXPECT_TRUE(c.closed(*a)) << c.label;
}

// Through the whole engine: an encrypted entry and an existing file, no handler assigned.
TEST_F(NoGuiPrompts, ExtractionGoesOnWithTheClosedAnswers) {
    const std::string src = dir / "src", out = dir / "out";
    std::filesystem::create_directories(src);
    std::filesystem::create_directories(out);
    WriteFile(src + "/s.txt", "secret data");
    WriteFile(src + "/kept.txt", "new");
    ASSERT_TRUE(ziptest::Run("cd '" + src +
                             "' && zip -q -P pw ../enc.zip s.txt && zip -q ../plain.zip kept.txt"));
    WriteFile(out + "/kept.txt", "old");
    a->BaseDir = out;
    a->Options().OverwriteMode = omPrompt;
    for (const char* archive : {"enc.zip", "plain.zip"}) {
        a->SetFileName(dir / archive);
        a->OpenArchive();
        a->ExtractFiles("*.*", zip::faAllEntries, "");
        a->CloseArchive();
    }
    EXPECT_FALSE(std::filesystem::exists(out + "/s.txt"));
    EXPECT_EQ(ReadFile(out + "/kept.txt"), "old");
}

} // namespace
