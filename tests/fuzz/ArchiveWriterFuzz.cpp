// libFuzzer target for the writing road: the input is taken for an archive file and changed by
// one update batch, as a user would change it: a new file is added, a file named like the
// first entry replaces it, the entries matching "*a*" are deleted.
// What must hold afterwards:
// - a batch that failed left the archive byte for byte and wrote nothing anywhere;
// - a batch that succeeded kept every entry it neither deleted nor replaced, in its order,
//   under the name it was listed by, with its CRC and sizes, and an entry that passed the
//   test before still passes it; the new file reads back as it was;
// - nothing was written outside the scratch folder's places for it.
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string NewFile = "new.txt";

// The folder every run works in: the archive, the sources of the batch two levels below (a
// name climbing out of them lands where this target looks), the temporary folder, the folder
// the new file is extracted to.
struct TScratch {
    fs::path root;
    fs::path archive;
    fs::path base;
    fs::path temp;
    fs::path out;

    TScratch() {
        std::string pattern = (fs::temp_directory_path() / "zipwritefuzz.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root = pattern;
        archive = root / "in.zip";
        base = root / "a" / "b" / "base";
        temp = root / "tmp";
        out = root / "out";
    }
    ~TScratch() {
        std::error_code ec;
        fs::remove_all(root, ec);
    }
    TScratch(const TScratch&) = delete;
    TScratch& operator=(const TScratch&) = delete;
};

TScratch& Scratch() {
    static TScratch scratch;
    return scratch;
}

struct TListed {
    std::int32_t Index = 0;
    std::string Name; // folder and file name, as FindFirst gives them
    std::uint32_t Crc = 0;
    std::int64_t Packed = 0;
    std::int64_t Unpacked = 0;
    std::uint32_t Attributes = 0;
    bool Passed = true; // by TestFiles
};

// The listings of the run, shown with a finding.
std::vector<TListed>* Shown[2] = {nullptr, nullptr};

void Show() {
    const char* titles[2] = {"before", "after"};
    for (int i = 0; i < 2; ++i) {
        if (!Shown[i])
            continue;
        std::fprintf(stderr, "%s:\n", titles[i]);
        for (const TListed& e : *Shown[i])
            std::fprintf(stderr, "  %d %s crc %08x %lld/%lld %s\n", e.Index, e.Name.c_str(), e.Crc,
                         static_cast<long long>(e.Packed), static_cast<long long>(e.Unpacked),
                         e.Passed ? "passes" : "fails");
    }
}

[[noreturn]] void Fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "oracle: %s %s\n", what, detail.c_str());
    Show();
    // ZIP_WRITE_FUZZ_KEEP names where the archive as the batch left it is kept.
    if (const char* keep = std::getenv("ZIP_WRITE_FUZZ_KEEP")) {
        std::error_code ec;
        fs::copy_file(Scratch().archive, keep, fs::copy_options::overwrite_existing, ec);
    }
    std::abort();
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Every path below the root, but what lies below the folders that may hold anything.
std::set<std::string> Listing(const TScratch& s) {
    std::set<std::string> paths;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(s.root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec)
            break;
        paths.insert(it->path().string());
        if (it->path() == s.out)
            it.disable_recursion_pending();
    }
    return paths;
}

void Answer(zip::TZipArchiver& a, bool& failed) {
    a.SetName("ZipArchiver1");
    // No password is known: every encrypted entry is skipped, the same way each time.
    a.OnPassword = [](vcl::TObject*, const std::string&, std::string&, bool& skip) { skip = true; };
    a.OnConfirmOverwrite = [](vcl::TObject*, const std::string&, std::string&, bool& confirm) {
        confirm = true;
    };
    a.OnProcessFileFailure = [&failed](vcl::TObject*, const std::string&, zip::TZAProcessOperation,
                                       std::int32_t, std::int32_t, const std::string&,
                                       zip::TZAAction& action) {
        failed = true;
        action = zip::fxaIgnore;
    };
    a.OnRequestBlankVolume = [](vcl::TObject*, std::int32_t, std::string&, bool& cancel) {
        cancel = true;
    };
    a.OnRequestFirstVolume = [](vcl::TObject*, std::string&, bool& cancel) { cancel = true; };
    a.OnRequestLastVolume = [](vcl::TObject*, std::string&, bool& cancel) { cancel = true; };
    a.OnRequestMiddleVolume = [](vcl::TObject*, std::int32_t, std::string&, bool& cancel) {
        cancel = true;
    };
    a.OnDiskFull = [](vcl::TObject*, std::int32_t, const std::string&, bool& cancel) {
        cancel = true;
    };
}

