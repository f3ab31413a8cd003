// libFuzzer target for the reading road: the input is taken for an archive file, opened,
// listed, tested and extracted into a scratch folder with every prompt answered, and nothing
// may be written anywhere but the extraction folder and the archiver's temporary folder.
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The folder every run works in: the archive, the extraction folder two levels below (so
// that a name climbing out of it lands somewhere this target looks), the temporary folder.
struct TScratch {
    fs::path root;
    fs::path archive;
    fs::path nest;
    fs::path out;
    fs::path temp;

    TScratch() {
        std::string pattern = (fs::temp_directory_path() / "zipfuzz.XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::abort();
        root = pattern;
        archive = root / "in.zip";
        nest = root / "a" / "b";
        out = nest / "out";
        temp = root / "tmp";
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

void Reset(const TScratch& s) {
    std::error_code ec;
    fs::remove_all(s.root / "a", ec);
    fs::remove_all(s.temp, ec);
    fs::create_directories(s.nest);
    fs::create_directories(s.temp);
}

// Everything under the scratch root must be the archive, the temporary folder (empty once
// the run is over) or lie below the extraction folder.
void CheckNothingOutside(const TScratch& s) {
    for (auto it = fs::recursive_directory_iterator(s.root);
         it != fs::recursive_directory_iterator(); ++it) {
        const fs::path p = it->path();
        if (p == s.archive || p == s.temp || p == s.root / "a" || p == s.root / "a" / "b" ||
            p == s.out) {
            continue;
        }
        const std::string text = p.string();
        const std::string below = s.out.string() + "/";
        if (text.compare(0, below.size(), below) == 0) {
            it.disable_recursion_pending();
            continue;
        }
        std::fprintf(stderr, "written outside the extraction folder: %s\n", text.c_str());
        std::abort();
    }
}

void Answer(zip::TZipArchiver& a) {
    a.SetName("ZipArchiver1");
    int passwords = 0;
    a.OnPassword = [passwords](vcl::TObject*, const std::string&, std::string& password,
                               bool& skip) mutable {
        // One wrong guess, then the entry is skipped.
        if (passwords++ == 0)
            password = "fuzz";
        else
            skip = true;
    };
    a.OnConfirmOverwrite = [](vcl::TObject*, const std::string&, std::string&, bool& confirm) {
        confirm = true;
    };
    a.OnProcessFileFailure = [](vcl::TObject*, const std::string&, zip::TZAProcessOperation,
                                std::int32_t, std::int32_t, const std::string&,
                                zip::TZAAction& action) { action = zip::fxaIgnore; };
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TScratch& s = Scratch();
    Reset(s);
    {
        std::ofstream file(s.archive, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    {
        zip::TZipArchiver a(nullptr);
        Answer(a);
        a.SetFileName(s.archive.string());
        a.BaseDir = s.out.string();
        a.TempDir = s.temp.string();
        a.Options().OverwriteMode = zip::omAlways;
        try {
            a.OpenArchive(32);
            zip::TZAArchiveItem item;
            for (bool ok = a.FindFirst("*.*", item, zip::faAllEntries, ""); ok;
                 ok = a.FindNext(item)) {
            }
            a.TestFiles("*.*", zip::faAllEntries, "");
            a.ExtractFiles("*.*", zip::faAllEntries, "");
            a.CloseArchive();
        } catch (const zip::EZAException&) {
        } catch (const vcl::EStreamError&) {
        }
    }
    CheckNothingOutside(s);
    return 0;
}
