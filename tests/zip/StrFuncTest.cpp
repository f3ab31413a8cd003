#include "zip/ZAStrFunc.h"

#include "platform/Drives.h"
#include "vcl/PathUtils.h"
#include "vcl/SysUtils.h"

#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using namespace zip;

// Runs a test with the current folder set to a fresh ".../work" and puts it back after.
class PathRules : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = vcl::GetCurrentDir();
        work_ = dir_ / "work";
        ASSERT_TRUE(vcl::CreateDir(work_));
        ASSERT_EQ(::chdir(work_.c_str()), 0);
        work_ = vcl::GetCurrentDir(); // as the system reports it (TMPDIR may be a link)
    }
    void TearDown() override { ASSERT_EQ(::chdir(saved_.c_str()), 0); }

    ziptest::TempDir dir_;
    std::string saved_;
    std::string work_;
};

struct StoredCase {
    const char* name;
    const char* fileName;
    const char* baseDir;
    TZAStorePathMode mode;
    const char* stored; // "@" stands for the current folder without its leading "/"
};

// Names the row in test output instead of dumping its bytes.
void PrintTo(const StoredCase& row, std::ostream* os) {
    *os << row.name;
}

const StoredCase storedCases[] = {
    {"NoPath", "/data/docs/a.txt", "/data", spNoPath, "a.txt"},
    {"RelativeBelowBase", "/data/docs/a.txt", "/data", spRelativePath, "docs/a.txt"},
    {"RelativeName", "docs/a.txt", "/data", spRelativePath, "docs/a.txt"},
    {"OutsideBaseKeepsFullPath", "/other/b.txt", "/data", spRelativePath, "other/b.txt"},
    {"FullPath", "/data/docs/a.txt", "/data", spFullPath, "data/docs/a.txt"},
    {"FullPathWithRoot", "/data/docs/a.txt", "/data", spFullPathWithDrive, "/data/docs/a.txt"},
    {"FolderLosesTrailingSlash", "/data/docs/", "/data", spFullPath, "data/docs"},
    {"NetworkPathKeepsShare", "//server/share/dir/f.txt", "/data", spFullPath, "share/dir/f.txt"},
    {"EmptyBaseIsCurrentFolder", "a.txt", "", spFullPath, "@/a.txt"},
    {"DotsFoldedAsText", "../x/./y.txt", "/data/sub", spFullPath, "data/x/y.txt"},
    {"DotsBackInsideBase", "docs/../a.txt", "/data", spRelativePath, "a.txt"},
    {"DotsLeavingBase", "../x/y.txt", "/data/sub", spRelativePath, "data/x/y.txt"},
    {"NoClimbAboveRoot", "/../../etc/passwd", "/data", spFullPath, "etc/passwd"},
    {"AbsoluteNameIgnoresBase", "/abs/f.txt", "/data", spRelativePath, "abs/f.txt"},
    {"BackslashIsASeparator", "/data/a\\b.txt", "/data", spRelativePath, "a/b.txt"},
    {"ColonIsAnOrdinaryCharacter", "/data/c:d.txt", "/data", spFullPath, "data/c:d.txt"},
    {"TrailingDotKept", "/data/name.", "/data", spRelativePath, "name."},
    {"RelativeBaseFromCurrentFolder", "f.txt", "sub", spFullPath, "@/sub/f.txt"},
};

class StoredName : public PathRules, public ::testing::WithParamInterface<StoredCase> {};

TEST_P(StoredName, ByMode) {
    const StoredCase& c = GetParam();
    std::string expected = c.stored;
    if (auto at = expected.find('@'); at != std::string::npos)
        expected.replace(at, 1, work_.substr(1));
    EXPECT_EQ(StoredFileName(c.fileName, c.baseDir, c.mode), expected);
    EXPECT_EQ(vcl::GetCurrentDir(), work_);
}

INSTANTIATE_TEST_SUITE_P(Rules, StoredName, ::testing::ValuesIn(storedCases),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(PathRules, BaseFolder) {
    EXPECT_EQ(BaseFolder("/data"), "/data/");
    EXPECT_EQ(BaseFolder("/data/"), "/data/");
    EXPECT_EQ(BaseFolder(""), work_ + "/");
}

TEST_F(PathRules, ResolvePathWithoutFileName) {
    ASSERT_TRUE(vcl::CreateDir(work_ + "/sub"));
    EXPECT_EQ(ResolvePath("", ""), work_);
    EXPECT_EQ(ResolvePath("sub", ""), work_ + "/sub");
    EXPECT_EQ(ResolvePath(work_ + "/sub/../sub/", ""), work_ + "/sub");
    EXPECT_EQ(ResolvePath("/no/such/folder", ""), "/no/such/folder");
    EXPECT_EQ(ResolvePath("nosuch", ""), "nosuch");
}

TEST_F(PathRules, ResolvePathJoinsAsText) {
    EXPECT_EQ(ResolvePath("/base", "f.txt"), "/base/f.txt");
    EXPECT_EQ(ResolvePath("/base/", "../f.txt"), "/f.txt");
    EXPECT_EQ(ResolvePath("/base", "/abs/f.txt"), "/abs/f.txt");
    EXPECT_EQ(ResolvePath("nosuch", "f.txt"), work_ + "/nosuch/f.txt");
    EXPECT_EQ(ResolvePath("", "f.txt"), work_ + "/f.txt");
}

TEST(DriveTests, NoFloppiesAndDeclaredRemovableFolders) {
    for (const char* path : {"a:/setup.zip", "B:", "/media/a.zip", "relative/a.zip", "//a:/x"})
        EXPECT_FALSE(IsFloppyDrive(path)) << path;

    ziptest::TempDir medium;
    EXPECT_FALSE(IsRemovableDrive("/proc/self"));
    platform::DeclareRemovableFolder(medium.Path());
    EXPECT_TRUE(IsRemovableDrive(medium / "not/yet/there.zip"));
    EXPECT_TRUE(IsRemovableDrive(medium.Path()));
    EXPECT_FALSE(IsRemovableDrive(medium.Path() + "-sibling/x"));
    platform::ClearRemovableFolders();
}

TEST(PathUtils, ExtractRelativePath) {
    EXPECT_EQ(vcl::ExtractRelativePath("/a/b/", "/a/b/c/d.txt"), "c/d.txt");
    EXPECT_EQ(vcl::ExtractRelativePath("/a/b/", "/a/x/d.txt"), "../x/d.txt");
    EXPECT_EQ(vcl::ExtractRelativePath("/a/b/", "//srv/share/d.txt"), "//srv/share/d.txt");
    EXPECT_EQ(vcl::ExtractFileDrive("//srv/share/d.txt"), "//srv/share");
    EXPECT_EQ(vcl::ExtractFileDrive("/srv/share"), "");
    EXPECT_EQ(vcl::FoldPath("/a/./b//c/../d/"), "/a/b/d/");
    EXPECT_EQ(vcl::FoldPath("//srv/share/../.."), "//srv");
    EXPECT_EQ(vcl::FoldPath("///a"), "/a");
}

} // namespace
