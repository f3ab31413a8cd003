// Profile (INI) files with the private-profile semantics callers rely on: section and key
// names matched without regard to case, a key replaced where it stands or appended to its
// section, new sections appended at the end, bounded reads. Every write replaces the file
// atomically, so a crash mid-write leaves the previous contents.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The value of key in section, cut to size - 1 bytes (never inside a UTF-8 sequence); the
// default, cut the same way, when the file, section or key is missing.
std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, std::size_t size,
                                    const std::string& fileName);

// The key names of section in file order, as they fit into a buffer of size bytes of
// NUL-terminated names (the last name that does not fit is cut).
std::vector<std::string> GetPrivateProfileKeyNames(std::string_view section, std::size_t size,
                                                   const std::string& fileName);

// The section names in file order.
std::vector<std::string> GetPrivateProfileSectionNames(const std::string& fileName);

// Writes value under key. No key erases the whole section; a key with no value removes that
// key. Returns false when the file cannot be written (errno tells why). New files are made
// readable by their owner only, and an existing file is tightened to that on each write,
// because the settings hold passwords.
bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& fileName);

} // namespace platform
