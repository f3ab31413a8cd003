// The other half of extraction's floor: writing files whose bytes are already in memory, with
// the calls an extracting tool cannot do without (each folder made, each file created new,
// written in one piece, given its time and mode, closed). Decoding and this together are what
// extracting the same files one after the other costs at least.
#pragma once

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace bench {

struct TreeInMemory {
    std::vector<std::string> folders;                       // relative, parents first
    std::vector<std::pair<std::string, std::string>> files; // relative name, bytes
};

TreeInMemory LoadTree(const std::filesystem::path& root);
// Writes the tree below dest, which exists and is empty; false when a call failed.
bool WriteTree(const TreeInMemory& tree, const std::filesystem::path& dest);

} // namespace bench
