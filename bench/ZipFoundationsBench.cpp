// Prints MB/s for the engine's CRC-32 against zlib's crc32, and for inflate through the
// engine's binding against zlib called directly, all over the same 256 MiB buffer, with the
// ratio engine / zlib (1.00 or more: the engine is at least as fast). Each figure is the best
// of several runs. Usage: bench_zip_foundations [megabytes]
#include "BenchSupport.h"
#include "zip/ZACrc32.h"
#include "zip/ZAZlib.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>
#include <zlib.h>

namespace {

using bench::BestSeconds;
using bench::Clock;
using bench::Report;

std::vector<std::uint8_t> MakeData(std::size_t size) {
    const std::string text = bench::TextData(size);
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Compress(const std::vector<std::uint8_t>& data) {
    uLongf size = compressBound(data.size());
    std::vector<std::uint8_t> packed(size);
    if (compress2(packed.data(), &size, data.data(), data.size(), 6) != Z_OK)
        throw std::runtime_error("compress2 failed");
    packed.resize(size);
    return packed;
}

// zlib's inflate in 1 MiB output steps, as a reader writing to a file would run it.
void ZlibInflateChunked(const std::vector<std::uint8_t>& packed, std::vector<std::uint8_t>& out) {
    z_stream s{};
    inflateInit(&s);
    s.next_in = const_cast<Bytef*>(packed.data());
    s.avail_in = static_cast<uInt>(packed.size());
    std::size_t done = 0;
    int r = Z_OK;
    while (r == Z_OK) {
        const uInt room = static_cast<uInt>(std::min<std::size_t>(1 << 20, out.size() - done));
        s.next_out = out.data() + done;
        s.avail_out = room;
        r = inflate(&s, Z_NO_FLUSH);
        done += room - s.avail_out;
    }
    inflateEnd(&s);
    if (r != Z_STREAM_END || done != out.size())
        throw std::runtime_error("zlib inflate failed");
}

void EngineInflateChunked(const std::vector<std::uint8_t>& packed, std::vector<std::uint8_t>& out) {
    zip::TZInflater inflater;
    std::span<const std::uint8_t> in(packed);
    int r = Z_OK;
    while (r == Z_OK) {
        const auto done = static_cast<std::size_t>(inflater.TotalOut());
        std::span<std::uint8_t> room =
            std::span(out).subspan(done, std::min<std::size_t>(1 << 20, out.size() - done));
        r = inflater.Inflate(in, room);
    }
    if (inflater.TotalOut() != static_cast<std::int64_t>(out.size()))
        throw std::runtime_error("engine inflate failed");
}

} // namespace

int main(int argc, char** argv) {
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const std::size_t size = megabytes << 20;
    const int runs = 5;
    std::vector<std::uint8_t> data = MakeData(size);
    std::printf("buffer %zu MiB, best of %d runs\n", megabytes, runs);

    std::uint32_t engineCrc = 0, zlibCrc = 0;
    double engine = BestSeconds(runs, [&] {
        engineCrc =
            ~zip::UpdateCrc32(zip::Crc32Start, data.data(), static_cast<std::int64_t>(size));
    });
    double zlib = BestSeconds(
        runs, [&] { zlibCrc = static_cast<std::uint32_t>(crc32_z(0, data.data(), size)); });
    if (engineCrc != zlibCrc)
        throw std::runtime_error("CRC-32 results differ");
    Report("CRC-32", size, engine, zlib);

    std::vector<std::uint8_t> packed = Compress(data);
    std::printf("deflated to %zu bytes (%.2f:1)\n", packed.size(),
                static_cast<double>(size) / static_cast<double>(packed.size()));
    std::vector<std::uint8_t> out(size);

    engine = BestSeconds(runs, [&] { EngineInflateChunked(packed, out); });
    zlib = BestSeconds(runs, [&] { ZlibInflateChunked(packed, out); });
    if (out != data)
        throw std::runtime_error("inflate output differs");
    Report("inflate, 1 MiB steps", size, engine, zlib);

    // One shot: the binding starts at its estimate cap and grows; zlib gets the final size.
    zip::TZABlock oneShot;
    engine = BestSeconds(runs, [&] {
        std::int32_t outSize = 0;
        zip::InflateBuffer(
            packed.data(), static_cast<std::int32_t>(packed.size()),
            std::min<std::int32_t>(zip::InflateBufferMaxEstimate, static_cast<std::int32_t>(size)),
            oneShot, outSize, static_cast<std::int64_t>(size));
        if (outSize != static_cast<std::int32_t>(size))
            throw std::runtime_error("InflateBuffer failed");
    });
    zlib = BestSeconds(runs, [&] {
        uLongf outSize = size;
        if (uncompress(out.data(), &outSize, packed.data(), packed.size()) != Z_OK)
            throw std::runtime_error("uncompress failed");
    });
    if (!std::equal(data.begin(), data.end(), oneShot.get()))
        throw std::runtime_error("InflateBuffer output differs");
    Report("inflate, one shot", size, engine, zlib);

    // The same zlib call into a new block each time: the binding must take fresh memory
    // from the system, so this is the like-for-like baseline.
    double fresh = BestSeconds(runs, [&] {
        zip::TZABlock block(static_cast<std::uint8_t*>(std::malloc(size)));
        uLongf outSize = size;
        if (!block || uncompress(block.get(), &outSize, packed.data(), packed.size()) != Z_OK)
            throw std::runtime_error("uncompress failed");
    });
    Report("inflate, one shot, new block", size, engine, fresh);
    return 0;
}
