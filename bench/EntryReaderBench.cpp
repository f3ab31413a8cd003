// Prints MB/s for DecompressStream on one deflated and one stored entry of an archive held in
// memory, against zlib's raw inflate (and a plain copy with crc32) over the same data into a
// sink, with the ratio engine / zlib. Each figure is the best of several runs.
// Usage: bench_zip_entry_reader [megabytes]
#include "BenchSupport.h"
#include "vcl/Streams.h"
#include "zip/ZACrc32.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZARecords.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using bench::BestSeconds;
using bench::Report;

// Takes everything and keeps nothing, so the figures are the reader's own.
class TSinkStream : public vcl::TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t count) override {
        size_ += count;
        return count;
    }
    std::int64_t Seek(std::int64_t, vcl::TSeekOrigin) override { return size_; }
    void SetSize(std::int64_t size) override { size_ = size; }

private:
    std::int64_t size_ = 0;
};

class TBenchArchiver : public zip::TZipArchiver {
public:
    using TZipArchiver::TZipArchiver;
    void Open(std::unique_ptr<vcl::TStream> stream, std::int64_t dirStart) {
        FArchiveStream = std::move(stream);
        FDirManager = std::make_unique<zip::TZADirManager>();
        FDirManager->DirStart = dirStart;
        FActive = true;
    }
    bool Decode(const zip::TDirItem& item, vcl::TStream& dest) {
        FArchiveStream->SetPosition(0);
        return zip::TZAEngine::Of(*this).DecompressStream(*FArchiveStream, dest, item);
    }
};

std::string RawDeflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t size = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256) << 20;
    const int runs = 3;
    const std::string data = bench::TextData(size);
    const std::uint32_t crc =
        ~zip::UpdateCrc32(zip::Crc32Start, data.data(), static_cast<std::int64_t>(data.size()));
    vcl::TComponent owner(nullptr);
    auto* archiver = vcl::Create<TBenchArchiver>(&owner);

    for (const bool deflated : {true, false}) {
        const std::string packed = deflated ? RawDeflate(data) : data;
        zip::TLocalFileHeader local;
        local.Method = deflated ? 8 : 0;
        local.NameLength = 5;
        zip::RecordWriter w;
        local.Write(w);
        w.bytes("e.txt").bytes(packed);
        auto stream = std::make_unique<vcl::TMemoryStream>();
        stream->WriteBuffer(w.data().data(), static_cast<std::int64_t>(w.size()));
        archiver->Open(std::move(stream), static_cast<std::int64_t>(w.size()));
        zip::TDirItem item;
        item.StoredName = "e.txt";
        item.CentralHeader.Method = local.Method;
        item.CentralHeader.VersionNeeded = 20;
        item.CentralHeader.Crc32 = crc;
        item.CentralHeader.CompressedSize = static_cast<std::uint32_t>(packed.size());
        item.CentralHeader.UncompressedSize = static_cast<std::uint32_t>(data.size());
        item.ResolveZip64();

        bool ok = true;
        const double engine = BestSeconds(runs, [&] {
            TSinkStream sink;
            ok = archiver->Decode(item, sink) && ok;
        });
        std::vector<Bytef> out(1 << 20);
        const double zlib = BestSeconds(runs, [&] {
            std::uint32_t c = 0;
            if (!deflated) {
                c = static_cast<std::uint32_t>(crc32(0,
                                                     reinterpret_cast<const Bytef*>(packed.data()),
                                                     static_cast<uInt>(packed.size())));
            } else {
                z_stream z{};
                inflateInit2(&z, -15);
                z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
                z.avail_in = static_cast<uInt>(packed.size());
                int r = Z_OK;
                while (r == Z_OK) {
                    z.next_out = out.data();
                    z.avail_out = static_cast<uInt>(out.size());
                    r = inflate(&z, Z_NO_FLUSH);
                    c = static_cast<std::uint32_t>(
                        crc32(c, out.data(), static_cast<uInt>(out.size() - z.avail_out)));
                }
                inflateEnd(&z);
            }
            ok = c == crc && ok;
        });
        if (!ok) {
            std::fprintf(stderr, "decoding failed\n");
            return 1;
        }
        Report(deflated ? "DecompressStream deflated" : "DecompressStream stored", data.size(),
               engine, zlib);
    }
    return 0;
}
