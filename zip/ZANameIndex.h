// A lookup from stored name to directory index, so that adding tens of thousands of files,
// or copying as many entries in an update, does not search the directory once per name.
// Names compare exactly, as the update pass matches entries.
#pragma once

#include "zip/ZADirArray.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace zip {

class TZANameIndex {
public:
    TZANameIndex() = default;
    // Every entry of dir; where a name stands twice, its first entry.
    explicit TZANameIndex(TZADirArray& dir) {
        for (std::int32_t i = dir.Count() - 1; i >= 0; --i)
            index_[dir.ItemPtr(i).StoredName.str()] = i;
    }

    // The index of the first entry stored under name, -1 when there is none.
    std::int32_t Find(const std::string& name) const {
        auto it = index_.find(name);
        return it == index_.end() ? -1 : it->second;
    }
    // A new entry at index (the directory's end), unless the name is already known.
    void Add(const std::string& name, std::int32_t index) { index_.emplace(name, index); }

private:
    std::unordered_map<std::string, std::int32_t> index_;
};

} // namespace zip
