// Extraction to files: archives made by Info-ZIP zip, 7-Zip and Python's zipfile written out
// and compared byte for byte, dates and modes, the overwrite rules, folders, hostile names,
// and damaged data that must never replace a good file.
#include "CipherSupport.h"
#include "LoopSupport.h"
#include "vcl/Dialogs.h"
#include "zip/ZAExcept.h"
#include "zip/ZAFileDates.h"
#include "zip/ZAWriteBehind.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/time.h>

using namespace zip;
using ziptest::Exists;
using ziptest::ModeOf;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;
namespace fs = std::filesystem;

namespace {

struct Failure {
    std::string name;
    std::int32_t code;
};

struct Extract : ::testing::Test {
    vcl::TComponent owner{nullptr};
    ziptest::TLoopArchiver* a = vcl::Create<ziptest::TLoopArchiver>(&owner);
    TempDir dir;
    std::string src = dir / "src";
    std::string out = dir / "out";
    vcl::TScriptedDialogs dialogs;
    std::vector<Failure> failures;

    Extract() {
        a->SetName("ZipArchiver1");
        fs::create_directories(src);
        a->BaseDir = out;
        a->OnProcessFileFailure = [this](vcl::TObject*, const std::string& name,
                                         TZAProcessOperation, std::int32_t native, std::int32_t,
                                         const std::string&, TZAAction& action) {
            failures.push_back({name, native});
            action = fxaIgnore;
        };
    }

    void Tree() {
        WriteFile(src + "/text.txt", ziptest::CompressibleText(300 * 1024 + 5));
        WriteFile(src + "/noise.bin", ziptest::RandomBytes(200 * 1024 + 3, 7));
        WriteFile(src + "/empty.txt", "");
        fs::create_directories(src + "/sub/deep");
        fs::create_directories(src + "/emptyfolder");
        WriteFile(src + "/sub/deep/n.txt", "deep\n");
        WriteFile(src + "/sub/run.sh", "#!/bin/sh\necho hi\n");
        ::chmod((src + "/sub/run.sh").c_str(), 0755);
    }

    // Made again while the empty password, the archiver's first try, would pass a check byte.
    void Make(const std::string& command) {
        ziptest::MakeWithoutImpostors(
            [&] { EXPECT_TRUE(ziptest::Run("cd '" + src + "' && " + command)) << command; },
            dir / "a.zip", {""});
        a->Load(dir, dir / "a.zip");
    }

    void Python(const std::string& body, bool deflate = false) {
        ziptest::PythonZip(dir, dir / "a.zip", body, deflate);
        a->Load(dir, dir / "a.zip");
    }

    // Every file and folder of src is in out with the same bytes.
    void ExpectSameTree() {
        for (const auto& e : fs::recursive_directory_iterator(src)) {
            const std::string rel = fs::relative(e.path(), src).string();
            if (e.is_directory())
                EXPECT_TRUE(fs::is_directory(out + "/" + rel)) << rel;
            else
                EXPECT_TRUE(ReadFile(out + "/" + rel) == ReadFile(e.path().string())) << rel;
        }
    }

    // f.txt in the archive, dated 2020-06-15 12:00, and on disk offset seconds from that.
    void Existing(int offset) {
        Python("i = zipfile.ZipInfo('f.txt', (2020, 6, 15, 12, 0, 0)); z.writestr(i, 'new')");
        fs::create_directories(out);
        WriteFile(out + "/f.txt", "old");
        std::tm tm{};
        tm.tm_year = 120;
        tm.tm_mon = 5;
        tm.tm_mday = 15;
        tm.tm_hour = 12;
        tm.tm_isdst = -1;
        const std::time_t when = std::mktime(&tm) + offset;
        const timeval times[2] = {{when, 0}, {when, 0}};
        ::utimes((out + "/f.txt").c_str(), times);
    }

