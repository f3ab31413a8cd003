// Temporary files in the Windows manner: a folder for them, and a new, empty file with a
// chosen prefix and a number the system picks.
#pragma once

#include <string>

namespace platform {

// $TMPDIR when it names a folder, else /tmp; always with a trailing "/".
std::string TempPath();

// Creates folder/PREFIXnnnn.TMP (nnnn: four upper-case hex digits, at most three characters of
// prefix) as a new empty file of mode 0600 and returns its name. A name that is taken is
// passed over for the next number; when every number is taken, or the folder cannot hold the
// file, std::system_error is thrown.
std::string CreateTempFile(const std::string& folder, const std::string& prefix);

} // namespace platform
