// Opening damaged archives of 4 MiB that make the rebuild from local headers work hard:
// signatures every few bytes, long code-page names, headers whose names hold the next
// headers. Each is opened in a child process, so that its peak memory is its own; the
// figures are the time, the peak RSS and its multiple of the file's size.
#include "zip/ZADirManager.h"
#include "zip/ZAEngine.h"
#include "zip/ZAExcept.h"
#include "zip/ZipArchiver.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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

void Measure(const char* what, const std::string& bytes, const std::string& file) {
    std::ofstream(file, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::fflush(stdout); // the child must not print the parent's lines again
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        zip::TZipArchiver a(nullptr);
        a.SetFileName(file);
        int entries = -1;
        try {
            a.OpenArchive(32);
            entries = zip::TZAEngine::Of(a).DirManager()->Directory.Count();
        } catch (const std::exception&) {
        }
        std::printf("%-46s entries %7d", what, entries);
        std::fflush(stdout);
        ::_exit(0);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double peak = static_cast<double>(usage.ru_maxrss) * 1024.0;
    std::printf("   %6.2f s   peak RSS %7.1f MB   %5.1f x the file\n", seconds, peak / 1e6,
                peak / static_cast<double>(bytes.size()));
}

} // namespace

int main() {
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("rebuild-bench-" + std::to_string(::getpid())))
            .string();
    std::filesystem::create_directories(folder);
    const std::string file = folder + "/damaged.zip";
    Measure("bare signatures, 4 bytes apart", Repeat("PK\x03\x04"), file);
    Measure("empty headers with 1-byte names", Repeat(Header(1, 1, 'x')), file);
    Measure("headers with 999-byte code-page names", Repeat(Header(999, 999, '\x82')), file);
    Measure("999-byte names holding the next headers", Repeat(Header(999, 2, '\x82')), file);
    Measure("65535-byte names holding the next headers", Repeat(Header(65535, 2, '\x82')), file);
    std::filesystem::remove_all(folder);
}