    std::vector<std::string> Listing(const std::string& folder) {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(folder))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
};

// ---- Archives from the peer tools -----------------------------------------------------------

struct ToolCase {
    const char* label;
    const char* command; // run in the source folder; writes ../a.zip
    const char* password;
};

const ToolCase toolCases[] = {
    {"InfoZip", "zip -q -r ../a.zip .", ""},
    {"InfoZipStored", "zip -q -r -0 ../a.zip .", ""},
    {"InfoZipEncrypted", "zip -q -r -P secret ../a.zip .", "secret"},
    {"SevenZip", "7zz a -tzip ../a.zip text.txt noise.bin empty.txt sub emptyfolder", ""},
    {"PythonDeflated",
     "/usr/bin/python3 -c \"import zipfile, os\n"
     "z = zipfile.ZipFile('../a.zip', 'w', zipfile.ZIP_DEFLATED)\n"
     "for root, dirs, files in os.walk('.'):\n"
     "    for n in dirs + files: z.write(os.path.join(root, n))\n\"",
     ""},
};

struct ToolArchives : Extract, ::testing::WithParamInterface<ToolCase> {};

TEST_P(ToolArchives, ExtractToTheSameBytesDatesAndModes) {
    const ToolCase& c = GetParam();
    Tree();
    int asked = 0;
    a->OnPassword = [&](vcl::TObject*, const std::string&, std::string& password, bool&) {
        ++asked;
        password = c.password;
    };
    Make(c.command);
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty()) << failures.front().name << " " << failures.front().code;
    ExpectSameTree();
    EXPECT_EQ(asked, *c.password ? 1 : 0); // the answer stays for the later entries
    EXPECT_EQ(a->ProcessedFileNo(), a->Directory().Count());
    for (std::int32_t i = 0; i < a->Directory().Count(); ++i) {
        const TDirItem& e = a->Entry(i);
        if (e.StoredName.back() == '/')
            continue;
        EXPECT_EQ(DosFileAge(out + "/" + e.StoredName.str()),
                  CombineDosDateTime(e.CentralHeader.Date, e.CentralHeader.Time))
            << e.StoredName;
    }
    // Entries made on Unix carry their permission bits.
    if ((a->Entry(0).CentralHeader.VersionMadeBy >> 8) == 3) {
        EXPECT_EQ(ModeOf(out + "/sub/run.sh"), 0755u);
    }
    EXPECT_EQ(Listing(out).size(), Listing(src).size()); // no temporary file left
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolArchives, ::testing::ValuesIn(toolCases),
                         [](const auto& p) { return std::string(p.param.label); });

// ---- Modes and attributes -------------------------------------------------------------------

TEST_F(Extract, UnixModesAreMaskedAndLinksStayFiles) {
    Python("def add(name, mode, data):\n"
           "    i = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8)); i.create_system = 3\n"
           "    i.external_attr = mode << 16; z.writestr(i, data)\n"
           "add('suid', 0o104755, 'x')\n"
           "add('private', 0o100600, 'y')\n"
           "add('link', 0o120777, '/etc/passwd')\n");
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ModeOf(out + "/suid"), 0755u);
    EXPECT_EQ(ModeOf(out + "/private"), 0600u);
    EXPECT_FALSE(fs::is_symlink(out + "/link"));
    EXPECT_EQ(ReadFile(out + "/link"), "/etc/passwd");
    EXPECT_EQ(ModeOf(out + "/link") & 0002u, 0u);
}

