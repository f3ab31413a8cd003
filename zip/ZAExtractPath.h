// Where extraction may write: below the base folder and nowhere else. Every path the engine
// writes an entry's file or folder to comes from ConfinedPath.
#pragma once

#include <string>
#include <string_view>
#include <unordered_set>

namespace zip {

// The full path of name below baseFolder (a folder ending in "/"; a relative one stands below
// the current folder), "." and ".." folded as text with "/" and "\" both separating, without a
// trailing "/"; baseFolder itself without its "/" when name names no deeper part. One leading
// separator is dropped ("/x" lies below the base like "x"). "" when the name must be refused:
// it names a share ("//s/x", "\\s\x") or a drive ("c:..."), its ".." climbs above the base,
// or one of its parts that already exists is a symbolic link leading out of the base folder
// (or nowhere).
std::string ConfinedPath(const std::string& baseFolder, std::string_view name);

// The folders one extraction run has found confined below its base folder (every part
// checked) or made itself: each is looked at once per run, not once per file. Archive entries
// never make links, so what the run learnt stays true until it ends.
class TZAConfinedFolders {
public:
    bool Contains(const std::string& folder) const { return known_.count(folder) != 0; }
    // folder is a real folder that the run made or found confined.
    void Add(const std::string& folder) { known_.insert(folder); }

private:
    std::unordered_set<std::string> known_;
};

// As ConfinedPath, with the folders on the way taken from known and the ones found confined
// added to it. The last part is not looked at when lastIsNew: the caller creates it without
// following a link (O_CREAT | O_EXCL | O_NOFOLLOW), and a name whose last part exists goes
// through ConfinedPath in full before anything is written through it.
std::string ConfinedPath(const std::string& baseFolder, std::string_view name,
                         TZAConfinedFolders& known, bool lastIsNew);

// A full path ("/...") that lies below baseFolder becomes the part below it; any other path
// is taken as it is. False for a full path outside the base folder.
bool RelativeToBase(const std::string& baseFolder, std::string_view path, std::string& relative);

// As ConfinedPath for a path a handler chose: a full path is accepted when it lies below
// baseFolder; anything else is taken relative to it.
std::string ConfinedFullPath(const std::string& baseFolder, std::string_view path);

} // namespace zip
