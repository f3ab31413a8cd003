// Opening real archives: made here by Info-ZIP zip, 7-Zip and Python's zipfile, read by the
// engine, and the engine's directory compared with Python's listing of the same file. Then
// damaged archives rebuilt from their local headers, and self-extractor prefixes.
#include "ArchiverAccess.h"
#include "ZipTestSupport.h"

#include "zip/ZAExcept.h"
#include "zip/ZARecords.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <vector>

using namespace zip;
using ziptest::TempDir;

namespace {

// One entry as both sides see it.
struct Listed {
    std::string name;
    std::int64_t packed = 0;
    std::int64_t unpacked = 0;
    std::uint32_t crc = 0;
    std::int64_t offset = 0;
    std::uint16_t flags = 0;

    bool operator==(const Listed&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Listed& e) {
    return out << e.name << " packed=" << e.packed << " unpacked=" << e.unpacked << " crc=" << e.crc
               << " offset=" << e.offset << " flags=" << e.flags;
}

// Python's zipfile listing: names, sizes, CRCs, local-header offsets (corrected for data in
// front of the archive, as zipfile does) and flags.
std::vector<Listed> PythonListing(const TempDir& dir, const std::string& archive) {
    const std::string script = dir / "list.py";
    ziptest::WriteFile(script, "import sys, zipfile\n"
                               "with zipfile.ZipFile(sys.argv[1]) as z, "
                               "open(sys.argv[2], 'w', encoding='utf-8') as out:\n"
                               "    for i in z.infolist():\n"
                               "        out.write('%s\\t%d\\t%d\\t%d\\t%d\\t%d\\n' % (i.filename, "
                               "i.compress_size, i.file_size, i.CRC, i.header_offset, "
                               "i.flag_bits))\n");
    const std::string out = dir / "listing.txt";
    EXPECT_TRUE(ziptest::Run("/usr/bin/python3 " + script + " '" + archive + "' " + out));
    std::vector<Listed> listed;
    std::istringstream lines(ziptest::ReadFile(out));
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        Listed e;
        std::getline(fields, e.name, '\t');
        fields >> e.packed >> e.unpacked >> e.crc >> e.offset >> e.flags;
        listed.push_back(e);
    }
    return listed;
}

std::vector<Listed> EngineListing(zip::TZipArchiver& a) {
    std::vector<Listed> listed;
    TZADirArray& dir = ziptest::Dir(a).Directory;
    for (std::int32_t i = 0; i < dir.Count(); ++i) {
        const TDirItem& d = dir.ItemPtr(i);
        const TZACentralHeader& h = d.CentralHeader;
        Listed e;
        e.name = d.StoredName;
        e.packed = static_cast<std::int64_t>(d.CompressedSize);
        e.unpacked = static_cast<std::int64_t>(d.UncompressedSize);
        e.crc = h.Crc32;
        e.offset = static_cast<std::int64_t>(d.LocalHeaderOffset);
        e.flags = h.Flags;
        listed.push_back(e);
    }
    return listed;
}

// Every name FindFirst/FindNext list for a mask, folder and name joined.
std::vector<std::string> Found(zip::TZipArchiver& a, const std::string& mask,
                               std::int32_t attr = zip::faAllEntries) {
    std::vector<std::string> names;
    TZAArchiveItem item;
    for (bool ok = a.FindFirst(mask, item, attr, ""); ok; ok = a.FindNext(item))
        names.push_back(item.Folder + item.FileName);
    return names;
}

std::int32_t OpenError(zip::TZipArchiver& a, std::uint16_t mode = 32) {
    try {
        a.OpenArchive(mode);
    } catch (const EZAException& e) {
        return e.NativeError();
    }
    return 0;
}

class DirRead : public ::testing::Test {
protected:
    void SetUp() override {
        a = std::make_unique<zip::TZipArchiver>(nullptr);
        a->SetName("ZipArchiver1");
        std::filesystem::create_directories(dir / "src/sub");
        ziptest::WriteFile(dir / "src/a.txt", ziptest::CompressibleText(5000));
        ziptest::WriteFile(dir / "src/b.bin", ziptest::RandomBytes(3000, 1));
        ziptest::WriteFile(dir / "src/sub/c.txt", "third entry\n");
        ziptest::WriteFile(dir / "src/empty", "");
    }

    // The engine's directory equals Python's listing of the same file.
    void ExpectSameAsPython(const std::string& archive) {
        a->SetFileName(archive);
        a->OpenArchive(32);
        ASSERT_TRUE(a->Active());
        std::vector<Listed> expected = PythonListing(dir, archive);
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(EngineListing(*a), expected);
    }

    TempDir dir;
    std::unique_ptr<zip::TZipArchiver> a;
};

} // namespace