// The entries FindFirst gives for mask, each with its test result when tested is set.
std::vector<TListed> List(zip::TZipArchiver& a, const std::string& mask, bool tested) {
    std::vector<TListed> listed;
    zip::TZAArchiveItem item;
    for (bool ok = a.FindFirst(mask, item, zip::faAllEntries, ""); ok; ok = a.FindNext(item))
        listed.push_back({item.Search.EntryIndex, item.Folder + item.FileName, item.CRC,
                          item.PackedSize, item.UnpackedSize, item.Attributes, true});
    if (!tested || listed.empty())
        return listed;
    // The test walks the same entries in the same order: each confirmation is the next one.
    std::size_t current = 0;
    bool failed = false;
    a.OnConfirmProcessFile = [&](vcl::TObject*, const std::string&, zip::TZAProcessOperation,
                                 bool& confirm) {
        confirm = true;
        if (failed && current >= 1)
            listed[current - 1].Passed = false;
        failed = false;
        ++current;
    };
    auto failure = a.OnProcessFileFailure;
    a.OnProcessFileFailure = [&](vcl::TObject* sender, const std::string& name,
                                 zip::TZAProcessOperation op, std::int32_t native,
                                 std::int32_t code, const std::string& message,
                                 zip::TZAAction& action) {
        failed = true;
        failure(sender, name, op, native, code, message, action);
    };
    bool whole = true;
    try {
        a.TestFiles(mask, zip::faAllEntries, "");
    } catch (const zip::EZAException&) {
        whole = false;
    } catch (const vcl::EStreamError&) {
        whole = false;
    }
    if (failed && current >= 1)
        listed[current - 1].Passed = false;
    // A run that ended early tested none of the entries after it.
    if (!whole)
        for (std::size_t i = current == 0 ? 0 : current - 1; i < listed.size(); ++i)
            listed[i].Passed = false;
    a.OnConfirmProcessFile = nullptr;
    a.OnProcessFileFailure = failure;
    return listed;
}

// A name the batch can make a file of below its base folder: relative, every part a real
// name, no wildcard (AddFiles takes its argument for a mask).
bool Replaceable(const TListed& e) {
    const std::string& n = e.Name;
    if (n.empty() || n.size() > 200 || n.front() == '/' || n.back() == '/' ||
        (e.Attributes & 0x10) || n.find_first_of(std::string("*?\\:\0", 5)) != std::string::npos)
        return false;
    std::size_t from = 0;
    for (;;) {
        const std::size_t to = n.find('/', from);
        const std::string part = n.substr(from, to - from);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (to == std::string::npos)
            return true;
        from = to + 1;
    }
}

