// Prints figures for whole archives, each tool in a fresh child process timed from start to
// exit (its start-up counts), pinned to the same cores, the median of several rounds in which
// the tools take turns:
// - extraction of a mixed corpus deflated by `zip -6`, of one large text file and of many
//   small files, by the engine and the peers installed (unzip, bsdtar, 7zz, Python's
//   zipfile), as a ratio to the floor: every entry inflated with zlib (and ISA-L when built)
//   from the mapped archive and its CRC-32 taken, nothing written; beside it the time to write
//   the same files from memory, the part of any extraction decoding does not cover;
// - extraction of the same corpus stored (`zip -0`), as a ratio to `cp -r` of its folder;
// - opening and listing a directory of many entries;
// - files/s, system calls per file (strace -c -f, when strace is installed) and peak RSS;
// - then CompressStream at modes 1, 6 and 9 next to zlib's deflate at the same levels.
// Sizes: ZIP_BENCH_CORPUS_MB (default 200), ZIP_BENCH_MB (the large file, 256 MiB),
// ZIP_BENCH_FILES (20000), ZIP_BENCH_LIST (100000 entries), ZIP_BENCH_MODE9_MB (32),
// ZIP_BENCH_COMPRESS_MB (64, 0 leaves the compression figures out), ZIP_BENCH_RUNS (5 rounds),
// ZIP_BENCH_CPUS (the cores, default "6,7"), ZIP_BENCH_ONLY (some of "mixed,big,small,stored,list";
// all when not set). The data is made from fixed seeds in a scratch
// folder under TMPDIR, or /dev/shm when TMPDIR is not set, so the figures are the tools' own
// and not the disk's.
#include "ArchiveCorpus.h"
#include "ArchiveFloor.h"
#include "BenchChild.h"
#include "BenchSupport.h"
#include "WriteFloor.h"
#include "vcl/Streams.h"
#include "zip/ZADirArray.h"
#include "zip/ZAEngine.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

namespace fs = std::filesystem;
using bench::ChildRun;
using bench::Clock;
using bench::Executable;
using bench::Median;
using bench::Spawn;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

std::size_t EnvSize(const char* name, std::size_t fallback) {
    const char* value = std::getenv(name);
    return value && *value ? std::strtoul(value, nullptr, 10) : fallback;
}

bool OnTmpfs(const fs::path& path) {
    struct statfs fs {};
    return ::statfs(path.c_str(), &fs) == 0 && fs.f_type == 0x01021994; // TMPFS_MAGIC
}

// An empty dest for the next run; on a disk, the previous run's write-back is finished first
// so that it does not land in this one's time.
void EmptyDestination(const fs::path& dest) {
    fs::remove_all(dest);
    fs::create_directories(dest);
    if (!OnTmpfs(dest.parent_path()))
        ::sync();
}

// All system calls of the command and its children; -1 without strace.
long CountSystemCalls(const std::string& self, const fs::path& scratch,
                      const std::vector<std::string>& command) {
    const auto calls = bench::SystemCalls(self, scratch, command);
    const auto total = calls.find("total");
    return total == calls.end() ? -1 : total->second;
}

bench::TreeFigures TreeOf(const fs::path& root) {
    bench::TreeFigures t;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file()) {
            t.bytes += e.file_size();
            ++t.files;
        }
    return t;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// True when every file under source exists under copy with the same bytes, and copy holds
// no other file.
bool SameTree(const fs::path& source, const fs::path& copy) {
    std::size_t files = 0;
    for (const auto& e : fs::recursive_directory_iterator(source)) {
        if (!e.is_regular_file())
            continue;
        ++files;
        if (ReadAll(e.path()) != ReadAll(copy / fs::relative(e.path(), source)))
            return false;
    }
    return TreeOf(copy).files == files;
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
        archiver->ExtractFiles("*.*", zip::faAllEntries, "");
        archiver->CloseArchive();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "extraction failed: %s\n", e.what());
        return 1;
    }
    return 0;
}

