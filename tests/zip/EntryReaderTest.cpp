// Entry data reading: entries made by Info-ZIP zip, 7-Zip and Python's zipfile decoded
// straight from their local headers, damaged and hostile entries, passwords, progress and
// cancel, entries running across volumes, and the block format.
#include "ArchiverAccess.h"
#include "CipherSupport.h"
#include "ZipTestSupport.h"
#include "platform/Memory.h"
#include "vcl/Dialogs.h"
#include "zip/ZACrc32.h"
#include "zip/ZAEntryReader.h"
#include "zip/ZAExcept.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>
#include <zlib.h>

using namespace zip;
using ziptest::ReadFile;
using ziptest::TempDir;
using ziptest::WriteFile;

namespace {

class TReaderArchiver : public ziptest::TTestArchiver {
public:
    using TTestArchiver::TTestArchiver;

    void OpenFile(const std::string& path, std::int64_t dirStart) {
        SetFileName(path);
        PretendOpen(std::make_unique<vcl::TFileStream>(path, vcl::fmOpenRead));
        FDirManager->DirStart = dirStart;
    }
    void OpenMemory(const std::string& bytes) {
        auto stream = std::make_unique<vcl::TMemoryStream>();
        stream->WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
        PretendOpen(std::move(stream));
        FDirManager->DirStart = static_cast<std::int64_t>(bytes.size());
    }
    // The cases change header fields by hand; the values are resolved from them here, as the
    // directory reader does for every entry it reads.
    bool Decode(const TDirItem& item, std::int64_t offset, vcl::TStream& dest) {
        TDirItem resolved = item;
        resolved.ResolveZip64();
        FArchiveStream->SetPosition(offset);
        return ziptest::Engine(*this).DecompressStream(*FArchiveStream, dest, resolved);
    }
    void EnableProgress(std::int32_t fileNo, std::int32_t fileCount) {
        zip::TZAProgressState& progress = ziptest::Engine(*this).Progress;
        progress.Enabled = true;
        progress.ProcessedFileNo = fileNo;
        progress.ProcessedFileCount = fileCount;
    }
    void PretendClosed() { FActive = false; }
    bool ProgressCancel() { return ziptest::Engine(*this).Progress.Cancel; }
    bool SkipFile() { return ziptest::Engine(*this).Progress.SkipFile; }
    TZADirManager& Dir() { return *FDirManager; }
};

// One entry as the directory would hold it, and where its local header stands.
struct TEntry {
    std::string Name;
    std::int64_t Offset = 0;
    TDirItem Item;
};

struct TListing {
    std::int64_t DirStart = 0;
    std::vector<TEntry> Entries;
};

std::uint32_t Crc(const std::string& s) {
    return ~UpdateCrc32(Crc32Start, s.data(), static_cast<std::int64_t>(s.size()));
}

std::string Bytes(vcl::TMemoryStream& m) {
    return {reinterpret_cast<const char*>(m.Memory()), static_cast<std::size_t>(m.Size())};
}

// The central values of every entry, as Python's zipfile reads them.
TListing List(const TempDir& dir, const std::string& archive) {
    const std::string script = dir / "list.py";
    WriteFile(script,
              "import sys, zipfile\n"
              "z = zipfile.ZipFile(sys.argv[1])\n"
              "sys.stdout = open(sys.argv[2], 'w')\n"
              "print(z.start_dir)\n"
              "for i in z.infolist():\n"
              "    print(i.header_offset, i.compress_size, i.file_size, i.CRC, i.flag_bits,\n"
              "          i.compress_type, i.extract_version, i.volume, i.filename)\n");
    const std::string out = dir / "list.txt";
    if (!ziptest::Run("/usr/bin/python3 " + script + " " + archive + " " + out))
        throw std::runtime_error("cannot list " + archive);
    std::istringstream lines(ReadFile(out));
    TListing listing;
    lines >> listing.DirStart;
    TEntry e;
    std::uint64_t packed = 0, size = 0;
    std::uint32_t crc = 0, flags = 0, method = 0, version = 0, volume = 0;
    while (lines >> e.Offset >> packed >> size >> crc >> flags >> method >> version >> volume) {
        std::getline(lines >> std::ws, e.Name);
        TZACentralHeader& h = e.Item.CentralHeader;
        h.Flags = static_cast<std::uint16_t>(flags);
        h.Method = static_cast<std::uint16_t>(method);
        h.VersionNeeded = static_cast<std::uint16_t>(version);
        h.Crc32 = crc;
        h.DiskNumberStart = static_cast<std::uint16_t>(volume);
        h.CompressedSize =
            packed >= Zip64Marker32 ? Zip64Marker32 : static_cast<std::uint32_t>(packed);
        h.UncompressedSize =
            size >= Zip64Marker32 ? Zip64Marker32 : static_cast<std::uint32_t>(size);
        e.Item.Zip64 = packed >= Zip64Marker32 || size >= Zip64Marker32;
        e.Item.CompressedSize = packed;
        e.Item.UncompressedSize = size;
        e.Item.ResolveZip64();
        e.Item.StoredName = e.Name;
        e.Item.Operation = poExtract;
        listing.Entries.push_back(e);
    }
    return listing;
}

const TEntry& Find(const TListing& l, const std::string& name) {
    for (const auto& e : l.Entries)
        if (e.Name == name)
            return e;
    throw std::runtime_error("no entry " + name);
}

struct EntryReader : ::testing::Test {
    vcl::TComponent owner{nullptr};
    TReaderArchiver* a = vcl::Create<TReaderArchiver>(&owner);
    TempDir dir;
    vcl::TScriptedDialogs dialogs;
    std::string text = ziptest::CompressibleText(3 * 1024 * 1024 + 123);
    std::string noise = ziptest::RandomBytes(1536 * 1024 + 7, 11);
    std::vector<std::string> asked; // password prompts, by entry name

