#include "settings/ini_file.h"

#include "common/atomic_file.h"
#include "common/errors.h"
#include "common/regular_file.h"
#include "common/sjis_bytes.h"

#include <cstdint>
#include <stdexcept>

namespace ini {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// First byte of a Shift-JIS double-byte character. Its second byte may look like an ASCII
// letter, which must then not be folded or taken for a separator.
using tessaly::isSjisLeadByte;

char foldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isSjisLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1])
                return false;
            ++i;
        } else if (foldAscii(a[i]) != foldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Position of the first byte `c` that stands on its own, not as the second byte of a
// double-byte character; npos when there is none.
std::size_t findSingleByte(std::string_view s, char c) {
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == c)
            return i;
        if (isSjisLeadByte(static_cast<unsigned char>(s[i])))
            ++i;
    }
    return std::string_view::npos;
}

enum class LineKind { Other, Section, Entry };

struct Line {
    LineKind kind = LineKind::Other;
    std::string_view name;  // section name or key
    std::string_view value; // entries only
};

Line classify(std::string_view raw) {
    Line line;
    const std::string_view t = trim(raw);
    if (t.empty() || t.front() == ';')
        return line;
    if (t.front() == '[') {
        const std::string_view inner = t.substr(1);
        const std::size_t close = findSingleByte(inner, ']');
        line.kind = LineKind::Section;
        line.name = trim(inner.substr(0, close));
        return line;
    }
    const std::size_t eq = findSingleByte(t, '=');
    if (eq == std::string_view::npos)
        return line;
    line.kind = LineKind::Entry;
    line.name = trim(t.substr(0, eq));
    line.value = trim(t.substr(eq + 1));
    return line;
}

// A value ends at a NUL byte, as a C string would, and keeps at most MaxValueBytes.
std::string_view cutToLimit(std::string_view v) {
    v = v.substr(0, v.find('\0'));
    if (v.size() <= MaxValueBytes)
        return v;
    std::size_t i = 0;
    while (i < v.size()) {
        const std::size_t len = (isSjisLeadByte(static_cast<unsigned char>(v[i])) && i + 1 < v.size()) ? 2 : 1;
        if (i + len > MaxValueBytes)
            break;
        i += len;
    }
    return v.substr(0, i);
}

bool breaksLine(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// A name that reads back as itself: not empty, no blanks around it (they are not part of a name),
// no line break, no `closing` byte, and no half character that would swallow the byte after it.
bool usableName(std::string_view name, char closing) {
    if (name.empty() || trim(name).size() != name.size() || breaksLine(name) ||
        findSingleByte(name, closing) != std::string_view::npos)
        return false;
    std::size_t i = 0;
    while (i < name.size())
        i += isSjisLeadByte(static_cast<unsigned char>(name[i])) ? 2 : 1;
    return i == name.size();
}

} // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
    std::string content;
    switch (tessaly::readRegularFile(path_, content)) {
    case tessaly::FileRead::Missing:
        return;
    case tessaly::FileRead::Read:
        existed_ = true;
        parse(content);
        return;
    default:
        existed_ = true;
        unreadable_ = true;
        return;
    }
}

IniFile IniFile::fromBytes(std::string path, std::string_view content) {
    IniFile file(std::string{});
    file.path_ = std::move(path);
    file.existed_ = true; // the bytes of a file that was there
    file.parse(content);
    return file;
}

void IniFile::parse(std::string_view content) {
    // A CR, an LF or CR LF ends a line, so that no value can ever hold a line break.
    lines_.clear();
    std::size_t start = 0;
    while (start < content.size()) {
        std::size_t end = content.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = content.size();
        lines_.emplace_back(content.substr(start, end - start));
        if (end < content.size() && content[end] == '\r' && end + 1 < content.size() && content[end + 1] == '\n')
            ++end;
        start = end + 1;
    }
}

IniFile::Found IniFile::find(std::string_view section, std::string_view key) const {
    Found found;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line line = classify(lines_[i]);
        if (!found.sectionFound) {
            if (line.kind == LineKind::Section && equalNoCase(line.name, section)) {
                found.sectionFound = true;
                found.sectionLine = i;
                found.lastEntryLine = i;
            }
            continue;
        }
        if (line.kind == LineKind::Section)
            break; // only the first section of that name counts
        if (!trim(lines_[i]).empty())
            found.lastEntryLine = i;
        if (line.kind == LineKind::Entry && equalNoCase(line.name, key)) {
            found.keyFound = true;
            found.keyLine = i;
            break;
        }
    }
    return found;
}