// The child's side: opens the archive with the engine and prints every entry's name.
int ListWithEngine(const std::string& archive) {
    try {
        vcl::TComponent owner(nullptr);
        auto* archiver = vcl::Create<zip::TZipArchiver>(&owner);
        archiver->SetName("ZipArchiver1");
        archiver->SetFileName(archive);
        archiver->OpenArchive();
        zip::TZAArchiveItem item;
        std::size_t count = 0;
        for (bool more = archiver->FindFirst("*.*", item, zip::faAllEntries, ""); more;
             more = archiver->FindNext(item)) {
            std::fwrite(item.FileName.data(), 1, item.FileName.size(), stdout);
            std::fputc('\n', stdout);
            ++count;
        }
        archiver->CloseArchive();
        return count > 0 ? 0 : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "listing failed: %s\n", e.what());
        return 1;
    }
}

using Command = std::vector<std::string>;
struct Tool {
    std::string name;
    Command command;
};

// The extracting tools that are installed, each taking archive into dest.
std::vector<Tool> Extractors(const std::string& self, const std::string& archive,
                             const std::string& dest) {
    std::vector<Tool> all = {
        {"engine", {self, "--extract", archive, dest}},
        {"unzip", {"/usr/bin/unzip", "-qo", archive, "-d", dest}},
        {"bsdtar", {"/usr/bin/bsdtar", "-xf", archive, "-C", dest}},
        {"7zz", {"/usr/bin/7zz", "x", "-y", "-bso0", "-bsp0", "-o" + dest, archive}},
        {"python",
         {"/usr/bin/python3", "-c",
          "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])", archive,
          dest}},
    };
    std::vector<Tool> found;
    for (Tool& t : all)
        if (Executable(t.command[0]))
            found.push_back(std::move(t));
    return found;
}

struct Measured {
    std::string name;
    std::vector<double> seconds;
    long maxRssKb = 0;
    long calls = -1;
    bool ok = true;
};

// Rounds in which every tool runs once, each into an empty dest; the output of each run is
// checked against the expected file count and bytes.
std::vector<Measured> RunRounds(const std::string& self, const fs::path& scratch,
                                const std::vector<Tool>& tools, const fs::path& dest,
                                const bench::TreeFigures& expected, int runs, bool countCalls) {
    std::vector<Measured> measured;
    for (const Tool& t : tools)
        measured.push_back({t.name, {}, 0, -1, true});
    auto fresh = [&] { EmptyDestination(dest); };
    for (int round = 0; round < runs; ++round)
        for (std::size_t i = 0; i < tools.size(); ++i) {
            fresh();
            const ChildRun run = Spawn(self, scratch, tools[i].command);
            const bench::TreeFigures got = TreeOf(dest);
            measured[i].ok = measured[i].ok && run.ok && got.files == expected.files &&
                             got.bytes == expected.bytes;
            measured[i].seconds.push_back(run.seconds);
            measured[i].maxRssKb = std::max(measured[i].maxRssKb, run.maxRssKb);
        }
    if (countCalls)
        for (std::size_t i = 0; i < tools.size(); ++i) {
            fresh();
            measured[i].calls = CountSystemCalls(self, scratch, tools[i].command);
        }
    fresh();
    return measured;
}

void PrintTable(const std::vector<Measured>& measured, const char* reference,
                double referenceSeconds, std::size_t files) {
    double bsdtar = 0;
    for (const Measured& m : measured)
        if (m.name == "bsdtar")
            bsdtar = Median(m.seconds);
    std::printf("  %-8s %9s %10s %9s %10s %9s %9s\n", "tool", "median s", reference, "x bsdtar",
                "files/s", "calls/f", "RSS MB");
    for (const Measured& m : measured) {
        const double s = Median(m.seconds);
        char calls[32] = "-";
        if (m.calls >= 0)
            std::snprintf(calls, sizeof calls, "%.1f",
                          static_cast<double>(m.calls) / static_cast<double>(files));
        char vsBsdtar[32] = "-";
        if (bsdtar > 0)
            std::snprintf(vsBsdtar, sizeof vsBsdtar, "%.2f", s / bsdtar);
        std::printf("  %-8s %9.3f %9.2fx %9s %10.0f %9s %9.1f%s\n", m.name.c_str(), s,
                    s / referenceSeconds, vsBsdtar, static_cast<double>(files) / s, calls,
                    static_cast<double>(m.maxRssKb) / 1024, m.ok ? "" : "  (OUTPUT WRONG)");
    }
    std::fflush(stdout);
}