    EntryReader() {
        a->SetName("ZipArchiver1");
        WriteFile(dir / "text.txt", text);
        WriteFile(dir / "noise.bin", noise);
        WriteFile(dir / "empty.txt", "");
    }

    std::string Source(const std::string& name) { return ReadFile(dir / name); }

    // Answers the password prompt with each of answers in turn, then skips.
    void Passwords(std::vector<std::string> answers) {
        a->OnPassword = [this, answers, n = std::size_t{0}](vcl::TObject*, const std::string& name,
                                                            std::string& password,
                                                            bool& skip) mutable {
            asked.push_back(name);
            if (n < answers.size())
                password = answers[n++];
            else
                skip = true;
        };
    }

    // Made again while a password the test tries before the right one would pass a check
    // byte by chance.
    TListing Make(const std::string& command, const std::string& archive,
                  std::initializer_list<std::string_view> wrongPasswords = {""}) {
        ziptest::MakeWithoutImpostors(
            [&] { EXPECT_TRUE(ziptest::Run("cd " + dir.Path() + " && " + command)) << command; },
            dir / archive, wrongPasswords);
        TListing l = List(dir, dir / archive);
        a->OpenFile(dir / archive, l.DirStart);
        return l;
    }
};

// ---- Entries from the peer tools ----------------------------------------------------------

struct ToolCase {
    const char* label;
    const char* command; // run in the test folder
    const char* archive;
    const char* password; // "" for none
};

const ToolCase toolCases[] = {
    {"InfoZipStored", "zip -q -0 a.zip text.txt noise.bin empty.txt", "a.zip", ""},
    {"InfoZipDeflated", "zip -q -6 a.zip text.txt noise.bin empty.txt", "a.zip", ""},
    {"InfoZipBest", "zip -q -9 a.zip text.txt noise.bin", "a.zip", ""},
    {"InfoZipEncrypted", "zip -q -P secret a.zip text.txt noise.bin empty.txt", "a.zip", "secret"},
    {"InfoZipDescriptors", "zip -q -fd a.zip text.txt noise.bin", "a.zip", ""},
    {"SevenZipDeflate", "7zz a -tzip -mx=5 a.zip text.txt noise.bin empty.txt", "a.zip", ""},
    {"SevenZipCrypto", "7zz a -tzip -psecret -mem=ZipCrypto a.zip text.txt noise.bin empty.txt",
     "a.zip", "secret"},
    {"PythonStored",
     "/usr/bin/python3 -c \"import zipfile; z=zipfile.ZipFile('a.zip','w'); "
     "[z.write(n) for n in ('text.txt','noise.bin','empty.txt')]\"",
     "a.zip", ""},
    {"PythonDeflated",
     "/usr/bin/python3 -c \"import zipfile; z=zipfile.ZipFile('a.zip','w',zipfile.ZIP_DEFLATED); "
     "[z.write(n) for n in ('text.txt','noise.bin','empty.txt')]\"",
     "a.zip", ""},
};

struct ToolEntries : EntryReader, ::testing::WithParamInterface<ToolCase> {};

TEST_P(ToolEntries, DecodeToTheSourceBytes) {
    const ToolCase& c = GetParam();
    a->Password = c.password;
    Passwords({});
    TListing l = Make(c.command, c.archive);
    ASSERT_FALSE(l.Entries.empty());
    for (const TEntry& e : l.Entries) {
        vcl::TMemoryStream out;
        EXPECT_TRUE(a->Decode(e.Item, e.Offset, out)) << e.Name;
        const std::string got = Bytes(out);
        EXPECT_EQ(got.size(), Source(e.Name).size()) << e.Name;
        EXPECT_TRUE(got == Source(e.Name)) << e.Name;
        EXPECT_EQ(Crc(got), e.Item.CentralHeader.Crc32) << e.Name;
    }
    EXPECT_TRUE(asked.empty());
}

INSTANTIATE_TEST_SUITE_P(Tools, ToolEntries, ::testing::ValuesIn(toolCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(EntryReader, StreamedEntriesFromStandardInput) {
    // Info-ZIP writes a data descriptor for an encrypted stream: the check byte is then the
    // high byte of the time, not of the CRC.
    TListing l = Make("cat text.txt | zip -q -P pw s.zip -", "s.zip");
    ASSERT_EQ(l.Entries.size(), 1u);
    const TEntry& e = l.Entries[0];
    EXPECT_NE(e.Item.CentralHeader.Flags & FlagDataDescriptor, 0);
    a->Password = "pw";
    vcl::TMemoryStream out;
    EXPECT_TRUE(a->Decode(e.Item, e.Offset, out));
    EXPECT_TRUE(Bytes(out) == text);

    l = Make("echo x | zip -q t.zip -", "t.zip");
    vcl::TMemoryStream small;
    EXPECT_TRUE(a->Decode(l.Entries[0].Item, l.Entries[0].Offset, small));
    EXPECT_EQ(Bytes(small), "x\n");
}

TEST_F(EntryReader, MethodsTheEngineDoesNotDecodeRaise55ForTheEntry) {
    struct Case {
        const char* what;
        const char* command;
        std::uint16_t method;
        std::uint16_t versionNeeded; // 0: as written
    } cases[] = {
        {"Deflate64", "7zz a -tzip -mm=Deflate64 a.zip text.txt", 9, 0},
        {"bzip2", "7zz a -tzip -mm=BZip2 a.zip text.txt", 12, 0},
        {"bzip2, version 10", "7zz a -tzip -mm=BZip2 a.zip text.txt", 12, 10},
        {"LZMA", "7zz a -tzip -mm=LZMA a.zip text.txt", 14, 0},
        {"PPMd", "7zz a -tzip -mm=PPMd a.zip text.txt", 98, 0},
        {"AES", "7zz a -tzip -psecret -mem=AES256 a.zip text.txt", 99, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(dir / "a.zip");
        TListing l = Make(c.command, "a.zip");
        TEntry e = l.Entries[0];
        ASSERT_EQ(e.Item.CentralHeader.Method, c.method);
        if (c.versionNeeded != 0)
            e.Item.CentralHeader.VersionNeeded = c.versionNeeded;
        Passwords({});
        asked.clear();
        vcl::TMemoryStream out;
        std::string message;
        try {
            a->Decode(e.Item, e.Offset, out);
            ADD_FAILURE() << "no error";
        } catch (const EZAException& x) {
            EXPECT_EQ(x.NativeError(), zeDeflate64);
            message = x.what();
        }
        // The reader's method check names no archiver.
        EXPECT_EQ(message, "Deflate64 compression method is not supported - Native error: 00055");
        // Nothing asks for a password that could not help, and nothing is written.
        EXPECT_TRUE(asked.empty());
        EXPECT_EQ(out.Size(), 0);
    }
}

// ---- Damaged and hostile entries ----------------------------------------------------------

TEST_F(EntryReader, DamagedDataFailsWithoutRaising) {
    for (const char* level : {"-0", "-6"}) {
        SCOPED_TRACE(level);
        std::filesystem::remove(dir / "a.zip");
        TListing l = Make(std::string("zip -q ") + level + " a.zip text.txt", "a.zip");
        const TEntry e = l.Entries[0];
        std::string bytes = ReadFile(dir / "a.zip");
        const std::int64_t data = e.Offset + 30 + 8 + 28; // behind name and extra, roughly
        bytes[static_cast<std::size_t>(data + e.Item.CentralHeader.CompressedSize / 2)] ^= 0x20;
        a->OpenMemory(bytes);
        a->Dir().DirStart = l.DirStart;
        vcl::TMemoryStream out;
        EXPECT_FALSE(a->Decode(e.Item, e.Offset, out));
        // What was decoded stays, for a caller that keeps damaged files: all of a stored one.
        if (e.Item.CentralHeader.Method == MethodStored) {
            EXPECT_EQ(out.Size(), static_cast<std::int64_t>(text.size()));
        }
        EXPECT_LE(out.Size(), static_cast<std::int64_t>(text.size()));
    }
}

// Bytes after the end of the deflate data, still inside the entry's compressed size (some
// writers pad entries): the entry's CRC-32 and size judge it, as unzip and Python's zipfile
// do; no checksum of another format is looked for in those bytes.
TEST_F(EntryReader, PaddingAfterTheDeflateDataIsIgnored) {
    const std::string paddings[] = {std::string(1, '\0'), std::string(4, '\0'), "\x01\x02\x03\x04",
                                    std::string(9, '\xFF')};
    TListing l = Make("zip -q -6 a.zip text.txt", "a.zip");
    const std::string original = ReadFile(dir / "a.zip");
    for (const std::string& padding : paddings) {
        SCOPED_TRACE(padding.size());
        TEntry e = l.Entries[0];
        std::string bytes = original;
        const auto at = static_cast<std::size_t>(e.Offset);
        const std::size_t data = at + 30 + static_cast<std::uint8_t>(bytes[at + 26]) +
                                 static_cast<std::uint8_t>(bytes[at + 28]);
        bytes.insert(data + e.Item.CentralHeader.CompressedSize, padding);
        e.Item.CentralHeader.CompressedSize += static_cast<std::uint32_t>(padding.size());
        a->OpenMemory(bytes);
        a->Dir().DirStart = l.DirStart + static_cast<std::int64_t>(padding.size());
        vcl::TMemoryStream out;
        EXPECT_TRUE(a->Decode(e.Item, e.Offset, out));
        EXPECT_TRUE(Bytes(out) == text); // the whole text, not a report of megabytes
    }
}

TEST_F(EntryReader, DataTheFileDoesNotHoldIsAReadError) {
    TListing l = Make("zip -q -6 a.zip text.txt", "a.zip");
    const TEntry e = l.Entries[0];
    std::string bytes = ReadFile(dir / "a.zip");
    bytes.resize(static_cast<std::size_t>(e.Offset + 200));
    a->OpenMemory(bytes);
    a->Dir().DirStart = l.DirStart; // the directory would begin past the end of the file
    vcl::TMemoryStream out;
    EXPECT_THROW(a->Decode(e.Item, e.Offset, out), vcl::EReadError);
    EXPECT_EQ(out.Size(), 0);
    // A local header past the end of the file, likewise.
    EXPECT_THROW(a->Decode(e.Item, e.Offset + 190, out), vcl::EReadError);
}

TEST_F(EntryReader, DataRunningIntoTheDirectoryAreRefused) {
    TListing l = Make("zip -q -0 a.zip noise.bin", "a.zip");
    a->Dir().DirStart = l.DirStart - 100;
    vcl::TMemoryStream out;
    EXPECT_EQ(
        ziptest::NativeErrorOf([&] { a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out); }),
        zeBadEntryData);
    EXPECT_EQ(out.Size(), 0);
}

// Declared sizes that do not fit the data: the output stops as soon as it passes the size,
// and huge fields size no allocation.
struct SizeCase {
    const char* label;
    std::uint32_t uncompressed; // central field; 0xFFFFFFFF takes zip64
    std::uint32_t compressed;
    std::uint64_t zip64Uncompressed;
    std::uint64_t zip64Compressed;
    std::int64_t maxWritten;
};

const SizeCase sizeCases[] = {
    {"SmallerThanTheData", 1000, 0, 0, 0, 1000},
    {"ZeroUncompressed", 0, 0, 0, 0, 0},
    {"HugeRatio", 0xFFFFFFFE, 1, 0, 0, 3 * 1024 * 1024 + 123},
    {"Zip64BeyondSigned", Zip64Marker32, 0, 0xFFFFFFFFFFFFFFFFull, 0, 3 * 1024 * 1024 + 123},
};

struct DeclaredSizes : EntryReader, ::testing::WithParamInterface<SizeCase> {};

TEST_P(DeclaredSizes, FailWithinBounds) {
    const SizeCase& c = GetParam();
    TListing l = Make("zip -q -6 a.zip text.txt", "a.zip");
    TEntry e = l.Entries[0];
    TZACentralHeader& h = e.Item.CentralHeader;
    h.UncompressedSize = c.uncompressed;
    if (c.compressed != 0)
        h.CompressedSize = c.compressed;
    e.Item.UncompressedSize = c.zip64Uncompressed;
    e.Item.CompressedSize = c.zip64Compressed;
    e.Item.ResolveZip64();
    vcl::TMemoryStream out;
    EXPECT_FALSE(a->Decode(e.Item, e.Offset, out));
    EXPECT_LE(out.Size(), c.maxWritten);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DeclaredSizes, ::testing::ValuesIn(sizeCases),
                         [](const auto& p) { return std::string(p.param.label); });

TEST_F(EntryReader, CompressedSizesPastTheStreamAreReadErrors) {
    TListing l = Make("zip -q -6 a.zip text.txt", "a.zip");
    for (std::uint64_t packed :
         std::initializer_list<std::uint64_t>{std::uint64_t{1} << 40, 0x7FFFFFFFFFFFFFFFull,
                                              0x8000000000000000ull, 0xFFFFFFFFFFFFFFF0ull}) {
        SCOPED_TRACE(packed);
        TEntry e = l.Entries[0];
        e.Item.CentralHeader.CompressedSize = Zip64Marker32;
        e.Item.CentralHeader.UncompressedSize = Zip64Marker32;
        e.Item.CompressedSize = packed;
        e.Item.UncompressedSize = std::uint64_t{1} << 62;
        vcl::TMemoryStream out;
        EXPECT_THROW(a->Decode(e.Item, e.Offset, out), vcl::EReadError);
        EXPECT_EQ(out.Size(), 0);
    }
}

TEST_F(EntryReader, EmptyEntries) {
    TListing l = Make("zip -q a.zip empty.txt", "a.zip");
    TEntry e = l.Entries[0];
    vcl::TMemoryStream out;
    EXPECT_TRUE(a->Decode(e.Item, e.Offset, out));
    e.Item.CentralHeader.Crc32 = 1;
    EXPECT_FALSE(a->Decode(e.Item, e.Offset, out));

    // An encrypted empty file holds its 12 header bytes, which are not written.
    std::filesystem::remove(dir / "a.zip");
    l = Make("zip -q -P pw a.zip empty.txt", "a.zip");
    EXPECT_EQ(l.Entries[0].Item.CentralHeader.CompressedSize, 12u);
    a->Password = "pw";
    EXPECT_TRUE(a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out));
    EXPECT_EQ(out.Size(), 0);

    // Fewer bytes than an encryption header: the entry is damaged.
    e = l.Entries[0];
    e.Item.CentralHeader.CompressedSize = 5;
    EXPECT_FALSE(a->Decode(e.Item, e.Offset, out));
}

// A destination that takes only so many bytes.
class TShortStream : public vcl::TMemoryStream {
public:
    explicit TShortStream(std::int64_t room) : room_(room) {}
    std::int64_t Write(const void* buffer, std::int64_t count) override {
        const std::int64_t n = std::min(count, room_ - Size());
        return vcl::TMemoryStream::Write(buffer, std::max<std::int64_t>(n, 0));
    }

private:
    std::int64_t room_;
};

TEST_F(EntryReader, ShortWriteFails) {
    TListing l = Make("zip -q -0 a.zip noise.bin", "a.zip");
    TShortStream out(4096);
    EXPECT_FALSE(a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out));
}

// ---- Passwords ----------------------------------------------------------------------------

TEST_F(EntryReader, PasswordFromTheEventStaysForTheNextEntries) {
    TListing l =
        Make("zip -q -P right a.zip text.txt noise.bin", "a.zip", {"", "wrong", "still wrong"});
    a->Password = "wrong";
    Passwords({"still wrong", "right"});
    vcl::TMemoryStream out;
    EXPECT_TRUE(a->Decode(Find(l, "text.txt").Item, Find(l, "text.txt").Offset, out));
    EXPECT_TRUE(Bytes(out) == text);
    EXPECT_EQ(asked, (std::vector<std::string>{"text.txt", "text.txt"}));
    EXPECT_EQ(a->Password, "right");
    vcl::TMemoryStream next;
    EXPECT_TRUE(a->Decode(Find(l, "noise.bin").Item, Find(l, "noise.bin").Offset, next));
    EXPECT_EQ(asked.size(), 2u);
}

TEST_F(EntryReader, SkippedPasswordWritesNothing) {
    TListing l = Make("7zz a -tzip -psecret -mem=ZipCrypto a.zip text.txt", "a.zip");
    a->Password = "";
    Passwords({});
    vcl::TMemoryStream out;
    EXPECT_FALSE(a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out));
    EXPECT_TRUE(a->SkipFile());
    EXPECT_EQ(out.Size(), 0);
    EXPECT_EQ(asked.size(), 1u);
}

