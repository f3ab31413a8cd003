// Whole-file replacement that never leaves half a file behind.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Writes contents to a sibling file, flushes it to disk and renames it over fileName, so a
// reader sees the old file or the new one, never a mix. The file gets the given mode (also
// when it existed with a looser one). Returns false with errno set on failure; the old file
// is then untouched.
bool ReplaceFileContents(const std::string& fileName, std::string_view contents, unsigned mode);

} // namespace platform