// The floors of one archive: median seconds of zlib's, and of ISA-L's when built (else 0).
void PrintFloors(const std::string& archive, int runs, double& zlibSeconds, double& isalSeconds) {
    std::vector<double> z, i;
    bench::FloorResult zr, ir;
    for (int r = 0; r < runs; ++r) {
        auto start = Clock::now();
        zr = bench::ZlibFloor(archive);
        z.push_back(Seconds(start));
        if (bench::IsalFloorBuilt()) {
            start = Clock::now();
            ir = bench::IsalFloor(archive);
            i.push_back(Seconds(start));
        }
    }
    zlibSeconds = Median(z);
    isalSeconds = i.empty() ? 0 : Median(i);
    std::printf("  floor: zlib %.3f s (%zu entries, %.1f MB out%s)", zlibSeconds, zr.entries,
                static_cast<double>(zr.outputBytes) / 1e6, zr.ok ? "" : ", DECODING FAILED");
    if (bench::IsalFloorBuilt())
        std::printf("; ISA-L %.3f s = %.2fx zlib's%s", Median(i), Median(i) / zlibSeconds,
                    ir.ok ? "" : ", DECODING FAILED");
    std::printf("\n");
}

// Median seconds of writing the source's files from memory into an empty dest, as every
// extraction of them must (WriteFloor.h).
double WritingFloor(const fs::path& source, const fs::path& dest, int runs) {
    const bench::TreeInMemory tree = bench::LoadTree(source);
    std::vector<double> seconds;
    bool ok = true;
    for (int r = 0; r < runs; ++r) {
        EmptyDestination(dest);
        const auto start = Clock::now();
        ok = bench::WriteTree(tree, dest) && ok;
        seconds.push_back(Seconds(start));
    }
    fs::remove_all(dest);
    if (!ok)
        std::printf("  (WRITING THE FILES FAILED)\n");
    return Median(seconds);
}

// One extraction case against the floor of its archive, the engine's output compared with
// the source byte for byte.
void ExtractionCase(const std::string& title, const std::string& self, const fs::path& scratch,
                    const fs::path& archive, const fs::path& source,
                    const bench::TreeFigures& expected, int runs) {
    std::printf("%s: %zu files, %.1f MB, archive %.1f MB\n", title.c_str(), expected.files,
                static_cast<double>(expected.bytes) / 1e6,
                static_cast<double>(fs::file_size(archive)) / 1e6);
    double floor = 0;
    double isal = 0;
    PrintFloors(archive.string(), runs, floor, isal);
    const fs::path dest = scratch / "out";
    const double writing = WritingFloor(source, dest, runs);
    const double decoding = isal > 0 ? isal : floor;
    std::printf("  writing the files from memory: %.3f s; decoding (%s) and writing, one after "
                "the other: %.3f s\n",
                writing, isal > 0 ? "ISA-L" : "zlib", decoding + writing);
    const auto tools = Extractors(self, archive.string(), dest.string());
    const auto measured = RunRounds(self, scratch, tools, dest, expected, runs, true);
    PrintTable(measured, "x floor", floor, expected.files);
    const double engine = Median(measured.front().seconds);
    std::printf("  engine: %.2fx the decoding floor, %.2fx decoding and writing\n",
                engine / decoding, engine / (decoding + writing));
    fs::remove_all(dest);
    fs::create_directories(dest);
    Spawn(self, scratch, tools.front().command);
    std::printf("  engine output identical to the source: %s\n",
                SameTree(source, dest) ? "yes" : "NO");
    fs::remove_all(dest);
}

// The stored archive against a plain copy of its folder.
void StoredCase(const std::string& self, const fs::path& scratch, const fs::path& archive,
                const fs::path& source, const bench::TreeFigures& expected, int runs) {
    std::printf("stored corpus (zip -0): %zu files, %.1f MB\n", expected.files,
                static_cast<double>(expected.bytes) / 1e6);
    const fs::path dest = scratch / "out";
    auto tools = Extractors(self, archive.string(), dest.string());
    tools.push_back({"cp -r", {"/bin/cp", "-r", (source / ".").string(), dest.string()}});
    auto measured = RunRounds(self, scratch, tools, dest, expected, runs, true);
    const double cp = Median(measured.back().seconds);
    PrintTable(measured, "x cp -r", cp, expected.files);
}