TEST_F(EntryReader, AnAnswerThatRepeatsTheFailedPasswordEndsThePrompt) {
    TListing l = Make("zip -q -P right a.zip text.txt", "a.zip", {"", "wrong"});
    a->Password = "wrong";
    int calls = 0;
    a->OnPassword = [&](vcl::TObject*, const std::string&, std::string&, bool&) { ++calls; };
    vcl::TMemoryStream out;
    EXPECT_FALSE(a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out));
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(a->SkipFile());
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(EntryReader, WrongPasswordThatPassesTheCheckByteIsNoSuccess) {
    TListing l = Make("zip -q -P right a.zip text.txt noise.bin", "a.zip");
    for (const char* name : {"text.txt", "noise.bin"}) {
        SCOPED_TRACE(name);
        const TEntry& e = Find(l, name);
        // One password in 256 fits the single check byte by chance.
        std::string bytes = ReadFile(dir / "a.zip");
        RecordReader r(bytes.data() + e.Offset, 30);
        const TLocalFileHeader local = TLocalFileHeader::Read(r);
        const std::size_t start =
            static_cast<std::size_t>(e.Offset) + 30 + local.NameLength + local.ExtraLength;
        std::string impostor;
        for (int i = 0; impostor.empty(); ++i) {
            TZipCryptHeader h;
            std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(start), 12, h.begin());
            TZipCryptKeys keys;
            const std::string candidate = "guess" + std::to_string(i);
            ZipCryptDecryptHeader(candidate, keys, h);
            if (ZipCryptPasswordFits(h, local.Flags, local.Time, local.Crc32))
                impostor = candidate;
        }
        a->Password = impostor;
        Passwords({});
        vcl::TMemoryStream out;
        EXPECT_FALSE(a->Decode(e.Item, e.Offset, out));
        EXPECT_TRUE(asked.empty());
    }
}

