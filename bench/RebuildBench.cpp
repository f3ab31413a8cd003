// Opening damaged archives of 4 MiB that make the rebuild from local headers work hard:
// signatures every few bytes, long code-page names, headers whose names hold the next
// headers. Each is opened in a fresh process, so that its peak memory is its own; the
// figures are the time, the peak RSS and its multiple of the file's size.
#include "BenchChild.h"
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t FileSize = 4 * 1024 * 1024;

void Put16(std::string& s, std::uint16_t v) {
    s.push_back(static_cast<char>(v & 0xFF));
    s.push_back(static_cast<char>(v >> 8));
}

// A 30-byte local header with a name of nameLength bytes, of which `present` follow it.
std::string Header(std::uint16_t nameLength, std::size_t present, char fill) {
    std::string h = "PK\x03\x04";
    Put16(h, 20);
    h.append(20, '\0');
    Put16(h, nameLength);
    Put16(h, 0);
    h.append(present, fill);
    return h;
}

std::string Repeat(const std::string& unit) {
    std::string out;
    out.reserve(FileSize + unit.size());
    while (out.size() + unit.size() <= FileSize)
        out += unit;
    return out;
}

// The child's side: opens the archive and writes how many entries its directory got (-1 when
// opening failed) to countFile.
int OpenAndCount(const std::string& file, const std::string& countFile) {
    zip::TZipArchiver a(nullptr);
    a.SetFileName(file);
    int entries = -1;
    try {
        a.OpenArchive(32);
        entries = zip::TZAEngine::Of(a).DirManager()->Directory.Count();
    } catch (const std::exception&) {
    }
    std::ofstream(countFile) << entries << '\n';
    return 0;
}

// Opens the archive in a fresh process of this program, so that the peak RSS is the opening's
// own and not that of the process holding the damaged bytes.
void Measure(const std::string& self, const fs::path& folder, const char* what,
             const std::string& bytes) {
    const std::string file = (folder / "damaged.zip").string();
    const std::string countFile = (folder / "entries.txt").string();
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const bench::ChildRun run = bench::Spawn(self, folder, {self, "--open", file, countFile});
    int entries = -1;
    std::ifstream(countFile) >> entries;
    const double peak = static_cast<double>(run.maxRssKb) * 1024.0;
    std::printf("%-46s entries %7d   %6.2f s   peak RSS %7.1f MB   %5.1f x the file%s\n", what,
                entries, run.seconds, peak / 1e6, peak / static_cast<double>(bytes.size()),
                run.ok ? "" : "  (FAILED)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 3 && std::string(argv[1]) == "--spawn")
        return bench::SpawnAndReport(argv[2], argv + 3);
    if (argc == 4 && std::string(argv[1]) == "--open")
        return OpenAndCount(argv[2], argv[3]);
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    const fs::path folder =
        fs::temp_directory_path() / ("rebuild-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    Measure(self, folder, "bare signatures, 4 bytes apart", Repeat("PK\x03\x04"));
    Measure(self, folder, "empty headers with 1-byte names", Repeat(Header(1, 1, 'x')));
    Measure(self, folder, "headers with 999-byte code-page names",
            Repeat(Header(999, 999, '\x82')));
    Measure(self, folder, "999-byte names holding the next headers",
            Repeat(Header(999, 2, '\x82')));
    Measure(self, folder, "65535-byte names holding the next headers",
            Repeat(Header(65535, 2, '\x82')));
    fs::remove_all(folder);
}