TEST_F(DirRead, ArchivesOfThePeerToolsReadAsPythonListsThem) {
    struct Case {
        const char* what;
        std::string command; // run in dir/src, writes ../out.zip
    } cases[] = {
        {"Info-ZIP plain", "zip -q -r ../out.zip ."},
        {"Info-ZIP stored", "zip -q -0 -r ../out.zip ."},
        {"Info-ZIP with an archive comment",
         "zip -q -r ../out.zip . && echo 'an archive comment' | zip -q -z ../out.zip"},
        {"Info-ZIP Zip64 forced", "zip -q -fz -r ../out.zip ."},
        {"Info-ZIP encrypted", "zip -q -P secret -r ../out.zip ."},
        {"Info-ZIP from a pipe (data descriptors)", "cat a.txt | zip -q ../out.zip -"},
        {"7-Zip", "7zz a -tzip ../out.zip . -bso0 -bsp0"},
        {"7-Zip encrypted", "7zz a -tzip -psecret -mem=ZipCrypto ../out.zip . -bso0 -bsp0"},
        {"Python zipfile",
         "/usr/bin/python3 -c \"import zipfile; z=zipfile.ZipFile('../out.zip','w',"
         "zipfile.ZIP_DEFLATED); z.write('a.txt'); z.write('sub/c.txt'); "
         "z.writestr('dir/', ''); z.close()\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir / "out.zip");
        ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && " + c.command));
        ExpectSameAsPython(dir / "out.zip");
        EXPECT_EQ(a->SpanningMode(), smNone);
        EXPECT_EQ(ziptest::Dir(*a).PrefixSize, 0);
        a->CloseArchive();
    }
}

TEST_F(DirRead, CommentAndFindListsEveryEntry) {
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" +
                             " && zip -q -r ../out.zip . && echo 'hello' | zip -q -z "
                             "../out.zip"));
    int opened = 0;
    a->AfterOpen = [&](vcl::TObject*) { ++opened; };
    a->SetFileName(dir / "out.zip");
    a->OpenArchive(32);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(ziptest::Dir(*a).ArcComment, "hello");
    std::vector<std::string> all = Found(*a, "*.*");
    std::vector<std::string> expected;
    for (std::int32_t i = 0; i < ziptest::Dir(*a).Directory.Count(); ++i) {
        std::string n = ziptest::Dir(*a).Directory.ItemPtr(i).StoredName.str();
        if (!n.empty() && n.back() == '/')
            n.pop_back();
        expected.push_back(n);
    }
    EXPECT_EQ(all, expected);
    std::vector<std::string> texts = Found(*a, "*.TXT");
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"a.txt", "sub/c.txt"}));
    EXPECT_EQ(Found(*a, "c.txt"), (std::vector<std::string>{"sub/c.txt"}));
    EXPECT_EQ(Found(*a, "sub/*"), (std::vector<std::string>{"sub/c.txt"}));
    // Folders pass only when the attribute mask asks for them.
    std::vector<std::string> noFolders = Found(*a, "*", 0x20);
    EXPECT_EQ(std::count(noFolders.begin(), noFolders.end(), "sub"), 0);
    EXPECT_EQ(std::count(all.begin(), all.end(), "sub"), 1);
    a->Options().Recurse = false;
    EXPECT_EQ(Found(*a, "*.txt"), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(Found(*a, "SUB/*.txt"), (std::vector<std::string>{"sub/c.txt"}));
}

TEST_F(DirRead, PythonZip64WithMoreThan65535Entries) {
    const std::string archive = dir / "many.zip";
    ASSERT_TRUE(
        ziptest::Run("/usr/bin/python3 -c \"import zipfile\nwith zipfile.ZipFile('" + archive +
                     "','w') as z:\n    for i in range(70000): z.writestr('e%05d' % i, '')\""));
    ExpectSameAsPython(archive);
    EXPECT_TRUE(ziptest::Dir(*a).IsZip64);
    EXPECT_EQ(ziptest::Dir(*a).Directory.Count(), 70000);
    EXPECT_EQ(ziptest::Dir(*a).EndRecord.TotalEntries, 0xFFFF);
    EXPECT_EQ(a->SpanningMode(), smNone);
    TZAArchiveItem item;
    ASSERT_TRUE(a->FindFirst("e69999", item, zip::faAllEntries, ""));
    EXPECT_EQ(item.Search.EntryIndex, 69999);
}

TEST_F(DirRead, Utf8NameWithFlagBit11StaysAsStored) {
    const std::string archive = dir / "utf8.zip";
    ASSERT_TRUE(
        ziptest::Run("/usr/bin/python3 -c \"import zipfile\nwith zipfile.ZipFile('" + archive +
                     "','w') as z:\n    z.writestr('caf\\u00e9/\\u0130stanbul.txt', 'x')\""));
    ExpectSameAsPython(archive);
    const TDirItem& e = ziptest::Dir(*a).Directory.ItemPtr(0);
    EXPECT_NE(e.CentralHeader.Flags & FlagUtf8Names, 0);
    EXPECT_EQ(e.StoredName, "caf\xC3\xA9/\xC4\xB0stanbul.txt");
}

TEST_F(DirRead, OemNamesAreConvertedFromCp850) {
    // A name byte 0x82 without the UTF-8 flag is CP850's e acute.
    RecordWriter w;
    TLocalFileHeader local;
    local.NameLength = 5;
    local.Write(w);
    w.bytes("caf\x82"
            "e");
    const std::int64_t dirStart = static_cast<std::int64_t>(w.size());
    TZACentralHeader h;
    h.Signature = StandardSignatures.CentralHeader;
    h.NameLength = 5;
    WriteCentralHeader(w, h);
    w.bytes("caf\x82"
            "e");
    TEndOfCentralDir end;
    end.EntriesOnDisk = end.TotalEntries = 1;
    end.CentralDirSize = static_cast<std::uint32_t>(w.size() - static_cast<std::size_t>(dirStart));
    end.CentralDirOffset = static_cast<std::uint32_t>(dirStart);
    end.Write(w);
    ziptest::WriteFile(dir / "oem.zip", w.data());
    a->SetFileName(dir / "oem.zip");
    a->OpenArchive(32);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).StoredName, "caf\xC3\xA9"
                                                                "e");
    a->CloseArchive();
    a->Options().OEMFileNames = false;
    a->OpenArchive(32);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).StoredName, "caf\x82"
                                                                "e");
}

TEST_F(DirRead, SplitArchiveOpensFromItsLastVolume) {
    ziptest::WriteFile(dir / "src/big.bin", ziptest::RandomBytes(200000, 7));
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" +
                             " && zip -q -s 64k ../split.zip big.bin a.txt sub/c.txt"));
    ASSERT_TRUE(testsupport::Exists(dir / "split.z01"));
    ASSERT_TRUE(ziptest::Run("cd " + dir.Path() + " && zip -q -s 0 split.zip --out joined.zip"));
    a->SetFileName(dir / "split.zip");
    a->OpenArchive(32);
    EXPECT_EQ(a->SpanningMode(), smSplitting);
    // Info-ZIP names the volumes "split.z01": the plain naming, found on the second try.
    EXPECT_FALSE(a->SpanningOptions().AdvancedNaming);
    std::vector<Listed> joined = PythonListing(dir, dir / "joined.zip");
    std::vector<Listed> engine = EngineListing(*a);
    ASSERT_EQ(engine.size(), joined.size());
    bool someOnLaterDisk = false;
    for (std::size_t i = 0; i < engine.size(); ++i) {
        EXPECT_EQ(engine[i].name, joined[i].name);
        EXPECT_EQ(engine[i].packed, joined[i].packed);
        EXPECT_EQ(engine[i].unpacked, joined[i].unpacked);
        EXPECT_EQ(engine[i].crc, joined[i].crc);
        someOnLaterDisk =
            someOnLaterDisk || ziptest::Engine(*a)
                                       .DirManager()
                                       ->Directory.ItemPtr(static_cast<std::int32_t>(i))
                                       .CentralHeader.DiskNumberStart > 0;
    }
    EXPECT_TRUE(someOnLaterDisk);
}