// ---- Progress and cancel ------------------------------------------------------------------

TEST_F(EntryReader, ProgressBeforeEachChunkAndCancel) {
    TListing l = Make("zip -q -0 a.zip noise.bin", "a.zip");
    const TEntry e = l.Entries[0];
    a->EnableProgress(1, 4);
    std::vector<double> file, overall;
    int cancelAt = -1;
    a->OnFileProgress = [&](vcl::TObject*, const std::string& name, double p,
                            TZAProcessOperation op, TZAProgressPhase phase, bool& cancel) {
        EXPECT_EQ(name, "noise.bin");
        EXPECT_EQ(op, poExtract);
        EXPECT_EQ(phase, ppProcess);
        file.push_back(p);
        cancel = static_cast<int>(file.size()) == cancelAt;
    };
    a->OnOverallProgress = [&](vcl::TObject*, double p, TZAProcessOperation, TZAProgressPhase,
                               bool&) { overall.push_back(p); };
    vcl::TMemoryStream out;
    EXPECT_TRUE(a->Decode(e.Item, e.Offset, out));
    const double total = static_cast<double>(noise.size());
    ASSERT_EQ(file.size(), 2u); // 1 MiB, then the rest
    EXPECT_DOUBLE_EQ(file[0], 0);
    EXPECT_NEAR(file[1], EntryChunkSize / total * 100, 1e-9);
    ASSERT_EQ(overall.size(), 2u);
    EXPECT_NEAR(overall[0], 25, 1e-9);
    EXPECT_NEAR(overall[1], (EntryChunkSize / total + 1) / 4 * 100, 1e-9);

    // Cancelled before the second chunk: the entry is short, and the caller sees the flag.
    file.clear();
    overall.clear();
    cancelAt = 2;
    vcl::TMemoryStream cut;
    EXPECT_FALSE(a->Decode(e.Item, e.Offset, cut));
    EXPECT_TRUE(a->ProgressCancel());
    EXPECT_EQ(cut.Size(), EntryChunkSize);
    EXPECT_EQ(overall.size(), 1u); // the overall event does not follow a cancel
}