TEST_F(Extract, RestoredModesKeepToTheUmask) {
    Python("def add(name, mode):\n"
           "    i = zipfile.ZipInfo(name); i.create_system = 3\n"
           "    i.external_attr = mode << 16; z.writestr(i, name)\n"
           "for name, mode in [('0777', 0o100777), ('0666', 0o100666), ('01777', 0o101777),\n"
           "                   ('0755', 0o100755), ('0640', 0o100640)]: add(name, mode)\n");
    struct Case {
        mode_t umask;
        std::vector<std::pair<const char*, unsigned>> modes;
    };
    const Case cases[] = {
        {022, {{"0777", 0755}, {"0666", 0644}, {"01777", 0755}, {"0755", 0755}, {"0640", 0640}}},
        {077, {{"0777", 0700}, {"0666", 0600}, {"01777", 0700}, {"0755", 0700}, {"0640", 0600}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.umask);
        fs::remove_all(out);
        const mode_t previous = ::umask(c.umask);
        a->Run(poExtract);
        ::umask(previous);
        EXPECT_TRUE(failures.empty());
        for (const auto& [name, mode] : c.modes)
            EXPECT_EQ(ModeOf(out + "/" + name), mode) << name;
    }
}

TEST_F(Extract, AReplacedFileWithoutUnixModeKeepsItsPermissions) {
    Python("def add(name, attr):\n"
           "    i = zipfile.ZipInfo(name); i.create_system = 0; i.external_attr = attr\n"
           "    z.writestr(i, 'new')\n"
           "add('prog', 0x20)\n"
           "add('locked', 0x21)\n");
    fs::create_directories(out);
    WriteFile(out + "/prog", "old");
    WriteFile(out + "/locked", "old");
    ::chmod((out + "/prog").c_str(), 0755);
    ::chmod((out + "/locked").c_str(), 0755);
    a->Run(poExtract);
    EXPECT_EQ(ReadFile(out + "/prog"), "new");
    EXPECT_EQ(ModeOf(out + "/prog"), 0755u);
    EXPECT_EQ(ModeOf(out + "/locked"), 0555u); // the entry's read-only attribute
}

// ---- Overwrite rules ------------------------------------------------------------------------

struct OverwriteCase {
    const char* label;
    TZAOverwriteMode mode;
    int existingOffset; // seconds from the entry's date
    bool replaced;
};

const OverwriteCase overwriteCases[] = {
    {"AlwaysReplaces", omAlways, 0, true},
    {"NeverKeeps", omNever, 0, false},
    {"IfNewerReplacesAnOlderFile", omIfNewer, -3600, true},
    {"IfNewerKeepsAFileOfTheSameAge", omIfNewer, 0, false},
    {"IfNewerKeepsANewerFile", omIfNewer, 3600, false},
    {"IfOlderReplacesANewerFile", omIfOlder, 3600, true},
    {"IfOlderKeepsAFileOfTheSameAge", omIfOlder, 0, false},
    {"IfOlderKeepsAnOlderFile", omIfOlder, -3600, false},
};

struct Overwrite : Extract, ::testing::WithParamInterface<OverwriteCase> {};

TEST_P(Overwrite, ModeDecides) {
    const OverwriteCase& c = GetParam();
    Existing(c.existingOffset);
    a->Options().OverwriteMode = c.mode;
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ReadFile(out + "/f.txt"), c.replaced ? "new" : "old");
    EXPECT_EQ(a->ProcessedFileNo(), 1); // a skip counts as done
}

INSTANTIATE_TEST_SUITE_P(Modes, Overwrite, ::testing::ValuesIn(overwriteCases),
                         [](const auto& p) { return std::string(p.param.label); });

struct PromptCase {
    const char* label;
    const char* button;
    bool replaced;
    TZAOverwriteMode after;
};

const PromptCase promptCases[] = {
    {"Yes", "&Oui", true, omPrompt},
    {"No", "&Non", false, omPrompt},
    {"NoToAll", "Non &pour tout", false, omNever},
    {"YesToAll", "O&ui pour tout", true, omAlways},
};

struct Prompt : Extract, ::testing::WithParamInterface<PromptCase> {};

TEST_P(Prompt, TheAnswerDecides) {
    const PromptCase& c = GetParam();
    Existing(0);
    a->Options().OverwriteMode = omPrompt;
    dialogs->Press(c.button);
    a->Run(poExtract);
    ASSERT_EQ(dialogs->shown.size(), 1u);
    EXPECT_EQ(dialogs->shown[0].text, "Overwrite file \"" + out + "/f.txt\" with \"f.txt\"");
    EXPECT_EQ(ReadFile(out + "/f.txt"), c.replaced ? "new" : "old");
    EXPECT_EQ(a->Options().OverwriteMode, c.after);
}

