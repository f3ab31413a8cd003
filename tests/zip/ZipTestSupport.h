// Small helpers for the engine's tests: a scratch folder, files as byte strings, and running
// the peer tools (zip, 7zz, python3) that make the fixtures.
#pragma once

#include "support/TempDir.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <unistd.h>

namespace ziptest {

// The project's scratch folder and whole-file helpers.
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

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