TEST_F(EntryReader, NoProgressWhileDisabled) {
    TListing l = Make("zip -q -0 a.zip noise.bin", "a.zip");
    int events = 0;
    a->OnFileProgress = [&](vcl::TObject*, const std::string&, double, TZAProcessOperation,
                            TZAProgressPhase, bool&) { ++events; };
    vcl::TMemoryStream out;
    EXPECT_TRUE(a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out));
    EXPECT_EQ(events, 0);
}

// ---- Volumes ------------------------------------------------------------------------------

struct VolumeReading : EntryReader {
    TListing l;
    std::string bytes;

    // Cuts an archive into a split set: x.z01 and x.z02 hold the first pieces, x.zip the rest.
    void Split(std::int64_t first, std::int64_t second) {
        l = Make("zip -q -0 whole.zip noise.bin", "whole.zip");
        bytes = ReadFile(dir / "whole.zip");
        const auto f = static_cast<std::size_t>(first), s = static_cast<std::size_t>(second);
        WriteFile(dir / "x.z01", bytes.substr(0, f));
        WriteFile(dir / "x.z02", bytes.substr(f, s));
        WriteFile(dir / "x.zip", bytes.substr(f + s));
    }
    bool Decode(vcl::TMemoryStream& out) {
        a->PretendClosed();
        a->SetSpanningMode(smSplitting);
        a->SpanningOptions().AdvancedNaming = false; // Info-ZIP's names: x.z01, x.z02, x.zip
        a->OpenFile(dir / "x.z01", 0);
        a->SetFileName(dir / "x.zip");
        ziptest::Engine(*a).Volumes.Info.SetNumber(0);
        a->Dir().EndRecord.DiskNumber = 2;
        return a->Decode(l.Entries[0].Item, l.Entries[0].Offset, out);
    }
};