// Disk numbers at the top of their range, from a crafted Zip64 directory: the volume asked
// for stays a number the events can show, reading on stops at the last volume there can be,
// and the truncated entry fails on its own instead of the run.
TEST_F(DirRead, DiskNumbersAtTheTopOfTheirRangeStayWithinWhatEventsCanShow) {
    struct Case {
        std::uint32_t entryDisk, totalDisks;
        std::vector<std::int32_t> asked; // middle volumes, as the event numbers them
    } cases[] = {
        {0x7FFFFFFF, 0x80000000, {}},
        {0x7FFFFFFF, 0xFFFFFFFF, {}},
        {0xFFFFFFFE, 0xFFFFFFFF, {}},
        // On the volume before the last: asked for, then read on into the last one.
        {0x7FFFFFFD, 0x7FFFFFFF, {0x7FFFFFFE}},
    };
    const std::string script = dir / "far.py";
    // One stored entry of 100 bytes of which 10 are there, on disk argv[2]; the directory on
    // the last of argv[3] disks. An entry on another disk than the directory gets a volume of
    // its own, argv[1] + ".mid".
    ziptest::WriteFile(
        script,
        "import struct, sys\n"
        "entry, total = int(sys.argv[2]), int(sys.argv[3])\n"
        "name = b'far.txt'\n"
        "local = struct.pack('<IHHHHHIIIHH', 0x04034b50, 45, 0, 0, 0, 0x21, 0, 0xFFFFFFFF,\n"
        "                    0xFFFFFFFF, len(name), 20) + name + struct.pack('<HHQQ', 1, 16, 100,\n"
        "                    100) + b'0123456789'\n"
        "extra = struct.pack('<HHQQQI', 1, 28, 100, 100, 0, entry)\n"
        "central = struct.pack('<IHHHHHHIIIHHHHHII', 0x02014b50, 0x031E, 45, 0, 0, 0, 0x21, 0,\n"
        "                      0xFFFFFFFF, 0xFFFFFFFF, len(name), len(extra), 0, 0xFFFF, 0,\n"
        "                      0o100644 << 16, 0xFFFFFFFF) + name + extra\n"
        "alone = entry != total - 1\n"
        "if alone: open(sys.argv[1] + '.mid', 'wb').write(local)\n"
        "head = b'' if alone else local\n"
        "start = len(head)\n"
        "end64 = struct.pack('<IQHHIIQQQQ', 0x06064b50, 44, 0x031E, 45, total - 1, total - 1,\n"
        "                    1, 1, len(central), start)\n"
        "locator = struct.pack('<IIQI', 0x07064b50, total - 1, start + len(central), total)\n"
        "end = struct.pack('<IHHHHIIH', 0x06054b50, 0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF,\n"
        "                  0xFFFFFFFF, 0xFFFFFFFF, 0)\n"
        "open(sys.argv[1], 'wb').write(head + central + end64 + locator + end)\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entryDisk);
        a = std::make_unique<zip::TZipArchiver>(nullptr);
        a->SetName("ZipArchiver1");
        const std::string archive = dir / "far.zip";
        ASSERT_TRUE(ziptest::Run("/usr/bin/python3 " + script + " " + archive + " " +
                                 std::to_string(c.entryDisk) + " " + std::to_string(c.totalDisks)));
        std::vector<std::int32_t> asked;
        a->OnRequestFirstVolume = [&](vcl::TObject*, std::string& name, bool&) {
            name = archive + ".mid";
        };
        a->OnRequestLastVolume = [&](vcl::TObject*, std::string& name, bool&) { name = archive; };
        a->OnRequestMiddleVolume = [&](vcl::TObject*, std::int32_t n, std::string& name, bool&) {
            asked.push_back(n);
            name = archive + ".mid";
        };
        std::vector<std::string> failed;
        a->OnProcessFileFailure = [&](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                      std::int32_t, std::int32_t, const std::string&,
                                      TZAAction& action) {
            failed.push_back(name);
            action = fxaIgnore;
        };
        a->SetFileName(archive);
        ASSERT_EQ(OpenError(*a), 0);
        ASSERT_EQ(ziptest::Dir(*a).Directory.Count(), 1);
        EXPECT_NO_THROW(a->ExtractFiles("*.*", zip::faAllEntries, dir / "out"));
        EXPECT_EQ(failed, std::vector<std::string>{"far.txt"});
        EXPECT_EQ(asked, c.asked);
        EXPECT_FALSE(std::filesystem::exists(dir / "out/far.txt"));
        a->CloseArchive();
    }
}

TEST_F(DirRead, MultiVolumeWithoutItsVolumesFailsWithTheEnginesError) {
    ziptest::WriteFile(dir / "src/big.bin", ziptest::RandomBytes(200000, 7));
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && zip -q -s 64k -r ../split.zip ."));
    std::filesystem::rename(dir / "split.zip", dir / "alone.zip");
    a->SetFileName(dir / "alone.zip");
    int asked = 0;
    a->OnRequestFirstVolume = [&](vcl::TObject*, std::string&, bool& cancel) {
        ++asked;
        cancel = true;
    };
    // No sibling volume on a fixed disk: taken for a spanned set. Its directory stands on
    // the last disk, so nothing is asked for until data are read.
    EXPECT_EQ(OpenError(*a), 0);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(a->SpanningMode(), smSpanning);
    EXPECT_EQ(ziptest::Dir(*a).Directory.Count(), 6);
    a->CloseArchive();
    // Told that its directory starts on the first disk, it asks for that disk.
    std::string bytes = ziptest::ReadFile(dir / "alone.zip");
    const std::size_t end = bytes.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    bytes[end + 6] = 0; // disk where the directory starts
    ziptest::WriteFile(dir / "alone.zip", bytes);
    EXPECT_EQ(OpenError(*a), 45);
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(a->Active());
}

