#include "platform/Profile.h"

#include "platform/UniqueFd.h"

#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) {
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

std::string_view TrimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool IsQuote(char c) {
    return c == '"' || c == '\'';
}

// Reads strip blanks and one pair of enclosing quotes; a value that would lose something that
// way is written inside quotes, so every value reads back exactly as written.
std::string Quoted(std::string_view v) {
    bool blankEdge = !v.empty() && (TrimBlanks(v).size() != v.size());
    bool quotedEdge = v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front();
    if (!blankEdge && !quotedEdge)
        return std::string(v);
    std::string quoted;
    quoted.reserve(v.size() + 2);
    quoted += '"';
    quoted += v;
    quoted += '"';
    return quoted;
}

// Cuts text to at most limit bytes without splitting a UTF-8 sequence.
std::string Cut(std::string_view text, std::size_t limit) {
    if (text.size() <= limit)
        return std::string(text);
    std::size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return std::string(text.substr(0, n));
}

} // namespace

ProfileFile::ProfileFile(std::string fileName) : fileName_(std::move(fileName)) {
    std::string contents;
    UniqueFd fd(::open(fileName_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) {
        if (errno != ENOENT)
            readError_ = errno;
    } else {
        char buffer[16384];
        for (;;) {
            ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                readError_ = errno;
            if (n <= 0)
                break;
            contents.append(buffer, static_cast<std::size_t>(n));
        }
    }
    std::size_t start = 0;
    while (start < contents.size()) {
        std::size_t end = contents.find('\n', start);
        std::string_view raw(contents.data() + start,
                             (end == std::string::npos ? contents.size() : end) - start);
        start = end == std::string::npos ? contents.size() : end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        Line line;
        line.text = std::string(raw);
        std::string_view t = TrimBlanks(raw);
        if (!t.empty() && t.front() == '[') {
            auto close = t.find(']');
            line.kind = Line::Section;
            line.name = std::string(TrimBlanks(
                t.substr(1, close == std::string_view::npos ? t.size() - 1 : close - 1)));
        } else if (!t.empty() && t.front() != ';') {
            auto eq = t.find('=');
            line.kind = Line::Entry;
            line.name = std::string(TrimBlanks(t.substr(0, eq)));
            if (eq != std::string_view::npos) {
                std::string_view v = TrimBlanks(t.substr(eq + 1));
                // A value enclosed in matching quotes is read without them.
                if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front())
                    v = v.substr(1, v.size() - 2);
                line.value = std::string(v);
            }
        }
        lines_.push_back(std::move(line));
    }
}

// The lines inside section lie between its header and end; header is npos when it is missing.
ProfileFile::Range ProfileFile::FindSection(std::string_view section) const {
    Range r{std::string::npos, lines_.size()};
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (lines_[i].kind != Line::Section)
            continue;
        if (r.header != std::string::npos) {
            r.end = i;
            return r;
        }
        if (SameName(lines_[i].name, section))
            r.header = i;
    }
    return r;
}

std::string ProfileFile::GetString(std::string_view section, std::string_view key,
                                   std::string_view fallback, std::size_t size) const {
    std::size_t limit = size == 0 ? 0 : size - 1;
    Range r = FindSection(section);
    if (r.header != std::string::npos)
        for (std::size_t i = r.header + 1; i < r.end; ++i)
            if (lines_[i].kind == Line::Entry && SameName(lines_[i].name, key))
                return Cut(lines_[i].value, limit);
    return Cut(fallback, limit);
}

std::vector<std::string> ProfileFile::KeyNames(std::string_view section, std::size_t size) const {
    std::vector<std::string> names;
    Range r = FindSection(section);
    if (r.header == std::string::npos || size < 2)
        return names;
    // Each name takes its length plus a NUL; the list ends with a second NUL.
    std::size_t room = size - 1;
    for (std::size_t i = r.header + 1; i < r.end && room > 1; ++i) {
        if (lines_[i].kind != Line::Entry)
            continue;
        std::string name = Cut(lines_[i].name, room - 1);
        room -= name.size() + 1;
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> ProfileFile::SectionNames() const {
    std::vector<std::string> names;
    for (const auto& line : lines_)
        if (line.kind == Line::Section)
            names.push_back(line.name);
    return names;
}

bool ProfileFile::WriteString(std::string_view section, std::optional<std::string_view> key,
                              std::optional<std::string_view> value, bool* changed) {
    if (changed)
        *changed = false;
    if (section.empty()) {
        errno = EINVAL;
        return false;
    }
    Range r = FindSection(section);
    auto entry = [&](std::string name, std::string_view v) {
        Line l;
        l.kind = Line::Entry;
        l.name = std::move(name);
        l.value = std::string(v);
        l.text = l.name + "=" + Quoted(v);
        return l;
    };
    auto at = [&](std::size_t i) { return lines_.begin() + static_cast<std::ptrdiff_t>(i); };
    if (!key) {
        if (r.header == std::string::npos)
            return true;
        lines_.erase(at(r.header), at(r.end));
    } else if (r.header == std::string::npos) {
        if (!value)
            return true;
        Line header;
        header.kind = Line::Section;
        header.name = std::string(section);
        header.text = "[" + header.name + "]";
        lines_.push_back(std::move(header));
        lines_.push_back(entry(std::string(*key), *value));
    } else {
        std::size_t found = std::string::npos;
        for (std::size_t i = r.header + 1; i < r.end && found == std::string::npos; ++i)
            if (lines_[i].kind == Line::Entry && SameName(lines_[i].name, *key))
                found = i;
        if (found != std::string::npos) {
            if (value)
                lines_[found] = entry(lines_[found].name, *value); // the stored spelling stays
            else
                lines_.erase(at(found));
        } else if (value) {
            // Append after the section's last entry, before any blank lines that close it.
            std::size_t last = r.end;
            while (last > r.header + 1 && lines_[last - 1].kind == Line::Other &&
                   TrimBlanks(lines_[last - 1].text).empty())
                --last;
            lines_.insert(at(last), entry(std::string(*key), *value));
        } else {
            return true;
        }
    }
    if (changed)
        *changed = true;
    return true;
}

bool ProfileFile::Save() const {
    if (readError_ != 0) {
        errno = readError_;
        return false;
    }
    std::string contents;
    for (const auto& line : lines_) {
        contents += line.text;
        contents += '\n';
    }
    return ReplaceFileContents(fileName_, contents, 0600);
}

std::string GetPrivateProfileString(std::string_view section, std::string_view key,
                                    std::string_view fallback, std::size_t size,
                                    const std::string& fileName) {
    return ProfileFile(fileName).GetString(section, key, fallback, size);
}

std::vector<std::string> GetPrivateProfileKeyNames(std::string_view section, std::size_t size,
                                                   const std::string& fileName) {
    return ProfileFile(fileName).KeyNames(section, size);
}

std::vector<std::string> GetPrivateProfileSectionNames(const std::string& fileName) {
    return ProfileFile(fileName).SectionNames();
}

bool WritePrivateProfileString(std::string_view section, std::optional<std::string_view> key,
                               std::optional<std::string_view> value, const std::string& fileName) {
    ProfileFile file(fileName);
    bool changed = false;
    if (!file.WriteString(section, key, value, &changed))
        return false;
    return !changed || file.Save();
}

} // namespace platform