TEST_F(VolumeReading, DataGoesOnIntoTheNextVolumes) {
    Split(300000, 600000);
    vcl::TMemoryStream out;
    EXPECT_TRUE(Decode(out));
    EXPECT_TRUE(Bytes(out) == noise);
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "x.zip");
}

TEST_F(VolumeReading, AnEmptyVolumeEndsTheRead) {
    Split(300000, 600000);
    WriteFile(dir / "x.z02", "");
    vcl::TMemoryStream out;
    EXPECT_FALSE(Decode(out));
    EXPECT_EQ(ziptest::Engine(*a).Volumes.CurrentVolumeName, dir / "x.z02");
}

TEST_F(VolumeReading, AMissingVolumeRaises45) {
    Split(300000, 600000);
    std::filesystem::remove(dir / "x.z02");
    vcl::TMemoryStream out;
    try {
        Decode(out);
        FAIL() << "no error";
    } catch (const EZAException& e) {
        EXPECT_EQ(e.NativeError(), zeVolumeCancelled);
    }
}

TEST_F(VolumeReading, NoVolumeAfterTheLast) {
    Split(300000, 600000);
    // The entry claims more bytes than the set holds: reading stops at the last volume.
    l.Entries[0].Item.CentralHeader.CompressedSize += 5000000;
    vcl::TMemoryStream out;
    EXPECT_FALSE(Decode(out));
}

TEST_F(EntryReader, ASingleFileHasNoNextVolume) {
    TListing l = Make("zip -q -0 a.zip noise.bin", "a.zip");
    TEntry e = l.Entries[0];
    e.Item.CentralHeader.CompressedSize += 100; // runs past the end of the file
    a->Dir().DirStart = 1 << 30;
    vcl::TMemoryStream out;
    EXPECT_FALSE(a->Decode(e.Item, e.Offset, out));
    // The read ended with the file; it did not start the file again as a next volume.
    EXPECT_LE(out.Size(), static_cast<std::int64_t>(noise.size()) + 100);
}

// ---- Chunk sizing and memory --------------------------------------------------------------

struct EstimateCase {
    std::uint32_t uncompressed, compressed;
    std::int64_t n, estimate;
};

TEST(EntryChunks, EstimateAndReadCount) {
    const EstimateCase cases[] = {
        {10000000, 3000000, 1048576, 8388608},
        {10000000, 3000000, 524288, 4194304},
        {10000000, 3000000, 262144, 2097152},
        {100, 100, 1048576, 4194304}, // ratio 2
        {0, 0, 100, 256},             // ratio 1, raw 256
    };
    for (const auto& c : cases)
        EXPECT_EQ(EstimateChunkOutput(c.uncompressed, c.compressed, c.n), c.estimate) << c.n;
    EXPECT_EQ(ChooseReadCount(1048576, 64 * 1024 * 1024 / 20, 10000000, 3000000), 262144);
    EXPECT_EQ(ChooseReadCount(1048576, std::int64_t{1} << 40, 10000000, 3000000), 1048576);
    // Under 512 the step stands, whatever its estimate.
    EXPECT_EQ(ChooseReadCount(1048576, 1, 0xFFFFFFFE, 1), 256);
    EXPECT_EQ(ChooseReadCount(300, 1, 10, 10), 300);
}

