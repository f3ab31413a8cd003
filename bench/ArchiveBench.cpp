// Prints figures for whole archives: extracting every entry to files with the engine
// (OpenArchive + ExtractFiles into a fresh folder) next to Info-ZIP unzip and Python's
// zipfile, on one large text-like file and on many small files, with each tool's peak RSS;
// then CompressStream at modes 1, 6 and 9 next to zlib's deflate at the same levels.
// Every extraction runs in a fresh child process, timed from start to exit, so the start-up
// of each tool is in its figure and ru_maxrss is the tool's own peak (never below that of a
// fresh copy of this program, printed first).
// Sizes: ZIP_BENCH_MB (default 256), ZIP_BENCH_FILES (default 20000), ZIP_BENCH_MODE9_MB (the
// part of the buffer mode 9 compresses, default 32), ZIP_BENCH_RUNS (best of, default 2).
// Usage: bench_zip_archive, or ZIP_BENCH_MB=16 ZIP_BENCH_FILES=2000 for a quick run. The
// scratch folder is made in TMPDIR: on a slow disk the small-file figures are mostly the file
// system's own (TMPDIR=/dev/shm shows the tools' cost).
#include "BenchSupport.h"
#include "vcl/Streams.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;
using bench::Clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::size_t EnvSize(const char* name, std::size_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

void WriteFile(const fs::path& path, const std::string& data) {
    std::ofstream(path, std::ios::binary).write(data.data(), static_cast<long>(data.size()));
}

struct ChildRun {
    double seconds = 0;
    long maxRssKb = 0;
    bool ok = false;
};

// Runs args[0] with its arguments in a new process, waits for it, and writes its time, peak
// RSS and exit status to report. Done from a freshly started copy of this program: a forked
// child's ru_maxrss begins at the RSS of the process it was forked from, which for the
// benchmark itself holds the whole data set.
int SpawnAndReport(const std::string& report, char** args) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(args[0], args);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = Seconds(start);
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::ofstream(report) << seconds << ' ' << usage.ru_maxrss << ' ' << ok << '\n';
    return 0;
}

// Runs the command through SpawnAndReport in a child of its own.
ChildRun Spawn(const std::string& self, const fs::path& scratch,
               const std::vector<std::string>& command) {
    const std::string report = (scratch / "spawn-report.txt").string();
    std::vector<std::string> args{self, "--spawn", report};
    args.insert(args.end(), command.begin(), command.end());
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ChildRun run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    std::ifstream in(report);
    in >> run.seconds >> run.maxRssKb >> run.ok;
    run.ok = in && run.ok && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

std::uintmax_t TreeBytes(const fs::path& root, std::size_t& files) {
    std::uintmax_t bytes = 0;
    files = 0;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) {
            bytes += e.file_size();
            ++files;
        }
    return bytes;
}

// The child's side: extracts the whole archive with the engine.
int ExtractWithEngine(const std::string& archive, const std::string& dest) {
    try {
        vcl::TComponent owner(nullptr);
        auto* archiver = vcl::Create<zip::TZipArchiver>(&owner);
        archiver->SetName("ZipArchiver1");
        archiver->SetFileName(archive);
        archiver->BaseDir = dest;
        archiver->OpenArchive();
        archiver->ExtractFiles("*.*", 10431, "");
        archiver->CloseArchive();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "extraction failed: %s\n", e.what());
        return 1;
    }
    return 0;
}

struct Tool {
    const char* name;
    std::vector<std::string> (*command)(const std::string& self, const std::string& archive,
                                        const std::string& dest);
};

const Tool tools[] = {
    {"engine",
     [](const std::string& self, const std::string& archive, const std::string& dest) {
         return std::vector<std::string>{self, "--extract", archive, dest};
     }},
    {"unzip",
     [](const std::string&, const std::string& archive, const std::string& dest) {
         return std::vector<std::string>{"/usr/bin/unzip", "-qo", archive, "-d", dest};
     }},
    {"python",
     [](const std::string&, const std::string& archive, const std::string& dest) {
         return std::vector<std::string>{
             "/usr/bin/python3", "-c",
             "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])", archive,
             dest};
     }},
};

