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

// A profile file held in memory: read once, read and changed by the rules of the functions
// above, and written back by Save in one atomic replacement. Many changes then cost one write
// of the file, and a crash while they are made leaves the file as it was before all of them.
class ProfileFile {
public:
    // Reads fileName; a missing file is an empty profile. A file that is there but cannot be
    // read makes Save fail, so that its contents are never replaced by a profile that lacks
    // them.
    explicit ProfileFile(std::string fileName);

    const std::string& FileName() const { return fileName_; }
    std::string GetString(std::string_view section, std::string_view key, std::string_view fallback,
                          std::size_t size) const;
    std::vector<std::string> KeyNames(std::string_view section, std::size_t size) const;
    std::vector<std::string> SectionNames() const;
    // As WritePrivateProfileString, in memory: false (errno EINVAL) for an empty section name.
    // Returns whether anything changed in changed, when given.
    bool WriteString(std::string_view section, std::optional<std::string_view> key,
                     std::optional<std::string_view> value, bool* changed = nullptr);
    // Replaces the file by the profile, readable by its owner only. False with errno set when
    // the file could not be read or written; the file is then as it was.
    bool Save() const;

private:
    struct Line {
        enum Kind { Other, Section, Entry } kind = Other;
        std::string text; // the line as it stands, without its line break
        std::string name; // section or key name
        std::string value;
    };
    struct Range {
        std::size_t header;
        std::size_t end;
    };
    Range FindSection(std::string_view section) const;

    std::string fileName_;
    std::vector<Line> lines_;
    int readError_ = 0;
};

} // namespace platform
