// Small helpers for the engine's tests: a scratch folder, files as byte strings, and running
// the peer tools (zip, 7zz, python3) that make the fixtures.
#pragma once

#include "support/TempDir.h"

#include <array>
#include <cstdint>
#include <cstdio>
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

// Runs a shell command line made by the test itself and gives what it printed, errors included.
inline std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen((command + " 2>&1").c_str(), "r")) {
        std::array<char, 4096> buffer;
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0)
            out.append(buffer.data(), n);
        pclose(p);
    }
    return out;
}

// Python's zipfile view: "name=data" per entry in directory order (folders as "name/"),
// each entry read, so its CRC is checked.
inline std::string Contents(const std::string& archive) {
    return Capture("/usr/bin/python3 -c '\n"
                   "import sys, zipfile\n"
                   "z = zipfile.ZipFile(sys.argv[1])\n"
                   "for i in z.infolist():\n"
                   "    print(i.filename if i.is_dir() else i.filename + \"=\" + "
                   "z.read(i).decode())\n' '" +
                   archive + "'");
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