// ---- Damaged archives ----

class Damaged : public DirRead {
protected:
    void SetUp() override {
        DirRead::SetUp();
        ASSERT_TRUE(
            ziptest::Run("cd " + dir / "src" + " && zip -q -r ../good.zip a.txt b.bin sub/c.txt"));
        good = ziptest::ReadFile(dir / "good.zip");
        expected = PythonListing(dir, dir / "good.zip");
        for (Listed& e : expected)
            e.flags &= 0xFFFF;
    }

    std::string good;
    std::vector<Listed> expected;
};

TEST_F(Damaged, RebuiltFromTheLocalHeaders) {
    struct Case {
        const char* what;
        std::size_t keep; // bytes kept from the start
        std::size_t entries;
    } cases[] = {
        {"end record cut off", good.size() - 10, 3},
        {"directory half gone", good.size() - 100, 3},
        // An entry cut short stays in the directory: reading it fails, it does not vanish.
        {"cut inside the second entry's data", 30 + 5 + 2000, 2},
        {"cut inside the third entry's data",
         static_cast<std::size_t>(expected[2].offset) + 30 + 9 + 28 + 4, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ziptest::WriteFile(dir / "cut.zip", good.substr(0, c.keep));
        a->SetFileName(dir / "cut.zip");
        a->OpenArchive(32);
        std::vector<Listed> engine = EngineListing(*a);
        ASSERT_EQ(engine.size(), c.entries);
        for (std::size_t i = 0; i < c.entries; ++i) {
            EXPECT_EQ(engine[i].name, expected[i].name);
            EXPECT_EQ(engine[i].offset, expected[i].offset);
            EXPECT_EQ(engine[i].crc, expected[i].crc);
            EXPECT_EQ(engine[i].unpacked, expected[i].unpacked);
        }
        EXPECT_EQ(ziptest::Dir(*a).DirStart, static_cast<std::int64_t>(c.keep));
        EXPECT_EQ(ziptest::Dir(*a).EndRecord.Signature, StandardSignatures.EndOfCentralDir);
        EXPECT_EQ(ziptest::Dir(*a).EndRecord.TotalEntries, 0);
        EXPECT_EQ(Found(*a, "*.*").size(), c.entries);
        a->CloseArchive();
    }
}

TEST_F(Damaged, NoLocalHeaderIsError35AndTheStrictOpenRefuses48) {
    struct Case {
        const char* what;
        std::string bytes;
        bool strict;
        std::int32_t code;
    } cases[] = {
        {"empty file", "", false, zeInvalidArchive},
        {"text", "not an archive at all", false, zeInvalidArchive},
        {"signature in the last 29 bytes", std::string(40, 'x') + "PK\x03\x04" + "12345", false,
         zeInvalidArchive},
        {"cut archive, strict", good.substr(0, good.size() - 10), true, zeArchiveDamaged},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ziptest::WriteFile(dir / "bad.zip", c.bytes);
        a->SetFileName(dir / "bad.zip");
        a->SetOpenCorruptedArchives(!c.strict);
        EXPECT_EQ(OpenError(*a), c.code);
        EXPECT_FALSE(a->Active());
        if (c.code == zeArchiveDamaged) {
            EXPECT_EQ(ziptest::Engine(*a).ArchiveStream(), nullptr);
        }
    }
}

TEST_F(Damaged, DescriptorsAndDirectoriesInARebuild) {
    // Written to a pipe, zipfile puts zeros in the local header and a descriptor after the
    // data: the rebuild takes the descriptor's values.
    const std::string piped = dir / "piped.zip";
    ASSERT_TRUE(ziptest::Run(
        "(/usr/bin/python3 -c \"import sys, zipfile\nz = zipfile.ZipFile(sys.stdout.buffer, 'w', "
        "zipfile.ZIP_DEFLATED)\nz.writestr('a.txt', 'x' * 5000)\nz.writestr('b.txt', 'yz' * "
        "300)\nz.close()\" | cat > " +
        piped + ")"));
    std::vector<Listed> listed = PythonListing(dir, piped);
    ASSERT_EQ(listed.size(), 2u);
    ASSERT_NE(listed[0].flags & FlagDataDescriptor, 0);
    std::string bytes = ziptest::ReadFile(piped);
    ziptest::WriteFile(dir / "cut.zip", bytes.substr(0, bytes.size() - 5));
    a->SetFileName(dir / "cut.zip");
    a->OpenArchive(32);
    std::vector<Listed> engine = EngineListing(*a);
    EXPECT_EQ(engine, listed);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).CentralHeader.ExternalAttributes, faArchive);
    a->CloseArchive();

    // Info-ZIP: a folder and an empty file get the folder attribute. From a pipe it writes
    // Zip64 markers into the local header, whose values the rebuild does not read: that
    // entry is listed (and fails when read), and the headers after it are still found.
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" +
                             " && cat a.txt | zip -q ../pipe.zip - && zip -q ../pipe.zip sub/ "
                             "empty"));
    bytes = ziptest::ReadFile(dir / "pipe.zip");
    ziptest::WriteFile(dir / "cut.zip", bytes.substr(0, bytes.size() - 5));
    a->OpenArchive(32);
    TZADirArray& d = ziptest::Dir(*a).Directory;
    ASSERT_EQ(d.Count(), 3);
    EXPECT_EQ(d.ItemPtr(0).StoredName, "-");
    EXPECT_EQ(d.ItemPtr(1).StoredName, "sub/");
    EXPECT_EQ(d.ItemPtr(1).CentralHeader.ExternalAttributes, faDirectory);
    EXPECT_EQ(d.ItemPtr(2).StoredName, "empty");
    EXPECT_EQ(d.ItemPtr(2).CentralHeader.ExternalAttributes, faDirectory);
}