bool IniFile::hasSection(std::string_view section) const { return find(section, {}).sectionFound; }

bool IniFile::hasKey(std::string_view section, std::string_view key) const { return find(section, key).keyFound; }

bool sameName(std::string_view a, std::string_view b) { return equalNoCase(a, b); }

std::vector<IniFile::Entry> IniFile::entries() const {
    std::vector<Entry> result;
    std::string_view section;
    bool inSection = false;
    for (const std::string& raw : lines_) {
        const Line line = classify(raw);
        if (line.kind == LineKind::Section) {
            section = line.name;
            inSection = true;
        } else if (line.kind == LineKind::Entry && inSection) {
            result.push_back({std::string(section), std::string(line.name), std::string(cutToLimit(line.value))});
        }
    }
    return result;
}

std::string IniFile::readString(std::string_view section, std::string_view key, std::string_view def) const {
    keysRead_.emplace_back(section, key);
    const Found found = find(section, key);
    if (!found.keyFound)
        return std::string(def);
    return std::string(cutToLimit(classify(lines_[found.keyLine]).value));
}

int IniFile::readInteger(std::string_view section, std::string_view key, int def) const {
    keysRead_.emplace_back(section, key);
    const Found found = find(section, key);
    if (!found.keyFound)
        return def;
    int value = 0;
    return parseProfileInt(cutToLimit(classify(lines_[found.keyLine]).value), value) ? value : def;
}

bool IniFile::readBool(std::string_view section, std::string_view key, bool def) const {
    return readInteger(section, key, def ? 1 : 0) != 0;
}

void IniFile::writeString(std::string_view section, std::string_view key, std::string_view value) {
    if (!usableName(section, ']'))
        throw std::invalid_argument("INI section name unusable");
    if (!usableName(key, '=') || key.front() == '[' || key.front() == ';')
        throw std::invalid_argument("INI key name unusable");
    if (breaksLine(value))
        throw std::invalid_argument("INI value holds a line break");
    if (writeFilter_ && !writeFilter_(section, key, value))
        return;

    const Found found = find(section, key);
    if (found.keyFound) {
        // Keep the key as it is written (its case, its blanks); only the value changes.
        std::string& line = lines_[found.keyLine];
        line.resize(findSingleByte(line, '=') + 1);
        line.append(value);
        return;
    }
    std::string entry(key);
    entry += '=';
    entry.append(value);
    if (found.sectionFound) {
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(found.lastEntryLine + 1), std::move(entry));
        return;
    }
    std::string header = "[";
    header.append(section);
    header += ']';
    lines_.push_back(std::move(header));
    lines_.push_back(std::move(entry));
}

void IniFile::writeInteger(std::string_view section, std::string_view key, int value) {
    writeString(section, key, std::to_string(value));
}

void IniFile::writeBool(std::string_view section, std::string_view key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

std::string IniFile::serialize() const {
    std::string out;
    for (const std::string& line : lines_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void IniFile::save() const {
    const std::string failure = path_ + " に書き込めません";
    // What could not be read cannot be written back whole; replacing it would lose its other
    // sections.
    if (unreadable_)
        throw tessaly::FileError(failure);
    tessaly::writeFileAtomically(path_, serialize(), failure);
}

bool parseProfileInt(std::string_view text, int& out) {
    std::string_view s = trim(text);
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    bool hex = false;
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = true;
        s.remove_prefix(2);
    } else if (!s.empty() && s.front() == '$') {
        hex = true;
        s.remove_prefix(1);
    }
    if (s.empty())
        return false;

    if (hex) {
        // Hexadecimal is read as 32 bits, so $FFFFFFFF is -1.
        std::uint64_t v = 0;
        for (char c : s) {
            int d;
            if (c >= '0' && c <= '9')
                d = c - '0';
            else if (c >= 'a' && c <= 'f')
                d = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                d = c - 'A' + 10;
            else
                return false;
            v = v * 16 + static_cast<std::uint64_t>(d);
            if (v > 0xFFFFFFFFu)
                return false;
        }
        auto u = static_cast<std::uint32_t>(v);
        if (negative)
            u = 0u - u;
        out = static_cast<std::int32_t>(u);
        return true;
    }

    std::int64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
        if (v > 2147483648LL)
            return false;
    }
    if (negative)
        v = -v;
    if (v > 2147483647LL)
        return false;
    out = static_cast<int>(v);
    return true;
}

} // namespace ini