// Opening and listing: every tool prints the names, the output thrown away.
void ListingCase(const std::string& self, const fs::path& scratch, const fs::path& archive,
                 std::size_t entries, int runs) {
    std::printf("open and list %zu entries (archive %.1f MB)\n", entries,
                static_cast<double>(fs::file_size(archive)) / 1e6);
    const std::string a = archive.string();
    std::vector<Tool> all = {
        {"engine", {self, "--list", a}},
        {"unzip -l", {"/usr/bin/unzip", "-l", a}},
        {"zipinfo -1", {"/usr/bin/zipinfo", "-1", a}},
        {"bsdtar -t", {"/usr/bin/bsdtar", "-tf", a}},
        {"7zz l", {"/usr/bin/7zz", "l", a}},
        {"python",
         {"/usr/bin/python3", "-c",
          "import sys, zipfile; print('\\n'.join(zipfile.ZipFile(sys.argv[1]).namelist()))", a}},
    };
    std::vector<Tool> tools;
    for (Tool& t : all)
        if (Executable(t.command[0]))
            tools.push_back(std::move(t));
    std::vector<std::vector<double>> seconds(tools.size());
    std::vector<long> rss(tools.size());
    std::vector<bool> ok(tools.size(), true);
    for (int round = 0; round < runs; ++round)
        for (std::size_t i = 0; i < tools.size(); ++i) {
            const ChildRun run = Spawn(self, scratch, tools[i].command);
            seconds[i].push_back(run.seconds);
            rss[i] = std::max(rss[i], run.maxRssKb);
            ok[i] = ok[i] && run.ok;
        }
    for (std::size_t i = 0; i < tools.size(); ++i)
        std::printf("  %-10s %8.3f s   peak RSS %6.1f MB%s\n", tools[i].name.c_str(),
                    Median(seconds[i]), static_cast<double>(rss[i]) / 1024,
                    ok[i] ? "" : "  (FAILED)");
    std::fflush(stdout);
}

bool Run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