TEST(EntryChunks, AvailableMemory) {
    EXPECT_EQ(platform::ParseMemAvailable("MemTotal: 100 kB\nMemAvailable:   2048 kB\n"),
              2048 * 1024);
    EXPECT_FALSE(platform::ParseMemAvailable("MemTotal: 100 kB\n"));
    EXPECT_EQ(platform::CgroupHeadroom("1000000\n", "400000\n"), 600000);
    EXPECT_EQ(platform::CgroupHeadroom("1000\n", "4000\n"), 0);
    EXPECT_FALSE(platform::CgroupHeadroom("max\n", "4000\n"));
    EXPECT_FALSE(platform::CgroupHeadroom("9223372036854771712\n", "4000\n"));
    EXPECT_GT(platform::AvailablePhysicalMemory(), 0);
}

// ---- Block format -------------------------------------------------------------------------

struct BlockSpec {
    std::uint32_t blockSize = 0;
    std::uint32_t totalSize = 0;
    std::int32_t count = 0;
    std::uint8_t compression = 0;
    std::uint8_t compressed = 1;
    std::uint16_t cipher = 0xFFFF;
    // A view: GCC 12 takes a defaulted string member inside a designated-initializer table
    // for uninitialized.
    std::string_view check = "cccccccccccccccc";
    std::uint32_t checkCrc = 0;
};

std::string Deflated(const std::string& s) {
    uLongf size = compressBound(static_cast<uLong>(s.size()));
    std::string out(size, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(s.data()),
              static_cast<uLong>(s.size()), 6);
    out.resize(size);
    return out;
}

struct BlockReading : EntryReader {
    TDirItem item;

    // An archive whose one entry (method 12, version 20) holds the header and blocks.
    void Build(const BlockSpec& b, const std::vector<std::string>& blocks, std::uint32_t entrySize,
               std::uint32_t entryCrc) {
        RecordWriter data;
        data.u32(b.blockSize)
            .u32(0)
            .u32(b.totalSize)
            .u32(0)
            .u32(static_cast<std::uint32_t>(b.count));
        data.u8(b.compression).u8(b.compressed).u16(b.cipher).u32(b.checkCrc).bytes(b.check);
        data.bytes(std::string(6, '\0'));
        for (const auto& block : blocks)
            data.u32(static_cast<std::uint32_t>(block.size())).bytes(block);
        TLocalFileHeader local;
        local.VersionNeeded = 20;
        local.Method = 12;
        local.NameLength = 5;
        RecordWriter w;
        local.Write(w);
        w.bytes("b.dat").bytes(data.data());
        a->OpenMemory(w.data());
        item = {};
        item.StoredName = "b.dat";
        item.CentralHeader.VersionNeeded = 20;
        item.CentralHeader.Method = 12;
        item.CentralHeader.CompressedSize = static_cast<std::uint32_t>(data.size());
        item.CentralHeader.UncompressedSize = entrySize;
        item.CentralHeader.Crc32 = entryCrc;
    }
    bool Decode(vcl::TMemoryStream& out) { return a->Decode(item, 0, out); }
};

TEST_F(BlockReading, CompressedAndStoredBlocks) {
    const std::string plain = text.substr(0, 250000);
    const std::string b1 = plain.substr(0, 100000), b2 = plain.substr(100000, 100000),
                      b3 = plain.substr(200000);
    BlockSpec spec{.blockSize = 100000, .totalSize = 250000, .count = 3};
    Build(spec, {Deflated(b1), Deflated(b2), Deflated(b3)}, 250000, Crc(plain));
    vcl::TMemoryStream out;
    EXPECT_TRUE(Decode(out));
    EXPECT_TRUE(Bytes(out) == plain);

    spec.compressed = 0;
    Build(spec, {b1, b2, b3}, 250000, Crc(plain));
    vcl::TMemoryStream stored;
    EXPECT_TRUE(Decode(stored));
    EXPECT_TRUE(Bytes(stored) == plain);
}

