// Whole-file replacement that never leaves half a file behind.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Writes contents to a new file in fileName's folder, flushes it to disk and renames it over
// fileName, so a reader sees the old file or the new one, never a mix. The new file has the
// given mode from its creation on (also when the old one had a looser one). It is made
// without a name where the file system allows it, so a crash before the rename leaves
// nothing behind; the named copies "<fileName>.XXXXXX" that a crash can still leave (in the
// instant between naming and renaming, or on a file system without unnamed files) are
// removed by the next replacement. Returns false with errno set on failure; the old file is
// then untouched.
bool ReplaceFileContents(const std::string& fileName, std::string_view contents, unsigned mode);

} // namespace platform