TEST_F(Damaged, ACutEntryFailsOnItsOwnAndTheOthersAreExtracted) {
    // The second of three entries cut in the middle of its data, the third gone: the first
    // is extracted, the second fails with the stream's read error through the failure
    // event, and the run reports it instead of passing it over.
    const std::size_t keep = static_cast<std::size_t>(expected[1].offset) + 30 + 5 + 1000;
    ziptest::WriteFile(dir / "cut.zip", good.substr(0, keep));
    a->SetFileName(dir / "cut.zip");
    a->OpenArchive(32);
    ASSERT_EQ(ziptest::Dir(*a).Directory.Count(), 2);
    std::vector<std::pair<std::string, std::string>> failed;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                  std::int32_t, std::int32_t, const std::string& message,
                                  TZAAction& action) {
        failed.emplace_back(name, message);
        action = fxaIgnore;
    };
    a->BaseDir = dir / "out";
    a->ExtractFiles("*.*", zip::faAllEntries, "");
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].first, "b.bin");
    EXPECT_EQ(failed[0].second, "Erreur de lecture du flux");
    EXPECT_EQ(ziptest::ReadFile(dir / "out/a.txt"), ziptest::ReadFile(dir / "src/a.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b.bin"));
}

TEST_F(Damaged, ASignatureInsideAnEntrysDataIsNoHeader) {
    // A stored archive inside a stored entry: its local headers stand within the outer
    // entry's data, and the rebuild takes only the outer entries.
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && zip -q -0 ../inner.zip a.txt sub/c.txt"));
    ziptest::WriteFile(dir / "src/inner.zip", ziptest::ReadFile(dir / "inner.zip"));
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && zip -q -0 ../outer.zip inner.zip b.bin"));
    const std::string outer = ziptest::ReadFile(dir / "outer.zip");
    ziptest::WriteFile(dir / "cut.zip", outer.substr(0, outer.size() - 10));
    a->SetFileName(dir / "cut.zip");
    a->OpenArchive(32);
    std::vector<std::string> names;
    for (std::int32_t i = 0; i < ziptest::Dir(*a).Directory.Count(); ++i)
        names.push_back(ziptest::Dir(*a).Directory.ItemPtr(i).StoredName.str());
    EXPECT_EQ(names, (std::vector<std::string>{"inner.zip", "b.bin"}));
    a->BaseDir = dir / "out";
    int failures = 0;
    a->OnProcessFileFailure = [&](vcl::TObject*, const std::string&, TZAProcessOperation,
                                  std::int32_t, std::int32_t, const std::string&,
                                  TZAAction& action) {
        ++failures;
        action = fxaIgnore;
    };
    a->ExtractFiles("*.*", zip::faAllEntries, "");
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(ziptest::ReadFile(dir / "out/inner.zip"), ziptest::ReadFile(dir / "inner.zip"));
}

// ---- Self-extractor prefix ----