INSTANTIATE_TEST_SUITE_P(Answers, Prompt, ::testing::ValuesIn(promptCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(Extract, APromptHandlerMayRenameTheTargetInsideTheBaseOnly) {
    Python("z.writestr('f.txt', 'new'); z.writestr('g.txt', 'new')");
    fs::create_directories(out);
    WriteFile(out + "/f.txt", "old");
    WriteFile(out + "/g.txt", "old");
    a->Options().OverwriteMode = omPrompt;
    a->OnConfirmOverwrite = [&](vcl::TObject*, const std::string& source, std::string& dest,
                                bool& confirm) {
        confirm = true;
        dest = source == "f.txt" ? out + "/renamed.txt" : dir / "escaped.txt";
    };
    a->Run(poExtract);
    EXPECT_EQ(ReadFile(out + "/renamed.txt"), "new");
    EXPECT_EQ(ReadFile(out + "/f.txt"), "old");
    EXPECT_FALSE(Exists(dir / "escaped.txt"));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].code, zeCannotCreateFile);
}

TEST_F(Extract, ReadOnlyTargets) {
    Python("z.writestr('f.txt', 'new')");
    fs::create_directories(out);
    WriteFile(out + "/f.txt", "old");
    ::chmod((out + "/f.txt").c_str(), 0444);
    a->Options().ReplaceReadOnly = false;
    a->Run(poExtract);
    EXPECT_EQ(ReadFile(out + "/f.txt"), "old");
    a->Options().ReplaceReadOnly = true;
    a->Run(poExtract);
    EXPECT_EQ(ReadFile(out + "/f.txt"), "new");
    EXPECT_TRUE(failures.empty());
}

// ---- Folders --------------------------------------------------------------------------------

TEST_F(Extract, FoldersAndTheBaseFolderAreCreated) {
    Python("z.writestr('top.txt', 't'); z.writestr('a/b/', ''); z.writestr('c/d.txt', 'd')\n"
           "i = zipfile.ZipInfo('noattr/'); z.writestr(i, '')");
    a->BaseDir = out + "/new/base";
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ReadFile(out + "/new/base/top.txt"), "t");
    EXPECT_TRUE(fs::is_directory(out + "/new/base/a/b"));
    EXPECT_EQ(ReadFile(out + "/new/base/c/d.txt"), "d");
    EXPECT_TRUE(fs::is_directory(out + "/new/base/noattr"));
}

TEST_F(Extract, ARelativeBaseFolderStandsBelowTheCurrentFolder) {
    Python("z.writestr('top.txt', 't'); z.writestr('c/d.txt', 'd')");
    const fs::path previous = fs::current_path();
    fs::current_path(dir.Path());
    a->BaseDir = "out/rel";
    a->Run(poExtract);
    fs::current_path(previous);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ReadFile(out + "/rel/top.txt"), "t");
    EXPECT_EQ(ReadFile(out + "/rel/c/d.txt"), "d");
}

TEST_F(Extract, WithoutCreateDirsEntriesLandInTheBaseFolder) {
    Python("z.writestr('a/b.txt', 'b'); z.writestr('x/', '')");
    a->Options().CreateDirs = false;
    a->Run(poExtract); // the base folder does not exist
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].code, zeCannotCreateFile);
    fs::create_directories(out);
    failures.clear();
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(Listing(out), std::vector<std::string>{"b.txt"});
}

TEST_F(Extract, AFolderThatCannotBeMadeRaises20) {
    Python("z.writestr('a/b.txt', 'b')");
    fs::create_directories(out);
    WriteFile(out + "/a", "a file where the folder should be");
    a->Run(poExtract);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].code, zeCannotCreateFolder);
}

// ---- Hostile names --------------------------------------------------------------------------