std::string Quoted(const fs::path& p) {
    return "'" + p.string() + "'";
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

// CompressStream as the update pass calls it, on one entry.
std::int64_t Compress(zip::TZABaseArchiver& archiver, vcl::TStream& source, std::uint8_t mode) {
    zip::TDirItem entry;
    entry.StoredName = entry.EditSource().SourceFileName = "big.txt";
    entry.NewData = true;
    entry.CompressionMode = mode;
    entry.CentralHeader.Method = 8;
    TSinkStream sink;
    if (!zip::TZAEngine::Of(archiver).CompressStream(source, sink, entry))
        return -1;
    return sink.Size();
}

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
    auto* archiver = vcl::Create<zip::TZipArchiver>(&owner);
    archiver->SetName("ZipArchiver1");
    for (const std::uint8_t mode : {1, 6, 9}) {
        const std::string part = mode == 9 ? data.substr(0, maxMode9) : std::string();
        const std::string& input = mode == 9 ? part : data;
        vcl::TMemoryStream source;
        source.WriteBuffer(input.data(), static_cast<std::int64_t>(input.size()));
        const double mb = static_cast<double>(input.size()) / 1e6;
        auto start = Clock::now();
        const std::int64_t engineSize = Compress(*archiver, source, mode);
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
    if (argc == 3 && std::string(argv[1]) == "--list")
        return ListWithEngine(argv[2]);
    if (argc > 3 && std::string(argv[1]) == "--spawn")
        return bench::SpawnAndReport(argv[2], argv + 3);
    if (argc == 2 && std::string(argv[1]) == "--idle")
        return 0;

    const std::size_t corpusMb = EnvSize("ZIP_BENCH_CORPUS_MB", 200);
    const std::size_t bigMb = EnvSize("ZIP_BENCH_MB", 256);
    const std::size_t fileCount = EnvSize("ZIP_BENCH_FILES", 20000);
    const std::size_t listCount = EnvSize("ZIP_BENCH_LIST", 100000);
    const std::size_t compressMb = EnvSize("ZIP_BENCH_COMPRESS_MB", 64);
    const int runs = static_cast<int>(std::max<std::size_t>(EnvSize("ZIP_BENCH_RUNS", 5), 1));
    const char* cpus = std::getenv("ZIP_BENCH_CPUS");
    const std::string pinned = bench::PinToCores(cpus && *cpus ? cpus : "6,7");
    const std::string self = fs::read_symlink("/proc/self/exe").string();

    const char* tmpdir = std::getenv("TMPDIR");
    const fs::path parent = tmpdir && *tmpdir              ? fs::path(tmpdir)
                            : fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                           : fs::temp_directory_path();
    std::string tmpl = (parent / "zip-archive-bench.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path scratch = tmpl;
    const auto total = Clock::now();
    double load[3] = {};
    ::getloadavg(load, 3);
    std::printf("archive benchmark: %zu MB mixed corpus, %zu MiB file, %zu small files, listing "
                "of %zu entries; median of %d rounds, %s, in %s%s; load average %.2f\n",
                corpusMb, bigMb, fileCount, listCount, runs, pinned.c_str(), parent.c_str(),
                OnTmpfs(parent) ? " (tmpfs)" : "", load[0]);

    const bench::TreeFigures mixed =
        bench::MakeMixedCorpus(scratch / "mixed", std::uint64_t{corpusMb} * 1000000, 1);
    const bench::TreeFigures big =
        bench::MakeBigFile(scratch / "big" / "big.txt", std::uint64_t{bigMb} << 20);
    const bench::TreeFigures small = bench::MakeSmallFiles(scratch / "small", fileCount, 7);
    const std::string listScript =
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for i in range(int(sys.argv[2])):\n"
        "        z.writestr(zipfile.ZipInfo('d%d/entry%d.txt' % (i % 100, i), "
        "(2024, 1, 2, 3, 4, 6)), b'x')\n";
    const bool made = Run("cd " + Quoted(scratch / "mixed") + " && zip -q -r -6 ../mixed.zip .") &&
                      Run("cd " + Quoted(scratch / "mixed") + " && zip -q -r -0 ../stored.zip .") &&
                      Run("cd " + Quoted(scratch / "big") + " && zip -q -r ../big.zip .") &&
                      Run("cd " + Quoted(scratch / "small") + " && zip -q -r -D ../small.zip .") &&
                      Run("/usr/bin/python3 -c \"" + listScript + "\" " +
                          Quoted(scratch / "list.zip") + " " + std::to_string(listCount));
    if (!made) {
        std::fprintf(stderr, "making the archives failed\n");
        fs::remove_all(scratch);
        return 1;
    }
    std::printf("data and archives made in %.1f s\n", Seconds(total));
    const ChildRun idle = Spawn(self, scratch, {self, "--idle"});
    std::printf("(this program doing nothing: %.3f s, peak RSS %.1f MB)\n", idle.seconds,
                static_cast<double>(idle.maxRssKb) / 1024);
    std::fflush(stdout);

    const char* onlyList = std::getenv("ZIP_BENCH_ONLY");
    const std::string only = onlyList ? onlyList : "";
    auto wanted = [&](const std::string& name) {
        return only.empty() || ("," + only + ",").find("," + name + ",") != std::string::npos;
    };
    if (wanted("mixed"))
        ExtractionCase("mixed corpus, zip -6", self, scratch, scratch / "mixed.zip",
                       scratch / "mixed", mixed, runs);
    if (wanted("big"))
        ExtractionCase("one large text file", self, scratch, scratch / "big.zip", scratch / "big",
                       big, runs);
    if (wanted("small"))
        ExtractionCase("small files", self, scratch, scratch / "small.zip", scratch / "small",
                       small, runs);
    if (wanted("stored"))
        StoredCase(self, scratch, scratch / "stored.zip", scratch / "mixed", mixed, runs);
    if (wanted("list"))
        ListingCase(self, scratch, scratch / "list.zip", listCount, runs);
    if (compressMb > 0) {
        const std::string data = bench::TextData(compressMb << 20, 42);
        BenchCompression(data, EnvSize("ZIP_BENCH_MODE9_MB", 32) << 20);
    }

    fs::remove_all(scratch);
    ::getloadavg(load, 3);
    std::printf("total %.1f s; load average at the end %.2f\n", Seconds(total), load[0]);
    return 0;
}