// Best of runs for every tool on one archive; the engine's output is checked against the
// source tree's size and file count.
void BenchExtraction(const char* label, const std::string& self, const fs::path& scratch,
                     const fs::path& archive, std::uintmax_t bytes, std::size_t files, int runs) {
    double engineSeconds = 0, unzipSeconds = 0;
    for (const Tool& tool : tools) {
        ChildRun best;
        best.seconds = 1e300;
        bool ok = true;
        for (int i = 0; i < runs; ++i) {
            const fs::path dest = scratch / "out";
            fs::remove_all(dest);
            fs::create_directories(dest);
            ::sync(); // the previous run's writeback must not land in this one's time
            const ChildRun run =
                Spawn(self, scratch, tool.command(self, archive.string(), dest.string()));
            std::size_t gotFiles = 0;
            const std::uintmax_t gotBytes = TreeBytes(dest, gotFiles);
            ok = ok && run.ok && gotBytes == bytes && gotFiles == files;
            if (run.seconds < best.seconds)
                best = run;
            best.maxRssKb = std::max(best.maxRssKb, run.maxRssKb);
        }
        const double mb = static_cast<double>(bytes) / 1e6;
        std::printf("%-22s %-7s %8.3f s  %8.1f MB/s  %9.0f files/s  peak RSS %7.1f MB%s\n", label,
                    tool.name, best.seconds, mb / best.seconds,
                    static_cast<double>(files) / best.seconds,
                    static_cast<double>(best.maxRssKb) / 1024, ok ? "" : "  (OUTPUT WRONG)");
        if (std::string(tool.name) == "engine")
            engineSeconds = best.seconds;
        if (std::string(tool.name) == "unzip")
            unzipSeconds = best.seconds;
    }
    std::printf("%-22s speed engine/unzip %.2f (above 1: the engine is faster)\n", label,
                unzipSeconds / engineSeconds);
    std::fflush(stdout);
}

// Takes everything and keeps nothing.
class TSinkStream : public vcl::TStream {
public:
    std::int64_t Read(void*, std::int64_t) override { return 0; }
    std::int64_t Write(const void*, std::int64_t count) override {
        size_ += count;
        return count;
    }
    std::int64_t Seek(std::int64_t, vcl::TSeekOrigin) override { return size_; }
    void SetSize(std::int64_t size) override { size_ = size; }
    std::int64_t Size() override { return size_; }

private:
    std::int64_t size_ = 0;
};

class TBenchArchiver : public zip::TZipArchiver {
public:
    using TZipArchiver::TZipArchiver;
    std::int64_t Compress(vcl::TStream& source, std::uint8_t mode) {
        zip::TDirItem entry;
        entry.StoredName = entry.SourceFileName = "big.txt";
        entry.NewData = true;
        entry.CompressionMode = mode;
        entry.CentralHeader.Method = 8;
        TSinkStream sink;
        if (!CompressStream(source, sink, entry))
            return -1;
        return sink.Size();
    }
};

// Raw deflate of the whole buffer in one stream, the output discarded 1 MiB at a time.
std::int64_t ZlibDeflate(const std::string& data, int level) {
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<Bytef> out(1 << 20);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    int r = Z_OK;
    while (r == Z_OK) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        r = deflate(&z, Z_FINISH);
    }
    const auto total = static_cast<std::int64_t>(z.total_out);
    deflateEnd(&z);
    return r == Z_STREAM_END ? total : -1;
}