TEST_F(DirRead, StubInFrontWithOffsetsAdjustedOrNot) {
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && zip -q -r ../plain.zip ."));
    const std::string stub = "#!/bin/sh\necho stub\nexit 0\n" + std::string(5000, '#') + "\n";
    struct Case {
        const char* what;
        const char* name;
        bool adjust;
    } cases[] = {
        {"not adjusted", "sfx.zip", false},
        {"adjusted by zip -A", "sfx.zip", true},
        {"not adjusted, exe name", "SFX.EXE", false},
        {"adjusted, exe name", "sfx.exe", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string file = dir / c.name;
        ziptest::WriteFile(file, stub + ziptest::ReadFile(dir / "plain.zip"));
        if (c.adjust) {
            ASSERT_TRUE(ziptest::Run("zip -q -A '" + file + "'"));
        }
        a->SetFileName(file);
        a->OpenArchive(32);
        EXPECT_EQ(ziptest::Dir(*a).PrefixSize, static_cast<std::int64_t>(stub.size()));
        EXPECT_EQ(a->SpanningMode(), smNone);
        // Every entry's offset counts the prefix, folder entries' too: an update copies their
        // local headers from there.
        EXPECT_EQ(EngineListing(*a), PythonListing(dir, file));
        a->CloseArchive();
        std::filesystem::remove(file);
    }
}

TEST_F(DirRead, AFirstEntryWithADataDescriptorIsFoundWhereItStands) {
    // The first entry's local header holds zeros where its CRC and sizes would be (they
    // follow its data); the second holds the same file written plainly, every field the
    // first entry's central header has.
    ziptest::WriteFile(
        dir / "make.py",
        "import struct, sys, zlib\n"
        "data = b'the same data'\n"
        "crc = zlib.crc32(data)\n"
        "def local(flags, c, n, name):\n"
        "    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, flags, 0, 0x6000, 0x5A21,\n"
        "                       c, n, n, len(name), 0) + name\n"
        "def central(flags, offset, name):\n"
        "    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, flags, 0, 0x6000,\n"
        "                       0x5A21, crc, len(data), len(data), len(name), 0, 0, 0, 0,\n"
        "                       0x20, offset) + name\n"
        "a = local(8, 0, 0, b'a.txt') + data + struct.pack('<IIII', 0x08074B50, crc,\n"
        "                                                 len(data), len(data))\n"
        "b = local(0, crc, len(data), b'b.txt') + data\n"
        "cd = central(8, 0, b'a.txt') + central(0, len(a), b'b.txt')\n"
        "end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 2, 2, len(cd), len(a + b), 0)\n"
        "stub = b'S' * int(sys.argv[2])\n"
        "open(sys.argv[1], 'wb').write(stub + a + b + cd + end)\n");
    // With no stub the directory stands where the end record says; with one that the
    // offsets leave out, the first entry's header is what tells how far everything moved.
    for (const int stub : {0, 100}) {
        SCOPED_TRACE(stub);
        const std::string file = dir / "described.zip";
        ASSERT_TRUE(ziptest::Run("/usr/bin/python3 '" + (dir / "make.py") + "' '" + file + "' " +
                                 std::to_string(stub)));
        a->SetFileName(file);
        a->OpenArchive(32);
        EXPECT_EQ(ziptest::Dir(*a).PrefixSize, stub);
        EXPECT_EQ(EngineListing(*a), PythonListing(dir, file));
        int failures = 0;
        a->OnProcessFileFailure = [&failures](vcl::TObject*, const std::string&,
                                              TZAProcessOperation, std::int32_t, std::int32_t,
                                              const std::string&, TZAAction& action) {
            ++failures;
            action = fxaIgnore;
        };
        a->TestFiles("*.*", zip::faAllEntries, "");
        EXPECT_EQ(failures, 0);
        a->CloseArchive();
    }
}

TEST_F(DirRead, ALocalHeaderLikeTheFirstOneFurtherOnMovesNoOffset) {
    // The first entry is damaged (its header claims a name far past the file), and an
    // archive stored in the second entry holds a header that agrees with the first entry's
    // central one. The directory stands where its end record says: no offset moves.
    ziptest::WriteFile(
        dir / "make.py",
        "import struct, sys, zlib\n"
        "data = b'x' * 40\n"
        "crc = zlib.crc32(data)\n"
        "def local(name, body):\n"
        "    return struct.pack('<IHHHHHIIIHH', 0x04034B50, 20, 0, 0, 0x6000, 0x5A21,\n"
        "                       zlib.crc32(body), len(body), len(body), len(name), 0) + name\n"
        "def central(name, body, offset):\n"
        "    return struct.pack('<IHHHHHHIIIHHHHHII', 0x02014B50, 20, 20, 0, 0, 0x6000,\n"
        "                       0x5A21, zlib.crc32(body), len(body), len(body), len(name), 0,\n"
        "                       0, 0, 0, 0x20, offset) + name\n"
        "inner = local(b'x.txt', data) + data\n"
        "holder = local(b'inner.bin', inner) + inner\n"
        "first = local(b'x.txt', data)\n"
        "first = first[:26] + struct.pack('<H', 60000) + first[28:]\n"
        "body = first + data + holder\n"
        "cd = central(b'x.txt', data, 0) + central(b'inner.bin', inner, len(first) + len(data))\n"
        "end = struct.pack('<IHHHHIIH', 0x06054B50, 0, 0, 2, 2, len(cd), len(body), 0)\n"
        "open(sys.argv[1], 'wb').write(body + cd + end)\n");
    const std::string file = dir / "inner.zip";
    ASSERT_TRUE(ziptest::Run("/usr/bin/python3 '" + (dir / "make.py") + "' '" + file + "'"));
    a->SetFileName(file);
    a->OpenArchive(32);
    EXPECT_EQ(EngineListing(*a), PythonListing(dir, file));
    std::vector<std::string> failed;
    a->OnProcessFileFailure = [&failed](vcl::TObject*, const std::string& name, TZAProcessOperation,
                                        std::int32_t, std::int32_t, const std::string&,
                                        TZAAction& action) {
        failed.push_back(name);
        action = fxaIgnore;
    };
    a->TestFiles("*.*", zip::faAllEntries, "");
    EXPECT_EQ(failed, std::vector<std::string>{"x.txt"}); // the damaged one alone
}

TEST_F(DirRead, EmptyArchiveBehindAStub) {
    RecordWriter w;
    TEndOfCentralDir end;
    end.Write(w);
    ziptest::WriteFile(dir / "empty.zip", std::string(100, 'S') + w.data());
    a->SetFileName(dir / "empty.zip");
    a->OpenArchive(32);
    EXPECT_EQ(ziptest::Dir(*a).Directory.Count(), 0);
    EXPECT_EQ(ziptest::Dir(*a).PrefixSize, 100);
    EXPECT_TRUE(Found(*a, "*.*").empty());
}

TEST_F(DirRead, NewArchiveGetsTheStub) {
    ziptest::WriteFile(dir / "stub.bin", "STUBSTUB");
    a->SFXStub = dir / "stub.bin";
    a->SetFileName(dir / "new.zip");
    a->OpenArchive(0xFFFF);
    EXPECT_EQ(ziptest::Dir(*a).PrefixSize, 8);
    EXPECT_EQ(ziptest::Engine(*a).ArchiveStream()->Size(), 8);
    a->CloseArchive();
    EXPECT_EQ(ziptest::ReadFile(dir / "new.zip"), "STUBSTUB");
    // A first volume smaller than the stub cannot take it.
    a->SetSpanningMode(smSplitting);
    a->SpanningOptions().FirstVolumeSize = 4;
    a->OnRequestBlankVolume = [&](vcl::TObject*, std::int32_t, std::string& name, bool&) {
        name = dir / "vol.zip";
    };
    EXPECT_EQ(OpenError(*a, 0xFFFF), 47);
}

// ---- Hand-made directories: the reader's tolerances ----

namespace {

// A one-entry archive with the given central extra field and the given end-record count. A
// local extra field, when given, comes with the Zip64 markers in the local sizes.
std::string HandMade(const std::string& centralExtra, std::uint16_t count, std::string name = "f",
                     const std::string& localExtra = "") {
    RecordWriter w;
    TLocalFileHeader local;
    local.NameLength = static_cast<std::uint16_t>(name.size());
    local.ExtraLength = static_cast<std::uint16_t>(localExtra.size());
    if (!localExtra.empty())
        local.CompressedSize = local.UncompressedSize = Zip64Marker32;
    local.Write(w);
    w.bytes(name).bytes(localExtra);
    const auto dirStart = static_cast<std::uint32_t>(w.size());
    TZACentralHeader h;
    h.Signature = StandardSignatures.CentralHeader;
    h.NameLength = static_cast<std::uint16_t>(name.size());
    h.ExtraLength = static_cast<std::uint16_t>(centralExtra.size());
    WriteCentralHeader(w, h);
    w.bytes(name).bytes(centralExtra);
    TEndOfCentralDir end;
    end.EntriesOnDisk = end.TotalEntries = count;
    end.CentralDirSize = static_cast<std::uint32_t>(w.size()) - dirStart;
    end.CentralDirOffset = dirStart;
    end.Write(w);
    return w.data();
}

// The central header's name length (file offset 31 + 28) raised far past the file's end.
std::string LongName(std::string archive) {
    archive[59] = '\x60';
    archive[60] = '\xEA';
    return archive;
}

} // namespace

TEST_F(DirRead, HostileDirectoriesOpenConsistentlyOrFailWithTheEnginesError) {
    struct Case {
        const char* what;
        std::string bytes;
        std::int32_t code; // 0: opens; -1: the stream's read error
        std::int32_t entries;
    } cases[] = {
        {"extra record longer than the field keeps what remains",
         HandMade(std::string("\x99\x99\x10\x00"
                              "abc",
                              7),
                  1),
         0, 1},
        {"extra record header cut short", HandMade(std::string("\x01\x00\x08", 3), 1), 0, 1},
        {"Zip64 field without markers",
         HandMade(std::string("\x01\x00\x08\x00"
                              "12345678",
                              12),
                  1),
         0, 1},
        {"name with a NUL", HandMade("", 1, std::string("ab\0cd", 5)), 0, 1},
        {"backslashes", HandMade("", 1, "a\\b\\c.txt"), 0, 1},
        {"a count no directory could hold", HandMade("", 0xFFFF), -1, 0},
        {"more entries than the stream could hold", HandMade("", 3), -1, 0},
        {"a name running past the end", LongName(HandMade("", 1)), -1, 0},
        {"local Zip64 record longer than the local extra field",
         HandMade("", 1, "f",
                  std::string("\x01\x00\x10\x00"
                              "ab",
                              6)),
         0, 1},
        {"local extra record header cut short",
         HandMade("", 1, "f", std::string("\x01\x00\x10", 3)), 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ziptest::WriteFile(dir / "h.zip", c.bytes);
        a->SetFileName(dir / "h.zip");
        std::int32_t code = 0;
        try {
            a->OpenArchive(32);
        } catch (const EZAException& e) {
            code = e.NativeError();
        } catch (const vcl::EReadError&) {
            code = -1;
        }
        EXPECT_EQ(code, c.code);
        if (code == 0) {
            EXPECT_EQ(ziptest::Dir(*a).Directory.Count(), c.entries);
        }
    }
    ziptest::WriteFile(dir / "h.zip", HandMade("", 1, std::string("ab\0cd", 5)));
    a->OpenArchive(32);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).StoredName, "ab");
    ziptest::WriteFile(dir / "h.zip", HandMade("", 1, "a\\b\\c.txt"));
    a->OpenArchive(32);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).StoredName, "a/b/c.txt");
    ziptest::WriteFile(dir / "h.zip", HandMade(std::string("\x99\x99\x10\x00"
                                                           "abc",
                                                           7),
                                               1));
    a->OpenArchive(32);
    ASSERT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).Detail().ExtraFields.size(), 1u);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).Detail().ExtraFields[0].Size(), 3);
    ziptest::WriteFile(dir / "h.zip", HandMade(std::string("\x01\x00\x08\x00"
                                                           "12345678",
                                                           12),
                                               1));
    a->OpenArchive(32);
    EXPECT_TRUE(ziptest::Dir(*a).Directory.ItemPtr(0).Zip64);
}