TEST_F(Extract, NamesLeadingOutOfTheBaseFolderAreRefusedAndOneLeadingSlashStaysInside) {
    const std::string outside = dir / "outside";
    fs::create_directories(outside);
    fs::create_directories(out + "/real");
    fs::create_symlink(outside, out + "/planted");
    fs::create_symlink(out + "/real", out + "/inner");
    const std::string absolute = "/etc/kestrova-hostile-" + std::to_string(::getpid());
    Python("for n in ['good.txt', '../x', 'a/../../x', '" + absolute +
           "', 'a\\\\..\\\\..\\\\x', '..\\\\x', 'c:/x', 'planted/x', 'planted/sub/x',\n"
           "          'a/../b.txt', 'inner/y', '\\\\\\\\server\\\\x']:\n"
           "    z.writestr(n, 'data')");
    a->Run(poExtract);

    std::vector<std::string> refused;
    for (const Failure& f : failures) {
        EXPECT_EQ(f.code, zeCannotCreateFile) << f.name;
        refused.push_back(f.name);
    }
    const std::vector<std::string> expected = {"../x", "a/../../x", "a/../../x",     "../x",
                                               "c:/x", "planted/x", "planted/sub/x", "//server/x"};
    EXPECT_EQ(refused, expected);
    EXPECT_EQ(ReadFile(out + "/good.txt"), "data");
    EXPECT_EQ(ReadFile(out + "/b.txt"), "data");
    EXPECT_EQ(ReadFile(out + "/real/y"), "data"); // a link that stays inside is followed
    EXPECT_TRUE(Listing(outside).empty());
    EXPECT_FALSE(Exists(dir / "x"));
    EXPECT_FALSE(Exists(absolute));
    // One leading "/" is no full path: the entry goes under the base folder.
    EXPECT_EQ(ReadFile(out + absolute), "data");
}

// A new file is created where it belongs without following anything; a link already standing
// at the file's own name is checked in full and never written through.
TEST_F(Extract, ALinkAtTheFilesOwnNameIsNeverWrittenThrough) {
    const std::string outside = dir / "outside";
    fs::create_directories(outside);
    fs::create_directories(out);
    WriteFile(outside + "/leak.txt", "secret");
    fs::create_symlink(outside + "/leak.txt", out + "/leak.txt");
    fs::create_symlink(outside + "/none.txt", out + "/dangling.txt");
    Python("for n in ['leak.txt', 'dangling.txt', 'fresh.txt']:\n    z.writestr(n, 'data')");
    a->Run(poExtract);
    std::vector<std::pair<std::string, std::int32_t>> failed;
    for (const Failure& f : failures)
        failed.emplace_back(f.name, f.code);
    const std::vector<std::pair<std::string, std::int32_t>> expected = {
        {"leak.txt", zeCannotCreateFile}, {"dangling.txt", zeCannotCreateFile}};
    EXPECT_EQ(failed, expected);
    EXPECT_EQ(ReadFile(outside + "/leak.txt"), "secret");
    EXPECT_EQ(Listing(outside), std::vector<std::string>{"leak.txt"});
    EXPECT_EQ(ReadFile(out + "/fresh.txt"), "data");
}

// Folders are checked once per run: what a run learnt about the disk does not carry over to
// the next, where a folder may have been removed or turned into a link leading out.
TEST_F(Extract, EachRunLooksAtTheFoldersAfresh) {
    const std::string outside = dir / "outside";
    fs::create_directories(outside);
    Python("for n in ['sub/deep/a.txt', 'sub/deep/b.txt', 'sub/c.txt']:\n"
           "    z.writestr(n, n)");
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ReadFile(out + "/sub/deep/b.txt"), "sub/deep/b.txt");

    fs::remove_all(out);
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ReadFile(out + "/sub/deep/a.txt"), "sub/deep/a.txt");

    fs::remove_all(out + "/sub");
    fs::create_symlink(outside, out + "/sub");
    a->Run(poExtract);
    EXPECT_EQ(failures.size(), 3u);
    EXPECT_TRUE(Listing(outside).empty());
}

// A new file whose extraction stops part-way is removed, not left under its name.
TEST_F(Extract, ANewFileCutShortIsRemoved) {
    WriteFile(src + "/big.txt", ziptest::CompressibleText(3 * 1024 * 1024));
    Make("zip -q ../a.zip big.txt");
    a->OnFileProgress = [](vcl::TObject*, const std::string&, double, TZAProcessOperation,
                           TZAProgressPhase phase, bool& cancel) {
        if (phase == ppProcess)
            cancel = true;
    };
    a->Run(poExtract);
    EXPECT_TRUE(a->ProgressCancel());
    ASSERT_TRUE(fs::is_directory(out));
    EXPECT_TRUE(Listing(out).empty());
}