TEST_F(BlockReading, FailingBlocks) {
    const std::string plain = text.substr(0, 2000);
    struct Case {
        const char* label;
        BlockSpec spec;
        std::vector<std::string> blocks;
        std::uint32_t entrySize;
        int result; // 1 True, 0 False, zeDeflate64 the header does not describe the entry
    };
    const std::vector<Case> cases = {
        {"NoBlocksAndNothingDeclared", {.count = 0}, {}, 0, 1},
        {"NoBlocksButDataDeclared", {.count = 0}, {}, 2000, zeDeflate64},
        {"TotalIsNotTheEntrysSize",
         {.blockSize = 2000, .totalSize = 1999, .count = 1},
         {Deflated(plain)},
         2000,
         zeDeflate64},
        {"BlocksDoNotCoverTheTotal",
         {.blockSize = 500, .totalSize = 2000, .count = 3},
         {Deflated(plain)},
         2000,
         zeDeflate64},
        {"OneBlockTooMany",
         {.blockSize = 1000, .totalSize = 2000, .count = 3},
         {Deflated(plain)},
         2000,
         zeDeflate64},
        {"NegativeCount",
         {.blockSize = 2000, .totalSize = 2000, .count = -1},
         {},
         2000,
         zeDeflate64},
        {"StoredBlockShorterThanItsSize",
         {.blockSize = 2000, .totalSize = 2000, .count = 1, .compressed = 0},
         {plain.substr(0, 1500)},
         2000,
         0},
        {"UnknownCompression",
         {.blockSize = 2000, .totalSize = 2000, .count = 1, .compression = 3},
         {Deflated(plain)},
         2000,
         0},
        {"BadZlibData", {.blockSize = 2000, .totalSize = 2000, .count = 1}, {"not zlib"}, 2000, 0},
        {"MoreBlocksThanData",
         {.blockSize = 2000, .totalSize = 4000, .count = 2},
         {Deflated(plain)},
         4000,
         0},
        {"LastBlockFromTheHeaderTotal",
         {.blockSize = 2000, .totalSize = 2000, .count = 1},
         {Deflated(plain)},
         2000,
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Build(c.spec, c.blocks, c.entrySize, c.entrySize == 0 ? 0 : Crc(plain));
        vcl::TMemoryStream out;
        int outcome = 0;
        const std::int32_t raised = ziptest::NativeErrorOf([&] { outcome = Decode(out) ? 1 : 0; });
        EXPECT_EQ(raised != -1 ? raised : outcome, c.result);
    }
}

TEST_F(BlockReading, HostileLengthsAllocateNothing) {
    BlockSpec spec{.blockSize = 0xFFFFFFF0u, .totalSize = 0xFFFFFFF0u, .count = 0x7FFFFFFF};
    Build(spec, {}, 100, 0);
    vcl::TMemoryStream out;
    EXPECT_EQ(ziptest::NativeErrorOf([&] { Decode(out); }), zeDeflate64);

    // A stored length of 4 GiB: refused before anything is allocated or read.
    BlockSpec lengthy{.blockSize = 100, .totalSize = 100, .count = 1, .compressed = 0};
    Build(lengthy, {std::string(100, 'x')}, 100, Crc(std::string(100, 'x')));
    const std::uint32_t huge = 0xFFFFFFFFu;
    ziptest::Engine(*a).ArchiveStream()->SetPosition(30 + 5 + BlockHeaderSize);
    ziptest::Engine(*a).ArchiveStream()->WriteBuffer(&huge, 4);
    EXPECT_FALSE(Decode(out));
    EXPECT_EQ(out.Size(), 0);
    // Nor does a compressed size the file cannot hold make room for one.
    item.CentralHeader.CompressedSize = 0xFFFFFFF0u;
    EXPECT_THROW(Decode(out), vcl::EReadError);
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(BlockReading, EncipheredEntriesAndThePasswordPrompt) {
    const std::string plain = text.substr(0, 5000);
    BlockSpec spec{.blockSize = 5000, .totalSize = 5000, .count = 1, .cipher = 1};
    // The check CRC fits the check block as it stands: no prompt.
    spec.checkCrc = Crc(std::string(spec.check));
    Build(spec, {Deflated(plain)}, 5000, Crc(plain));
    Passwords({});
    vcl::TMemoryStream out;
    EXPECT_TRUE(Decode(out));
    EXPECT_TRUE(Bytes(out) == plain);
    EXPECT_TRUE(asked.empty());

    // It does not fit: no password can change that, so one prompt settles it.
    spec.checkCrc ^= 1;
    Build(spec, {Deflated(plain)}, 5000, Crc(plain));
    vcl::TMemoryStream skipped;
    EXPECT_FALSE(Decode(skipped));
    EXPECT_TRUE(a->SkipFile());
    EXPECT_EQ(asked, std::vector<std::string>{"b.dat"});
    Passwords({"another"});
    asked.clear();
    EXPECT_FALSE(Decode(skipped));
    EXPECT_FALSE(a->SkipFile());
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(skipped.Size(), 0);
}

TEST_F(BlockReading, CancelStopsWithTrue) {
    const std::string plain = text.substr(0, 3000);
    BlockSpec spec{.blockSize = 1000, .totalSize = 3000, .count = 3};
    Build(spec,
          {Deflated(plain.substr(0, 1000)), Deflated(plain.substr(1000, 1000)),
           Deflated(plain.substr(2000))},
          3000, Crc(plain));
    a->EnableProgress(0, 1);
    int events = 0;
    a->OnFileProgress = [&](vcl::TObject*, const std::string&, double, TZAProcessOperation,
                            TZAProgressPhase, bool& cancel) { cancel = ++events == 2; };
    vcl::TMemoryStream out;
    // The block reader stops with True; the size check then fails the entry.
    EXPECT_FALSE(Decode(out));
    EXPECT_TRUE(a->ProgressCancel());
    EXPECT_EQ(out.Size(), 1000);
}

} // namespace