TEST_F(DirRead, TrailingBytesAfterTheCommentInvalidateTheEndRecord) {
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && zip -q -r ../out.zip ."));
    ziptest::WriteFile(dir / "tail.zip", ziptest::ReadFile(dir / "out.zip") + "junk");
    a->SetFileName(dir / "tail.zip");
    a->OpenArchive(32);
    // Rebuilt: every entry found again from its local header.
    EXPECT_EQ(ziptest::Dir(*a).EndRecord.TotalEntries, 0);
    EXPECT_EQ(ziptest::Dir(*a).Directory.Count(),
              static_cast<std::int32_t>(PythonListing(dir, dir / "out.zip").size()));
}

TEST_F(DirRead, Zip64RecordsBehindAStubAndTheDiskEscapeValue) {
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && zip -q -fz ../fz.zip a.txt empty"));
    const std::string fz = ziptest::ReadFile(dir / "fz.zip");
    // The locator's offset misses the Zip64 end record by the stub's size; the record is
    // still found right before the locator.
    ziptest::WriteFile(dir / "sfx.zip", std::string(1000, 'S') + fz);
    ExpectSameAsPython(dir / "sfx.zip");
    EXPECT_TRUE(ziptest::Dir(*a).IsZip64);
    EXPECT_EQ(ziptest::Dir(*a).PrefixSize, 1000);
    a->CloseArchive();
    // Disk numbers given as the escape value: the locator's count of disks says one.
    std::string escaped = fz;
    const std::size_t end = escaped.rfind("PK\x05\x06");
    ASSERT_NE(end, std::string::npos);
    for (std::size_t i = 4; i < 8; ++i)
        escaped[end + i] = '\xFF';
    ziptest::WriteFile(dir / "escaped.zip", escaped);
    a->SetFileName(dir / "escaped.zip");
    a->OpenArchive(32);
    EXPECT_EQ(a->SpanningMode(), smNone);
    EXPECT_EQ(ziptest::Dir(*a).Directory.Count(), 2);
}

TEST_F(DirRead, ManyDescriptorFlaggedHeadersWithoutDescriptorsRebuildInOnePass) {
    // 20000 local headers with the descriptor flag and no descriptor anywhere: each search
    // for one would otherwise read the rest of the file again.
    RecordWriter w;
    for (int i = 0; i < 20000; ++i) {
        TLocalFileHeader local;
        local.Flags = FlagDataDescriptor;
        local.NameLength = 6;
        local.Write(w);
        w.bytes("f" + std::to_string(10000 + i)).bytes(std::string(64, 'd'));
    }
    ziptest::WriteFile(dir / "many.zip", w.data());
    a->SetFileName(dir / "many.zip");
    a->OpenArchive(32);
    EXPECT_EQ(ziptest::Dir(*a).Directory.Count(), 20000);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(19999).StoredName, "f29999");
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(19999).CentralHeader.ExternalAttributes,
              faArchive);
}

