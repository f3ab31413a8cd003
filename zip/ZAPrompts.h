// The English texts of the engine's default prompts, by their resource numbers.
#pragma once

namespace zip {

inline constexpr const char* SConfirmOverwrite = "Overwrite file \"%s\" with \"%s\""; // 65009
inline constexpr const char* SPasswordTitle = "Password for \"%s\"";                  // 65010
inline constexpr const char* SPasswordPrompt = "Enter password: ";                    // 65011
inline constexpr const char* SInsertBlankDisk = "Please insert a blank disk #%d";     // 65012
inline constexpr const char* SInsertFirstDisk = "Please insert the first disk";       // 65013
inline constexpr const char* SInsertLastDisk = "Please insert the last disk";         // 65014
inline constexpr const char* SInsertDisk = "Please insert disk #%d";                  // 65015
inline constexpr const char* SDiskFull =
    "Disk is full. Required free space: %d bytes, but available only: %d bytes. Clean the "
    "disk or find another blank disk"; // 65016
inline constexpr const char* SProcessFileFailure =
    "%s. File processing error, possibly disk is full"; // 65017
inline constexpr const char* SFileNotOnDisk =
    "File '%s' not found on inserted disk. Please insert last disk with required file"; // 65018

} // namespace zip
