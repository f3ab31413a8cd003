// Small helpers for the engine's tests: a scratch folder, files as byte strings, and running
// the peer tools (zip, 7zz, python3) that make the fixtures.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace ziptest {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zatest-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
}

// Runs a shell command line made by the test itself; true when it exits with 0.
inline bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::string RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 generator(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(generator() & 0xFF);
    return out;
}

// Text that deflates well but is not one repeated byte.
inline std::string CompressibleText(std::size_t size) {
    std::string out;
    for (int line = 0; out.size() < size; ++line)
        out += "line " + std::to_string(line) + ": the quick brown fox jumps over the lazy dog\n";
    out.resize(size);
    return out;
}

} // namespace ziptest
