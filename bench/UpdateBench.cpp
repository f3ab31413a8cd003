// What an update costs, next to Info-ZIP's zip in the same run, each tool in a child process of
// its own, the tools taking turns, medians of ZIP_BENCH_RUNS rounds (default 5):
// - replacing one small entry of a 1 GB archive (the small entry last, then first): time,
//   bytes written, fsyncs, write-back ranges started or waited for, system calls and peak RSS;
// - adding 20,000 small files to a new archive: files/s, system calls per file, fsyncs and
//   peak RSS.
// The data lives in a temporary folder (BENCH_DIR or the system's, so a real file system and
// not tmpfs by default), removed at the end. ZIP_BENCH_CPUS pins the tools (default "6,7").
#include "BenchChild.h"
#include "BenchSupport.h"
#include "zip/ZipArchiver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Command = std::vector<std::string>;

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// The child's side: replaces small.txt of the archive from the folder.
int ReplaceWithEngine(const std::string& archive, const std::string& base) {
    zip::TZipArchiver a(nullptr);
    a.SetFileName(archive);
    a.BaseDir = base;
    a.OpenArchive();
    a.AddFiles("small.txt", 0x20, "");
    a.CloseArchive();
    return 0;
}

// The child's side: adds every file of the folder to a new archive, as zip -r -6 does.
int AddWithEngine(const std::string& archive, const std::string& base) {
    zip::TZipArchiver a(nullptr);
    a.SetCompressionMode(6);
    a.Options().FlushBuffers = false;
    a.SetFileName(archive);
    a.BaseDir = base;
    a.OpenArchive();
    a.AddFiles("*.*", zip::faAllEntries, "");
    a.CloseArchive();
    return 0;
}

struct Figures {
    std::vector<double> seconds;
    double megabytes = 0;
    long maxRssKb = 0;
    long calls = -1;
    long fsyncs = -1;
    long ranges = -1; // sync_file_range calls
    bool ok = true;
};

// How many of these calls were made.
long Count(const std::map<std::string, long>& calls, std::initializer_list<const char*> names) {
    long n = 0;
    for (const char* name : names)
        if (auto it = calls.find(name); it != calls.end())
            n += it->second;
    return n;
}

// Rounds of every tool in turn, prepare() run before each; then one traced run of each.
std::vector<Figures> Rounds(const std::string& self, const fs::path& scratch,
                            const std::vector<Command>& tools, int runs,
                            const std::function<void()>& prepare) {
    std::vector<Figures> figures(tools.size());
    for (int round = 0; round < runs; ++round)
        for (std::size_t i = 0; i < tools.size(); ++i) {
            prepare();
            const bench::ChildRun run = bench::Spawn(self, scratch, tools[i]);
            figures[i].seconds.push_back(run.seconds);
            figures[i].megabytes = run.megabytesWritten;
            figures[i].maxRssKb = std::max(figures[i].maxRssKb, run.maxRssKb);
            figures[i].ok = figures[i].ok && run.ok;
        }
    for (std::size_t i = 0; i < tools.size(); ++i) {
        prepare();
        const auto calls = bench::SystemCalls(self, scratch, tools[i]);
        if (auto total = calls.find("total"); total != calls.end()) {
            figures[i].calls = total->second;
            figures[i].fsyncs = Count(calls, {"fsync", "fdatasync", "syncfs", "sync"});
            figures[i].ranges = Count(calls, {"sync_file_range"});
        }
    }
    return figures;
}

std::string CallsPer(long calls, double per) {
    if (calls < 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(calls) / per);
    return text;
}

} // namespace

