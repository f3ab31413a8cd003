// Extraction from archives opened the ordinary way, as the updater does it: every entry of
// archives made by the peer tools, over an installation folder that already holds them.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace zip;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

struct OpenedCase {
    const char* label;
    const char* command; // run in the source folder; writes ../a.zip
};

const OpenedCase openedCases[] = {
    {"InfoZip", "zip -q -r ../a.zip ."},
    {"SevenZip", "7zz a -tzip ../a.zip ."},
    {"Python", "/usr/bin/python3 -c \"import zipfile, os\n"
               "z = zipfile.ZipFile('../a.zip', 'w', zipfile.ZIP_DEFLATED)\n"
               "for root, dirs, files in os.walk('.'):\n"
               "    for n in dirs + files: z.write(os.path.join(root, n))\n\""},
};

struct Opened : ::testing::TestWithParam<OpenedCase> {
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);
    TempDir dir;
    vcl::TScriptedDialogs dialogs;
};

TEST_P(Opened, EveryEntryLandsOverTheInstalledFiles) {
    const std::string src = dir / "src", out = dir / "out";
    fs::create_directories(src + "/help");
    WriteFile(src + "/Kestrova.exe", ziptest::RandomBytes(400 * 1024, 3));
    WriteFile(src + "/help/Kestrova.chm", ziptest::CompressibleText(100 * 1024));
    ::chmod((src + "/Kestrova.exe").c_str(), 0755);
    ASSERT_TRUE(ziptest::Run("cd '" + src + "' && " + GetParam().command));
    // An older installation, its program executable.
    fs::create_directories(out + "/help");
    WriteFile(out + "/Kestrova.exe", "old program");
    WriteFile(out + "/help/Kestrova.chm", "old help");
    ::chmod((out + "/Kestrova.exe").c_str(), 0755);

    a->SetName("ZipArchiver1");
    a->SetFileName(dir / "a.zip");
    a->BaseDir = out;
    a->OpenArchive();
    a->ExtractFiles("*.*", zip::faAllEntries, "");
    a->CloseArchive();
    EXPECT_TRUE(dialogs->shown.empty());
    EXPECT_TRUE(ReadFile(out + "/Kestrova.exe") == ReadFile(src + "/Kestrova.exe"));
    EXPECT_TRUE(ReadFile(out + "/help/Kestrova.chm") == ReadFile(src + "/help/Kestrova.chm"));
    struct stat st {};
    ::stat((out + "/Kestrova.exe").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0111, 0111u);
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out))
        files += e.is_regular_file();
    EXPECT_EQ(files, 2u); // nothing left beside them
}

INSTANTIATE_TEST_SUITE_P(Tools, Opened, ::testing::ValuesIn(openedCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST(OpenedHostile, AnInfoZipArchiveWithClimbingNamesWritesNothingOutside) {
    vcl::TComponent owner{nullptr};
    TZipArchiver* a = vcl::Create<TZipArchiver>(&owner);
    TempDir dir;
    vcl::TScriptedDialogs dialogs;
    fs::create_directories(dir / "a/b");
    WriteFile(dir / "a/b/inside.txt", "in");
    WriteFile(dir / "a/escape.txt", "out");
    // Info-ZIP stores "../escape.txt" as given when run from the folder below.
    ASSERT_TRUE(
        ziptest::Run("cd '" + (dir / "a/b") + "' && zip -q ../../h.zip inside.txt ../escape.txt"));
    fs::remove(dir / "a/escape.txt");
    fs::create_directories(dir / "x/out");
    std::vector<std::int32_t> failures;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        failures.push_back(native);
        action = fxaIgnore;
    };
    a->SetFileName(dir / "h.zip");
    a->BaseDir = dir / "x/out";
    a->OpenArchive();
    a->ExtractFiles("*.*", zip::faAllEntries, "");
    a->CloseArchive();
    EXPECT_EQ(ReadFile(dir / "x/out/inside.txt"), "in");
    EXPECT_FALSE(fs::exists(dir / "x/escape.txt"));
    EXPECT_EQ(failures, std::vector<std::int32_t>{19});
}

} // namespace
