// Opens one archive and lists it, for the corpus test: run as a child under an address-space
// limit and a time limit, so a crash, a runaway allocation or a hang shows as its exit.
// Exit 0: opened and listed; 2: the engine's own error; 3: a stream or record error.
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2)
        return 64;
    zip::TZipArchiver a(nullptr);
    a.SetName("ZipArchiver1");
    // Nothing may wait for a person: every volume request is refused.
    a.OnRequestFirstVolume = [](vcl::TObject*, std::string&, bool& cancel) { cancel = true; };
    a.OnRequestLastVolume = [](vcl::TObject*, std::string&, bool& cancel) { cancel = true; };
    a.OnRequestMiddleVolume = [](vcl::TObject*, std::int32_t, std::string&, bool& cancel) {
        cancel = true;
    };
    a.SetFileName(argv[1]);
    try {
        a.OpenArchive(32);
        zip::TZAArchiveItem item;
        int count = 0;
        for (bool ok = a.FindFirst("*.*", item, 10431, ""); ok; ok = a.FindNext(item)) {
            ++count;
            std::string name = item.Folder + item.FileName;
            std::printf("entry\t%s\t%lld\t%lld\t%08x\n", name.c_str(),
                        static_cast<long long>(item.PackedSize),
                        static_cast<long long>(item.UnpackedSize), item.CRC);
        }
        std::printf("opened\t%d\tspanning=%d\n", count, static_cast<int>(a.SpanningMode()));
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