TEST_F(Extract, AnExtractHandlersFullPathInsideTheBaseFolderIsAccepted) {
    Python("z.writestr('f.txt', 'f'); z.writestr('g.txt', 'g'); z.writestr('h.txt', 'h')");
    fs::create_directories(dir / "elsewhere");
    a->OnExtractFile = [&](vcl::TObject*, std::string& name, std::uint32_t&, const std::string&) {
        if (name == "f.txt")
            name = out + "/sub/renamed.txt";
        else if (name == "g.txt")
            name = dir / "elsewhere/g.txt";
    };
    a->Run(poExtract);
    EXPECT_EQ(ReadFile(out + "/sub/renamed.txt"), "f");
    EXPECT_FALSE(Exists(dir / "elsewhere/g.txt"));
    EXPECT_EQ(ReadFile(out + "/h.txt"), "h");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].name, "g.txt");
    EXPECT_EQ(failures[0].code, zeCannotCreateFile);
}

// ---- Hostile layouts ------------------------------------------------------------------------

// Archives written byte by byte: local headers, central headers with the fields a case
// overrides, and the end record. The body writes the file named sys.argv[1].
const char* const CraftPrelude = R"(import struct, sys, zlib
def local(name, data, method=0, comp=None):
    comp = data if comp is None else comp
    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, method, 0, 0x21, zlib.crc32(data),
                       len(comp), len(data), len(name), 0) + name + comp
def central(name, data, offset, method=0, csize=None, comp=None, extra=b''):
    comp = data if comp is None else comp
    csize = len(comp) if csize is None else csize
    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, method, 0, 0x21,
                       zlib.crc32(data), csize, len(data), len(name), len(extra), 0, 0, 0, 0x20,
                       offset) + name + extra
def archive(locals_, centrals):
    body = b''.join(locals_)
    cd = b''.join(centrals)
    return body + cd + struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, len(centrals), len(centrals),
                                   len(cd), len(body), 0)
def deflate(d):
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    return c.compress(d) + c.flush()
a, b, c = b'a' * 1000, b'b' * 1000, b'c' * 1000
A, B, C = local(b'a.txt', a), local(b'b.txt', b), local(b'c.txt', c)
out = open(sys.argv[1], 'wb')
)";

struct LayoutCase {
    const char* what;
    const char* body;
    // Entries that fail, with their native error (0: the stream's read error); the others
    // are extracted whole.
    std::vector<std::pair<std::string, std::int32_t>> failing;
    std::vector<std::string> extracted;
};

TEST_F(Extract, HostileLayoutsFailEntryByEntryAndTheOutputStaysBounded) {
    const LayoutCase cases[] = {
        {"a hundred entries sharing one megabyte of deflated data",
         "z = bytes(1048576); d = deflate(z)\n"
         "out.write(archive([local(b'e', z, 8, d)],\n"
         "    [central(b'e%03d' % i, z, 0, 8, comp=d) for i in range(100)]))",
         [] {
             std::vector<std::pair<std::string, std::int32_t>> all;
             for (int i = 0; i < 100; ++i)
                 all.emplace_back("e" + std::string(i < 10 ? "00" : "0") + std::to_string(i), 8);
             return all;
         }(),
         {}},
        {"data that cover the next entry",
         "out.write(archive([A, B], [central(b'a.txt', a, 0, csize=len(A) + len(B) - 35),\n"
         "    central(b'b.txt', b, len(A))]))",
         {{"a.txt", 8}},
         {"b.txt"}},
        {"data that run into the directory",
         "out.write(archive([A, B], [central(b'a.txt', a, 0),\n"
         "    central(b'b.txt', b, len(A), csize=1020)]))",
         {{"b.txt", 8}},
         {"a.txt"}},
        {"a local header past the end of the file",
         "out.write(archive([A, B, C], [central(b'a.txt', a, 0), central(b'b.txt', b, 10**6),\n"
         "    central(b'c.txt', c, len(A) + len(B))]))",
         {{"b.txt", 0}},
         {"a.txt", "c.txt"}},
        {"Zip64 offsets of 2^63 and 2^64 - 1",
         "out.write(archive([A, C], [central(b'a.txt', a, 0),\n"
         "    central(b'b.txt', b, 0xFFFFFFFF, extra=struct.pack('<HHQ', 1, 8, 1 << 63)),\n"
         "    central(b'd.txt', b, 0xFFFFFFFF, extra=struct.pack('<HHQ', 1, 8, (1 << 64) - 1)),\n"
         "    central(b'c.txt', c, len(A))]))",
         {{"b.txt", 0}, {"d.txt", 0}},
         {"a.txt", "c.txt"}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out);
        failures.clear();
        WriteFile(dir / "craft.py", std::string(CraftPrelude) + c.body + "\n");
        ASSERT_TRUE(ziptest::Run("/usr/bin/python3 " + dir / "craft.py" + " " + dir / "h.zip"));
        a->SetFileName(dir / "h.zip");
        a->OpenArchive(32);
        a->Run(poExtract);
        std::vector<std::pair<std::string, std::int32_t>> failed;
        for (const Failure& f : failures)
            failed.emplace_back(f.name, f.code);
        EXPECT_EQ(failed, c.failing);
        std::vector<std::string> written;
        if (fs::is_directory(out))
            written = Listing(out);
        EXPECT_EQ(written, c.extracted);
        for (const std::string& name : c.extracted)
            EXPECT_EQ(ReadFile(out + "/" + name), std::string(1000, name[0])) << name;
        a->CloseArchive();
    }
}

