// What an update costs, next to Info-ZIP's zip in the same run: replacing one small entry of a
// 1 GB archive (time and bytes written, with the small entry last and first), and adding
// 20,000 small files to a new archive (files per second). The data lives in a temporary
// folder (BENCH_DIR or the system's), removed at the end.
#include "zip/ZipArchiver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

struct Cost {
    double seconds = 0;
    double megabytes = 0; // written to the storage layer
};

long OutBlocks(int who) {
    rusage use{};
    getrusage(who, &use);
    return use.ru_oublock;
}

Cost Measure(const std::function<void()>& work, int who = RUSAGE_SELF) {
    const long before = OutBlocks(who);
    const auto start = Clock::now();
    work();
    Cost c;
    c.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    c.megabytes = static_cast<double>(OutBlocks(who) - before) * 512 / 1e6;
    return c;
}

// Runs a shell command line as a child; its cost is measured from its rusage.
Cost Shell(const std::string& command) {
    return Measure(
        [&] {
            if (std::system(command.c_str()) != 0)
                std::fprintf(stderr, "failed: %s\n", command.c_str());
        },
        RUSAGE_CHILDREN);
}

void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

void UpdateOne(zip::TZipArchiver& a, const std::string& archive, const std::string& base) {
    a.SetFileName(archive);
    a.BaseDir = base;
    a.OpenArchive();
    a.AddFiles("small.txt", 0x20, "");
    a.CloseArchive();
}

void Line(const char* what, const Cost& engine, const Cost& zip) {
    std::printf("%-44s engine %7.2f s %8.1f MB written   zip %7.2f s %8.1f MB written\n", what,
                engine.seconds, engine.megabytes, zip.seconds, zip.megabytes);
}

} // namespace

int main() {
    const char* root = std::getenv("BENCH_DIR");
    std::string pattern =
        (fs::path(root ? root : fs::temp_directory_path().c_str()) / "update-bench-XXXXXX")
            .string();
    if (!mkdtemp(pattern.data()))
        return 1;
    const std::string dir = pattern;
    const std::string src = dir + "/src";
    fs::create_directories(src);

    // One large stored entry of noise and one small entry, in both orders.
    if (std::system(("head -c 1000000000 /dev/urandom > '" + src + "/large.bin'").c_str()) != 0)
        return 1;
    WriteFile(src + "/small.txt", "version 1\n");
    for (const char* order : {"last", "first"}) {
        const std::string names =
            std::string(order) == "last" ? "large.bin small.txt" : "small.txt large.bin";
        const std::string base = dir + "/base-" + order + ".zip";
        if (std::system(("cd '" + src + "' && zip -q -0 '" + base + "' " + names).c_str()) != 0)
            return 1;
        WriteFile(src + "/small.txt", std::string("version 2, small entry ") + order + "\n");
        const std::string mine = dir + "/engine.zip";
        const std::string theirs = dir + "/zip.zip";
        fs::copy_file(base, mine, fs::copy_options::overwrite_existing);
        fs::copy_file(base, theirs, fs::copy_options::overwrite_existing);
        sync();
        zip::TZipArchiver a(nullptr);
        const Cost engine = Measure([&] { UpdateOne(a, mine, src); });
        sync();
        const Cost zip = Shell("cd '" + src + "' && zip -q '" + theirs + "' small.txt");
        Line((std::string("replace a small entry of 1 GB, stored ") + order).c_str(), engine, zip);
        fs::remove(mine);
        fs::remove(theirs);
        fs::remove(base);
    }
    fs::remove(src + "/large.bin");

    // 20,000 small files in 100 folders.
    const std::string many = dir + "/many";
    std::mt19937 random(7);
    const int files = 20000;
    for (int i = 0; i < files; ++i) {
        const std::string folder = many + "/d" + std::to_string(i % 100);
        if (i < 100)
            fs::create_directories(folder);
        std::string data(500 + random() % 3500, '\0');
        for (char& c : data)
            c = static_cast<char>('a' + random() % 26);
        WriteFile(folder + "/f" + std::to_string(i) + ".txt", data);
    }
    sync();
    const std::string mine = dir + "/many-engine.zip";
    zip::TZipArchiver a(nullptr);
    a.SetCompressionMode(6);
    a.Options().FlushBuffers = false;
    const Cost engine = Measure([&] {
        a.SetFileName(mine);
        a.BaseDir = many;
        a.OpenArchive();
        a.AddFiles("*.*", zip::faAllEntries, "");
        a.CloseArchive();
    });
    const Cost zip = Shell("cd '" + many + "' && zip -q -r -6 '" + dir + "/many-zip.zip' .");
    std::printf("%-44s engine %7.0f files/s   zip -r %7.0f files/s   (%.2f s, %.2f s)\n",
                "add 20,000 small files to a new archive", files / engine.seconds,
                files / zip.seconds, engine.seconds, zip.seconds);

    std::error_code ignored;
    fs::remove_all(dir, ignored);
    return 0;
}