struct TOpen {
    bool failed = false;
    zip::TZipArchiver a{nullptr};
    explicit TOpen(const TScratch& s) {
        Answer(a, failed);
        a.SetFileName(s.archive.string());
        a.BaseDir = s.base.string();
        a.TempDir = s.temp.string();
        a.Options().OverwriteMode = zip::omAlways;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TScratch& s = Scratch();
    std::error_code ec;
    fs::remove_all(s.root / "a", ec);
    fs::remove_all(s.temp, ec);
    fs::remove_all(s.out, ec);
    fs::create_directories(s.base);
    fs::create_directories(s.temp);
    fs::create_directories(s.out);
    const std::string input(reinterpret_cast<const char*>(data), size);
    WriteAll(s.archive, input);

    std::vector<TListed> before;
    std::vector<TListed> deleted;
    std::vector<TListed> after;
    Shown[0] = &before;
    Shown[1] = &after;
    {
        TOpen o(s);
        try {
            o.a.OpenArchive();
            before = List(o.a, "*", true);
            deleted = List(o.a, "*a*", false);
            o.a.CloseArchive();
        } catch (const std::exception& e) {
            if (std::getenv("ZIP_WRITE_FUZZ_SHOW"))
                std::fprintf(stderr, "not opened: %s\n", e.what());
            return 0;
        }
    }
    // What the batch writes: its sources, made now, so that they are no finding.
    const std::string added = "A new file. " + std::to_string(size) + "\n";
    WriteAll(s.base / NewFile, added);
    std::string replacedName;
    const std::string replacement = "The replacement of the first entry.\n";
    // The listing gives folder entries without their "/": a name listed twice may stand for
    // "x" and "x/", and which of the two the batch replaces cannot be told from here.
    const auto listedOnce = [&before](const std::string& name) {
        return std::count_if(before.begin(), before.end(),
                             [&name](const TListed& e) { return e.Name == name; }) == 1;
    };
    if (!before.empty() && Replaceable(before.front()) && before.front().Name != NewFile &&
        listedOnce(before.front().Name)) {
        replacedName = before.front().Name;
        fs::create_directories((s.base / replacedName).parent_path(), ec);
        if (!ec && !fs::exists(s.base / replacedName))
            WriteAll(s.base / replacedName, replacement);
        else
            replacedName.clear();
    }
    const std::string archiveBefore = ReadAll(s.archive);
    const std::set<std::string> pathsBefore = Listing(s);

    bool ended = true;
    bool failures = false;
    {
        TOpen o(s);
        try {
            o.a.OpenArchive();
            o.a.BeginUpdate();
            o.a.Options().Recurse = false;
            o.a.AddFiles(NewFile, zip::faAllEntries, "");
            if (!replacedName.empty())
                o.a.AddFiles(replacedName, zip::faAllEntries, "");
            o.a.Options().Recurse = true;
            o.a.DeleteFiles("*a*", zip::faAllEntries, "");
            o.a.EndUpdate();
        } catch (const zip::EZAException&) {
            ended = false;
        } catch (const vcl::EStreamError&) {
            ended = false;
        }
        failures = o.failed;
        try {
            o.a.CloseArchive();
        } catch (const std::exception&) {
        }
    }
    if (!ended) {
        if (ReadAll(s.archive) != archiveBefore)
            Fail("a failed batch changed the archive");
        if (Listing(s) != pathsBefore)
            Fail("a failed batch left a file behind");
        return 0;
    }

    // What the batch must have kept: every listed entry but the deleted ones, in order.
    std::set<std::int32_t> gone;
    for (const TListed& d : deleted)
        gone.insert(d.Index);
    // The entries the batch may have replaced: the first entry, and whatever stands under the
    // new file's name (all of them where that name is listed twice).
    std::int32_t replacedIndex = -1;
    std::set<std::int32_t> changed;
    bool newAdded =
        listedOnce(NewFile) || std::none_of(before.begin(), before.end(),
                                            [](const TListed& e) { return e.Name == NewFile; });
    for (const TListed& e : before) {
        if (replacedIndex < 0 && !replacedName.empty() && e.Name == replacedName) {
            replacedIndex = e.Index;
            changed.insert(e.Index);
        }
        if (e.Name == NewFile) {
            changed.insert(e.Index);
            // A folder entry of that name stays: no file replaces a folder.
            newAdded = newAdded && (e.Attributes & 0x10) == 0;
        }
    }
    std::vector<const TListed*> kept;
    for (const TListed& e : before)
        if (!gone.count(e.Index))
            kept.push_back(&e);

    TOpen o(s);
    try {
        o.a.OpenArchive();
        after = List(o.a, "*", true);
    } catch (const std::exception& e) {
        Fail("the archive no longer opens", e.what());
    }
    if (after.size() < kept.size())
        Fail("entries went missing");
    for (std::size_t i = 0; i < kept.size(); ++i) {
        const TListed& was = *kept[i];
        const TListed& now = after[i];
        if (now.Name != was.Name)
            Fail("an entry changed its name", was.Name + " -> " + now.Name);
        if (changed.count(was.Index))
            continue;
        if (now.Crc != was.Crc || now.Packed != was.Packed || now.Unpacked != was.Unpacked)
            Fail("an entry it did not change changed", was.Name);
        if (was.Passed && !now.Passed)
            Fail("an entry that passed its test fails it now", was.Name);
    }
    // Extraction by name cannot tell entries of one name apart: only a name that stands once
    // is read back.
    auto once = [&after](const std::string& name) {
        std::size_t n = 0;
        for (const TListed& e : after)
            n += e.Name == name || e.Name.ends_with("/" + name);
        return n == 1;
    };
    if (!failures && newAdded && once(NewFile)) {
        // The new file and the replacement read back as they were written.
        o.a.BaseDir = s.out.string();
        o.failed = false;
        try {
            o.a.ExtractFiles(NewFile, zip::faAllEntries, "");
            if (ReadAll(s.out / NewFile) != added)
                Fail("the added file does not read back");
            if (replacedIndex >= 0 && !gone.count(replacedIndex) && once(replacedName)) {
                o.a.ExtractFiles(replacedName, zip::faAllEntries, "");
                if (ReadAll(s.out / replacedName) != replacement)
                    Fail("the replacement does not read back", replacedName);
            }
        } catch (const std::exception& e) {
            Fail("the new entries cannot be extracted", e.what());
        }
        if (o.failed)
            Fail("the new entries fail their extraction");
    }
    o.a.CloseArchive();
    if (std::getenv("ZIP_WRITE_FUZZ_SHOW"))
        Show();

    // Nothing new outside the extraction folder but what the batch was asked to write.
    std::set<std::string> paths = Listing(s);
    for (const std::string& p : paths)
        if (!pathsBefore.count(p) && p.rfind(s.out.string() + "/", 0) != 0)
            Fail("written outside its places", p);
    if (!fs::is_empty(s.temp))
        Fail("a temporary file was left behind");
    return 0;
}