// ---- Large files -----------------------------------------------------------------------------

// A file past a few megabytes is written from a thread of its own while it is decoded: what it
// writes, and a write that fails there, must come out as for any other file. The failing
// write comes from a file size limit, which fails the writes past it (EFBIG) in this process.
TEST_F(Extract, LargeFilesReadBackAndAWriteThatFailsLeavesNothing) {
    struct Case {
        const char* what;
        int bytes;
        const char* level;
    };
    for (const Case c :
         {Case{"3 MiB deflated", 3 << 20, "-6"}, Case{"9 MiB deflated", 9 << 20, "-6"},
          Case{"9 MiB stored", 9 << 20, "-0"}}) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out);
        failures.clear();
        WriteFile(src + "/big.txt", ziptest::CompressibleText(static_cast<std::size_t>(c.bytes)));
        fs::remove(dir / "a.zip");
        Make(std::string("zip -q ") + c.level + " ../a.zip big.txt");
        a->Run(poExtract);
        EXPECT_TRUE(failures.empty());
        EXPECT_TRUE(ReadFile(out + "/big.txt") == ReadFile(src + "/big.txt"));
        EXPECT_EQ(DosFileAge(out + "/big.txt"), CombineDosDateTime(a->Entry(0).CentralHeader.Date,
                                                                   a->Entry(0).CentralHeader.Time));

        // Over a file already there, which must stay as it was, whether the write fails early
        // or in the last block.
        for (const rlim_t allowed : {rlim_t{(1 << 20) + 17}, static_cast<rlim_t>(c.bytes - 100)}) {
            SCOPED_TRACE(allowed);
            failures.clear();
            WriteFile(out + "/big.txt", "old");
            rlimit saved{};
            ::getrlimit(RLIMIT_FSIZE, &saved);
            const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = saved;
            limit.rlim_cur = allowed;
            ::setrlimit(RLIMIT_FSIZE, &limit);
            a->Run(poExtract);
            ::setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, ignored);
            ASSERT_EQ(failures.size(), 1u);
            EXPECT_EQ(failures[0].code, zeBadEntryData);
            EXPECT_EQ(ReadFile(out + "/big.txt"), "old");
            EXPECT_EQ(Listing(out), std::vector<std::string>{"big.txt"});
        }
    }
}

// A target stream that raises, which on the writer's thread would end the process, fails the
// write as a short one does.
TEST(WriteBehind, ATargetThatRaisesFailsTheWrite) {
    struct Raising : vcl::TMemoryStream {
        std::int64_t Write(const void*, std::int64_t) override { throw vcl::EWriteError(); }
    } target;
    TZAWriteBehind behind(target);
    const std::string block(3 << 20, 'x');
    behind.Write(block.data(), static_cast<std::int64_t>(block.size()));
    EXPECT_FALSE(behind.Finish());
    EXPECT_EQ(behind.Write(block.data(), 1), 0);
}

// ---- Damaged data ---------------------------------------------------------------------------