int main(int argc, char** argv) {
    try {
        if (argc == 4 && std::string(argv[1]) == "--replace")
            return ReplaceWithEngine(argv[2], argv[3]);
        if (argc == 4 && std::string(argv[1]) == "--add")
            return AddWithEngine(argv[2], argv[3]);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "failed: %s\n", e.what());
        return 1;
    }
    if (argc > 3 && std::string(argv[1]) == "--spawn")
        return bench::SpawnAndReport(argv[2], argv + 3);

    const char* cpus = std::getenv("ZIP_BENCH_CPUS");
    const std::string pinned = bench::PinToCores(cpus && *cpus ? cpus : "6,7");
    const char* runsText = std::getenv("ZIP_BENCH_RUNS");
    const int runs = std::max(runsText ? std::atoi(runsText) : 5, 1);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const char* root = std::getenv("BENCH_DIR");
    std::string pattern =
        (fs::path(root ? root : fs::temp_directory_path().c_str()) / "update-bench-XXXXXX")
            .string();
    if (!mkdtemp(pattern.data()))
        return 1;
    const fs::path dir = pattern;
    const fs::path src = dir / "src";
    fs::create_directories(src);
    std::printf("update benchmark in %s, %s, median of %d rounds\n", dir.c_str(), pinned.c_str(),
                runs);
    if (!bench::Executable("/usr/bin/zip"))
        std::printf("(zip is not installed: its columns stay empty)\n");

    // One large stored entry of noise and one small entry, in both orders. Both tools run in
    // the source folder, zip storing the names relative to it.
    if (std::system(
            ("head -c 1000000000 /dev/urandom > '" + (src / "large.bin").string() + "'").c_str()) !=
        0)
        return 1;
    fs::current_path(src);
    WriteFile("small.txt", "version 1\n");
    std::printf("%-34s %-7s %8s %10s %7s %7s %7s %8s\n", "replace a small entry of 1 GB", "tool",
                "median s", "MB written", "fsyncs", "ranges", "calls", "RSS MB");
    for (const char* order : {"last", "first"}) {
        const std::string names =
            std::string(order) == "last" ? "large.bin small.txt" : "small.txt large.bin";
        const fs::path base = dir / "base.zip";
        if (std::system(("zip -q -0 '" + base.string() + "' " + names).c_str()) != 0)
            return 1;
        WriteFile("small.txt", std::string("version 2, small entry ") + order + "\n");
        const fs::path mine = dir / "engine.zip";
        const fs::path theirs = dir / "zip.zip";
        const std::vector<Command> tools = {{self, "--replace", mine.string(), src.string()},
                                            {"/usr/bin/zip", "-q", theirs.string(), "small.txt"}};
        const auto figures = Rounds(self, dir, tools, runs, [&] {
            fs::copy_file(base, mine, fs::copy_options::overwrite_existing);
            fs::copy_file(base, theirs, fs::copy_options::overwrite_existing);
            ::sync(); // the copies' write-back must not land in a tool's time
        });
        for (std::size_t i = 0; i < tools.size(); ++i)
            std::printf(
                "  stored, small entry %-13s %-7s %8.2f %10.1f %7s %7s %7s %8.1f%s\n", order,
                i == 0 ? "engine" : "zip", bench::Median(figures[i].seconds), figures[i].megabytes,
                CallsPer(figures[i].fsyncs, 1).c_str(), CallsPer(figures[i].ranges, 1).c_str(),
                CallsPer(figures[i].calls, 1).c_str(),
                static_cast<double>(figures[i].maxRssKb) / 1024, figures[i].ok ? "" : "  (FAILED)");
        std::fflush(stdout);
        fs::remove(mine);
        fs::remove(theirs);
        fs::remove(base);
    }
    fs::remove(src / "large.bin");

    // 20,000 small files in 100 folders.
    const fs::path many = dir / "many";
    std::mt19937 random(7);
    const int files = 20000;
    for (int i = 0; i < files; ++i) {
        const fs::path folder = many / ("d" + std::to_string(i % 100));
        if (i < 100)
            fs::create_directories(folder);
        std::string data(500 + random() % 3500, '\0');
        for (char& c : data)
            c = static_cast<char>('a' + random() % 26);
        WriteFile((folder / ("f" + std::to_string(i) + ".txt")).string(), data);
    }
    ::sync();
    fs::current_path(many);
    const fs::path mine = dir / "many-engine.zip";
    const fs::path theirs = dir / "many-zip.zip";
    const std::vector<Command> tools = {{self, "--add", mine.string(), many.string()},
                                        {"/usr/bin/zip", "-q", "-r", "-6", theirs.string(), "."}};
    const auto figures = Rounds(self, dir, tools, runs, [&] {
        fs::remove(mine);
        fs::remove(theirs);
        ::sync();
    });
    std::printf("%-34s %-7s %8s %10s %7s %7s %8s\n", "add 20,000 small files", "tool", "median s",
                "files/s", "fsyncs", "calls/f", "RSS MB");
    for (std::size_t i = 0; i < tools.size(); ++i) {
        const double s = bench::Median(figures[i].seconds);
        std::printf(
            "  to a new archive, level 6         %-7s %8.2f %10.0f %7s %7s %8.1f%s\n",
            i == 0 ? "engine" : "zip -r", s, files / s, CallsPer(figures[i].fsyncs, 1).c_str(),
            CallsPer(figures[i].calls, files).c_str(),
            static_cast<double>(figures[i].maxRssKb) / 1024, figures[i].ok ? "" : "  (FAILED)");
    }

    fs::current_path(dir.parent_path());
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