// Mode 9 runs at a few MB/s on this data, so it gets a prefix of the buffer (maxMode9 bytes).
void BenchCompression(const std::string& data, std::size_t maxMode9) {
    vcl::TComponent owner(nullptr);
    auto* archiver = vcl::Create<TBenchArchiver>(&owner);
    archiver->SetName("ZipArchiver1");
    for (const std::uint8_t mode : {1, 6, 9}) {
        const std::string part = mode == 9 ? data.substr(0, maxMode9) : std::string();
        const std::string& input = mode == 9 ? part : data;
        vcl::TMemoryStream source;
        source.WriteBuffer(input.data(), static_cast<std::int64_t>(input.size()));
        const double mb = static_cast<double>(input.size()) / 1e6;
        auto start = Clock::now();
        const std::int64_t engineSize = archiver->Compress(source, mode);
        const double engine = Seconds(start);
        start = Clock::now();
        const std::int64_t zlibSize = ZlibDeflate(input, mode);
        const double zlib = Seconds(start);
        std::printf("CompressStream mode %d, %4.0f MB   engine %7.1f MB/s (%5.1f%%)   zlib %7.1f "
                    "MB/s (%5.1f%%)   speed engine/zlib %.2f\n",
                    mode, mb, mb / engine, 100.0 * static_cast<double>(engineSize) / 1e6 / mb,
                    mb / zlib, 100.0 * static_cast<double>(zlibSize) / 1e6 / mb, zlib / engine);
        std::fflush(stdout);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--extract")
        return ExtractWithEngine(argv[2], argv[3]);
    if (argc > 3 && std::string(argv[1]) == "--spawn")
        return SpawnAndReport(argv[2], argv + 3);
    if (argc == 2 && std::string(argv[1]) == "--idle")
        return 0;

    const std::size_t megabytes = EnvSize("ZIP_BENCH_MB", 256);
    const std::size_t fileCount = EnvSize("ZIP_BENCH_FILES", 20000);
    const int runs = static_cast<int>(std::max<std::size_t>(EnvSize("ZIP_BENCH_RUNS", 2), 1));
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    std::string tmpl = (fs::temp_directory_path() / "zip-archive-bench.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path scratch = tmpl;
    const auto total = Clock::now();
    std::printf("archive benchmark: %zu MiB file, %zu small files, best of %d\n", megabytes,
                fileCount, runs);

    // One large text-like file, deflated by zip at its default level.
    const std::string big = bench::TextData(megabytes << 20, 42);
    fs::create_directories(scratch / "big");
    WriteFile(scratch / "big" / "big.txt", big);
    // Many small files of 1 to 8 KiB in 100 folders.
    std::mt19937 generator(7);
    std::uintmax_t smallBytes = 0;
    for (std::size_t i = 0; i < fileCount; ++i) {
        const fs::path folder = scratch / "small" / ("d" + std::to_string(i % 100));
        if (i < 100)
            fs::create_directories(folder);
        const std::size_t size = 1024 + generator() % (7 * 1024 + 1);
        smallBytes += size;
        WriteFile(folder / ("f" + std::to_string(i) + ".txt"), bench::TextData(size, generator()));
    }
    const std::string zipBig = "cd '" + (scratch / "big").string() + "' && zip -q -r ../big.zip .";
    const std::string zipSmall =
        "cd '" + (scratch / "small").string() + "' && zip -q -r -D ../small.zip .";
    if (std::system(zipBig.c_str()) != 0 || std::system(zipSmall.c_str()) != 0) {
        std::fprintf(stderr, "zip failed\n");
        return 1;
    }
    std::printf("archives made in %.1f s\n", Seconds(total));

    const ChildRun idle = Spawn(self, scratch, {self, "--idle"});
    std::printf("(this program doing nothing: %.3f s, peak RSS %.1f MB)\n", idle.seconds,
                static_cast<double>(idle.maxRssKb) / 1024);
    BenchExtraction("one large file", self, scratch, scratch / "big.zip", big.size(), 1, runs);
    BenchExtraction("small files", self, scratch, scratch / "small.zip", smallBytes, fileCount,
                    runs);
    BenchCompression(big, EnvSize("ZIP_BENCH_MODE9_MB", 32) << 20);

    fs::remove_all(scratch);
    std::printf("total %.1f s\n", Seconds(total));
    return 0;
}