struct Damaged : Extract {
    void Corrupt() {
        Python("z.writestr('f.txt', 'hello, this is the entry data')");
        std::string bytes = ReadFile(dir / "a.zip");
        const auto at = bytes.find("entry data");
        ASSERT_NE(at, std::string::npos);
        bytes[at] = 'E';
        WriteFile(dir / "a.zip", bytes);
        a->Load(dir, dir / "a.zip");
    }
};

TEST_F(Damaged, ABadCrcLeavesNoFileAndKeepsTheOldOne) {
    Corrupt();
    a->Run(poExtract);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].code, zeBadEntryData);
    EXPECT_TRUE(Listing(out).empty());

    WriteFile(out + "/f.txt", "old");
    failures.clear();
    a->Run(poExtract);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(ReadFile(out + "/f.txt"), "old");
    EXPECT_EQ(Listing(out), std::vector<std::string>{"f.txt"});
}

TEST_F(Damaged, RetryRunsTheEntryAgain) {
    Corrupt();
    int confirms = 0;
    a->OnConfirmProcessFile = [&](vcl::TObject*, const std::string&, TZAProcessOperation, bool&) {
        ++confirms;
    };
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t native, std::int32_t, const std::string&,
                                  TZAAction& action) {
        failures.push_back({"", native});
        action = failures.size() == 1 ? fxaRetry : fxaIgnore;
    };
    a->Run(poExtract);
    EXPECT_EQ(confirms, 2);
    EXPECT_EQ(failures.size(), 2u);
    EXPECT_EQ(a->ProcessedFileNo(), 0);
    EXPECT_FALSE(Exists(out + "/f.txt"));
}

TEST_F(Damaged, ExtractCorruptedFilesKeepsTheDataAsWritten) {
    Corrupt();
    a->ExtractCorruptedFiles = true;
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(ReadFile(out + "/f.txt"), "hello, this is the Entry data");
}

// A large file, written from a thread of its own, is cancelled with part of it written.
TEST_F(Extract, CancelDuringTheDataDeletesTheNewFileAndKeepsTheOld) {
    struct Case {
        std::size_t bytes;
        const char* level;
        int step; // the data step that cancels: one per megabyte read
    };
    for (const Case c :
         {Case{std::size_t{3} << 20, "-6", 1}, Case{std::size_t{9} << 20, "-0", 3}}) {
        SCOPED_TRACE(c.bytes);
        WriteFile(src + "/big.txt", ziptest::CompressibleText(c.bytes));
        fs::remove(dir / "a.zip");
        Make(std::string("zip -q ") + c.level + " ../a.zip big.txt");
        fs::create_directories(out);
        WriteFile(out + "/big.txt", "old");
        int steps = 0;
        a->OnFileProgress = [&](vcl::TObject*, const std::string&, double, TZAProcessOperation,
                                TZAProgressPhase phase, bool& cancel) {
            if (phase == ppProcess && ++steps == c.step)
                cancel = true;
        };
        a->Run(poExtract);
        EXPECT_TRUE(failures.empty());
        EXPECT_TRUE(a->ProgressCancel());
        EXPECT_TRUE(ReadFile(out + "/big.txt") == "old");
        EXPECT_EQ(Listing(out), std::vector<std::string>{"big.txt"});
    }
}

TEST_F(Extract, ADeclinedPasswordSkipsTheEntryWithoutError) {
    WriteFile(src + "/s.txt", "secret data");
    Make("zip -q -P pw ../a.zip s.txt");
    a->OnPassword = [](vcl::TObject*, const std::string&, std::string&, bool& skip) {
        skip = true;
    };
    a->Run(poExtract);
    EXPECT_TRUE(failures.empty());
    EXPECT_FALSE(Exists(out + "/s.txt"));
    EXPECT_EQ(a->ProcessedFileNo(), 1);
}

TEST_F(Extract, ExtractItemToStreamChecksItsIndex) {
    Python("z.writestr('f.txt', 'x')");
    vcl::TMemoryStream m;
    try {
        a->ExtractItemToStream(1, m);
        FAIL();
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), zeExtractIndex);
    }
    a->ExtractItemToStream(0, m);
    EXPECT_EQ(m.Size(), 1);
}

} // namespace