TEST_F(DirRead, AStubInFrontOfALocalZip64FieldDeclaringMoreThanItHolds) {
    // Sizes as markers in the local header, their values in a local Zip64 field whose
    // record declares 24 bytes and holds 16: the prefix is still measured.
    const std::string data = "hello";
    RecordWriter w;
    TLocalFileHeader local;
    local.VersionNeeded = 45;
    local.Crc32 = 0x3610A686; // of "hello"
    local.CompressedSize = local.UncompressedSize = Zip64Marker32;
    local.NameLength = 1;
    local.ExtraLength = 20;
    local.Write(w);
    w.bytes("f").u16(Zip64ExtraId).u16(24).u64(data.size()).u64(data.size()).bytes(data);
    const auto dirStart = static_cast<std::uint32_t>(w.size());
    TZACentralHeader h;
    h.Signature = StandardSignatures.CentralHeader;
    h.VersionNeeded = 45;
    h.Crc32 = local.Crc32;
    h.CompressedSize = h.UncompressedSize = Zip64Marker32;
    h.NameLength = 1;
    h.ExtraLength = 20;
    WriteCentralHeader(w, h);
    w.bytes("f").u16(Zip64ExtraId).u16(16).u64(data.size()).u64(data.size());
    TEndOfCentralDir end;
    end.EntriesOnDisk = end.TotalEntries = 1;
    end.CentralDirSize = static_cast<std::uint32_t>(w.size()) - dirStart;
    end.CentralDirOffset = dirStart;
    end.Write(w);
    ziptest::WriteFile(dir / "stub.zip", "STUB" + w.data());
    a->SetFileName(dir / "stub.zip");
    EXPECT_EQ(OpenError(*a), 0);
    ASSERT_TRUE(a->Active());
    EXPECT_EQ(ziptest::Dir(*a).PrefixSize, 4);
    EXPECT_EQ(ziptest::Dir(*a).Directory.ItemPtr(0).CentralHeader.LocalHeaderOffset, 4u);
}

TEST_F(DirRead, LongCodePageNamesComeWholeFromTheDirectoryAndFromLocalHeaders) {
    // Code-page names of 900 bytes rebuilt from local headers, and of 200 read from a
    // directory: far past the room an entry holds inside it, they come whole.
    std::string names;
    RecordWriter w;
    for (int i = 0; i < 20; ++i) {
        TLocalFileHeader local;
        local.NameLength = 900;
        local.Write(w);
        w.bytes(std::string(899, 'n') + static_cast<char>('a' + i));
    }
    ziptest::WriteFile(dir / "rebuilt.zip", w.data());
    ASSERT_TRUE(ziptest::Run("cd " + dir / "src" + " && touch " + std::string(200, 'x') +
                             " && zip -q ../names.zip " + std::string(200, 'x')));
    for (const char* file : {"rebuilt.zip", "names.zip"}) {
        SCOPED_TRACE(file);
        a->SetFileName(dir / file);
        a->OpenArchive(32);
        TZADirArray& d = ziptest::Dir(*a).Directory;
        ASSERT_GT(d.Count(), 0);
        for (std::int32_t i = 0; i < d.Count(); ++i)
            EXPECT_EQ(d.ItemPtr(i).StoredName,
                      std::string_view(file) == "names.zip"
                          ? std::string(200, 'x')
                          : std::string(899, 'n') + static_cast<char>('a' + i));
        a->CloseArchive();
    }
}

TEST(DirManager, TheLastVolumeOfAnyDiskCountIsANumberEventsCanShow) {
    struct Case {
        bool zip64;
        std::uint32_t totalDisks;
        std::uint16_t diskNumber;
        std::int32_t last;
    } cases[] = {
        {false, 0, 0, 0},
        {false, 0, 0xFFFE, 0xFFFE},
        {true, 0, 0, 0},
        {true, 1, 0, 0},
        {true, 3, 0, 2},
        {true, 0x80000000u, 0, MaxVolumeNumber},
        {true, 0xFFFFFFFFu, 0, MaxVolumeNumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.totalDisks);
        TZADirManager m;
        m.IsZip64 = c.zip64;
        m.Zip64Locator.TotalDisks = c.totalDisks;
        m.EndRecord.DiskNumber = c.diskNumber;
        EXPECT_EQ(m.LastVolume(), c.last);
    }
}

// A memory stream that counts what the scan asks of it.
class CountingStream : public vcl::TMemoryStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override {
        ++reads;
        return TMemoryStream::Read(buffer, count);
    }
    std::int64_t Size() override {
        ++sizes;
        return TMemoryStream::Size();
    }
    int reads = 0;
    int sizes = 0;
};

// A damaged archive may hold a local-header signature every few bytes: each search and each
// header the window already holds costs no call on the stream, a signature across two windows
// is still found, and the stream stays where it was.
TEST(SignatureScan, SearchesTheWindowAnswersLeaveTheStreamAlone) {
    CountingStream stream;
    std::string bytes;
    for (int i = 0; i < 1000; ++i)
        bytes += "PK\x03\x04";
    // The searches below keep windows from 0, 1024, 2048, 3072, then 4093: this signature
    // begins two bytes before the last one ends.
    bytes += std::string(1115, 'x') + "PK\x05\x06" + std::string(10, 'y');
    stream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    stream.SetPosition(123);
    TZASignatureScan scan(stream, 1024);
    for (std::int64_t p = 0; p < 4000; p += 4) {
        ASSERT_EQ(scan.Find(p, 0x04034B50), p);
        ASSERT_NE(scan.Kept(p, 4), nullptr);
    }
    // A read and a size for each of the four windows over the 4,000 bytes.
    EXPECT_EQ(stream.reads, 4);
    EXPECT_EQ(stream.sizes, 4);
    EXPECT_EQ(scan.Find(4000, 0x06054B50), 5115);
    EXPECT_EQ(scan.Find(5116, 0x06054B50), -1);
    EXPECT_EQ(scan.Kept(5115, 1000), nullptr);
    EXPECT_EQ(stream.Position(), 123);
}
