#include "platform/Profile.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <set>

using namespace testsupport;
using platform::GetPrivateProfileKeyNames;
using platform::GetPrivateProfileString;
using platform::ProfileFile;
using platform::WritePrivateProfileString;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    std::string Read(std::string_view section, std::string_view key,
                     std::string_view fallback = "?") {
        return GetPrivateProfileString(section, key, fallback, 2048, file);
    }
    void Write(std::string_view section, std::optional<std::string_view> key,
               std::optional<std::string_view> value) {
        ASSERT_TRUE(WritePrivateProfileString(section, key, value, file));
    }
    TempDir dir;
    std::string file = dir / "p.ini";
};

TEST_F(ProfileTest, WritesReplaceInPlaceAppendKeysAndSections) {
    WriteFile(file, "; comment kept\n[A]\nx=1\ny=2\n\n[B]\nz=3\n");
    Write("a", "X", "one"); // names match without regard to case; the stored spelling stays
    Write("A", "new", "4"); // a new key goes to the end of its section, before the blank line
    Write("C", "k", "v");   // a new section goes to the end of the file
    EXPECT_EQ(ReadFile(file), "; comment kept\n[A]\nx=one\ny=2\nnew=4\n\n[B]\nz=3\n[C]\nk=v\n");
}

TEST_F(ProfileTest, ErasingRemovesASectionOrAKey) {
    WriteFile(file, "[A]\nx=1\n[B]\ny=2\nw=3\n[C]\nz=3\n");
    Write("b", std::nullopt, std::nullopt);
    Write("C", "Z", std::nullopt);
    EXPECT_EQ(ReadFile(file), "[A]\nx=1\n[C]\n");
    Write("missing", std::nullopt, std::nullopt); // nothing to erase is no failure
}

TEST_F(ProfileTest, ReadsFollowTheProfileRules) {
    WriteFile(file, "[Sect]\r\n  Key = spaced value  \r\nq=\"quoted\"\r\nempty=\r\nnoequals\r\n"
                    "[Sect2]\nKey=other\n");
    struct Case {
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {
        {"SECT", "key", "spaced value"}, {"Sect", "q", "quoted"}, {"Sect", "empty", ""},
        {"Sect", "noequals", ""},        {"Sect", "absent", "?"}, {"Nope", "Key", "?"},
        {"Sect2", "key", "other"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Read(c.section, c.key), c.expected) << c.section << "/" << c.key;
    EXPECT_EQ(GetPrivateProfileString("A", "b", "dflt", 2048, dir / "no-such.ini"), "dflt");
}

TEST_F(ProfileTest, ValuesWithBlankOrQuotedEdgesReadBackAsWritten) {
    for (std::string value : {" lead", "trail ", "\"both\"", "'single'", "\"", "mid dle", ""}) {
        Write("S", "k", value);
        EXPECT_EQ(Read("S", "k"), value);
    }
}

TEST_F(ProfileTest, ReadsAreCutToTheBuffer) {
    Write("S", "long", std::string(3000, 'a'));
    EXPECT_EQ(Read("S", "long").size(), 2047u);
    EXPECT_EQ(GetPrivateProfileString("S", "none", "abcdef", 4, file), "abc");
    Write("S", "utf8", std::string(2046, 'a') + "é"); // never cut inside a character
    EXPECT_EQ(Read("S", "utf8"), std::string(2046, 'a'));
}

TEST_F(ProfileTest, KeyNamesAreListedAsTheyFitTheBuffer) {
    WriteFile(file, "[S]\nalpha=1\nbeta=2\ngamma=3\n[T]\nx=1\n");
    EXPECT_EQ(GetPrivateProfileKeyNames("s", 16384, file),
              (std::vector<std::string>{"alpha", "beta", "gamma"}));
    // "alpha\0beta\0" fills 11 bytes; with the closing NUL a 14-byte buffer has 2 left for "g".
    EXPECT_EQ(GetPrivateProfileKeyNames("S", 14, file),
              (std::vector<std::string>{"alpha", "beta", "g"}));
    EXPECT_TRUE(GetPrivateProfileKeyNames("none", 16384, file).empty());
}

TEST_F(ProfileTest, FilesAreOwnerOnlyAndReplacedWhole) {
    Write("S", "k", "v");
    EXPECT_EQ(Mode(file), 0600u);
    ::chmod(file.c_str(), 0644);
    Write("S", "k", "w");
    EXPECT_EQ(Mode(file), 0600u);
    {
        FileSizeLimit limit(8);
        EXPECT_FALSE(WritePrivateProfileString("S", "k", "a much longer value", file));
    }
    EXPECT_EQ(ReadFile(file), "[S]\nk=w\n");
    EXPECT_FALSE(WritePrivateProfileString("S", "k", "v", dir / "missing-folder/p.ini"));
}

TEST_F(ProfileTest, AProfileInMemoryReplacesTheFileOnceForAllItsChanges) {
    WriteFile(file, "[A]\nx=1\n[Gone]\nk=v\n");
    ProfileFile profile(file);
    ASSERT_TRUE(profile.WriteString("a", "X", "2"));
    ASSERT_TRUE(profile.WriteString("B", "y", "3"));
    ASSERT_TRUE(profile.WriteString("gone", std::nullopt, std::nullopt));
    EXPECT_EQ(profile.GetString("A", "x", "?", 2048), "2"); // reads see the changes
    EXPECT_EQ(profile.KeyNames("B", 16384), std::vector<std::string>{"y"});
    EXPECT_EQ(profile.SectionNames(), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(ReadFile(file), "[A]\nx=1\n[Gone]\nk=v\n") << "nothing is written before Save";

    std::string before = ReadFile(file);
    {
        FileSizeLimit limit(8); // the new contents cannot be written whole
        EXPECT_FALSE(profile.Save());
    }
    EXPECT_EQ(ReadFile(file), before);
    ASSERT_TRUE(profile.Save());
    EXPECT_EQ(ReadFile(file), "[A]\nx=2\n[B]\ny=3\n");
    EXPECT_EQ(Mode(file), 0600u);
    EXPECT_FALSE(ProfileFile(file).WriteString("", "k", "v")) << "a section needs a name";
}

TEST_F(ProfileTest, CopiesThatACrashLeftBehindGoWithTheNextWrite) {
    WriteFile(file, "[S]\nk=old\n");
    struct Case {
        const char* name;
        bool removed;
    } cases[] = {
        {"p.ini.Ab3dEf", true},   // a copy as mkstemp names it
        {"p.ini.QWERTY", true},   // capitals only
        {"p.ini.backup", false},  // a word: the user's own copy
        {"p.ini.Ab3dE", false},   // too short
        {"p.ini.Ab3dEf1", false}, // too long
        {"p.ini.Ab-dEf", false},  // not mkstemp's characters
        {"q.ini.Ab3dEf", false},  // another file's
        {"p.ini.Zz9zz9/", false}, // a folder
    };
    for (const Case& c : cases) {
        std::string path = dir / c.name;
        if (path.back() == '/')
            std::filesystem::create_directory(path);
        else
            WriteFile(path, "[S]\nk=password\n");
    }
    Write("S", "k", "new");
    EXPECT_EQ(Read("S", "k"), "new");
    for (const Case& c : cases)
        EXPECT_EQ(Exists(dir / c.name), !c.removed) << c.name;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names.size(), 1 + 6u) << "the write left no copy of its own";
}

} // namespace
