// Opens one archive, lists it, and extracts every entry into a scratch folder, for the corpus
// test: run as a child under a memory limit and a time limit, so a crash, a runaway
// allocation or a hang shows as its exit. Every prompt is answered: volume requests are
// refused, passwords skipped, failures counted and ignored.
// Exit 0: opened ("opened N failed F" on the last line); 2: the engine's own error; 3: a
// stream or record error.
#include "zip/ZAExcept.h"
#include "zip/ZARecords.h"
#include "zip/ZipArchiver.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3)
        return 64;
    zip::TZipArchiver a(nullptr);
    a.SetName("ZipArchiver1");
    a.OnRequestFirstVolume = [](vcl::TObject*, std::string&, bool& cancel) { cancel = true; };
    a.OnRequestLastVolume = [](vcl::TObject*, std::string&, bool& cancel) { cancel = true; };
    a.OnRequestMiddleVolume = [](vcl::TObject*, std::int32_t, std::string&, bool& cancel) {
        cancel = true;
    };
    a.OnPassword = [](vcl::TObject*, const std::string&, std::string&, bool& skip) { skip = true; };
    int failed = 0;
    a.OnProcessFileFailure = [&](vcl::TObject*, const std::string& name, zip::TZAProcessOperation,
                                 std::int32_t native, std::int32_t, const std::string&,
                                 zip::TZAAction& action) {
        std::printf("failed\t%s\t%d\n", name.c_str(), native);
        ++failed;
        action = zip::fxaIgnore;
    };
    a.SetFileName(argv[1]);
    a.BaseDir = argv[2];
    a.Options().OverwriteMode = zip::omAlways;
    try {
        a.OpenArchive(32);
        zip::TZAArchiveItem item;
        int count = 0;
        for (bool ok = a.FindFirst("*.*", item, zip::faAllEntries, ""); ok; ok = a.FindNext(item)) {
            ++count;
            std::string name = item.Folder + item.FileName;
            std::printf("entry\t%s\t%lld\t%lld\t%08x\n", name.c_str(),
                        static_cast<long long>(item.PackedSize),
                        static_cast<long long>(item.UnpackedSize), item.CRC);
        }
        a.ExtractFiles("*.*", zip::faAllEntries, "");
        std::printf("opened %d failed %d\n", count, failed);
        return 0;
    } catch (const zip::EZAException& e) {
        std::printf("engine\t%d\t%s\n", e.NativeError(), e.what());
        return 2;
    } catch (const vcl::EStreamError& e) {
        std::printf("stream\t%s\n", e.what());
        return 3;
    } catch (const zip::ERecordTruncated& e) {
        std::printf("record\t%s\n", e.what());
        return 3;
    }
}
