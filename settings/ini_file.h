// An INI file with the semantics of the Windows private-profile functions: section and key names
// match without regard to case, values are bytes stored as they are (Shift-JIS), other sections,
// keys and comment lines stay untouched. Plain standard C++.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ini {

// At most this many bytes of a value come back from a read.
inline constexpr std::size_t MaxValueBytes = 2047;

class IniFile {
public:
    // Reads `path` (a file-system path); a missing file reads as empty. A file that exists but
    // cannot be read, or is no regular file (a folder, a device, a named pipe: never waited
    // for), also reads as empty, and save() then refuses to replace it.
    explicit IniFile(std::string path);
    // An in-memory file holding `content` (lines ended by CR LF or LF), for parsing alone.
    static IniFile fromBytes(std::string path, std::string_view content);

    const std::string& path() const { return path_; }
    bool existed() const { return existed_; }  // the file was there when read
    bool unreadable() const { return unreadable_; } // ... but could not be read: it reads as empty

    // Missing section or key gives `def`; a key present with an empty value gives "".
    // Blanks and tabs around the value are not part of it. At most MaxValueBytes come back,
    // never a split double-byte character.
    std::string readString(std::string_view section, std::string_view key, std::string_view def) const;
    // Decimal with an optional sign, or hexadecimal after "0x", "0X" or "$"; other text gives `def`.
    int readInteger(std::string_view section, std::string_view key, int def) const;
    // Read as an integer: non-zero is true, 0 false, other text gives `def`.
    bool readBool(std::string_view section, std::string_view key, bool def) const;

    bool hasSection(std::string_view section) const;
    bool hasKey(std::string_view section, std::string_view key) const;

    // Every (section, key) the three reads above were asked for, in order, as the caller named them.
    const std::vector<std::pair<std::string, std::string>>& keysRead() const { return keysRead_; }

    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    // Every key of the file in file order, with its section and value as the file writes them.
    std::vector<Entry> entries() const;

    // Replaces the key where it stands, or adds it (and its section, at the end of the file).
    // A section, key or value that would break the file's lines (CR, LF or NUL; a key with "=",
    // a section with "]") throws std::invalid_argument and changes nothing.
    void writeString(std::string_view section, std::string_view key, std::string_view value);
    void writeInteger(std::string_view section, std::string_view key, int value);
    void writeBool(std::string_view section, std::string_view key, bool value);

    // Asked before every write; a write it answers false for leaves the file as it is.
    using WriteFilter = std::function<bool(std::string_view section, std::string_view key, std::string_view value)>;
    void setWriteFilter(WriteFilter filter) { writeFilter_ = std::move(filter); }

    // Writes the whole file atomically. On failure throws tessaly::FileError with the text
    // "<path> に書き込めません" and leaves the old file intact.
    void save() const;

    // The file's bytes as save() would write them: every line ended by CR LF.
    std::string serialize() const;

private:
    struct Found {
        bool sectionFound = false;
        std::size_t sectionLine = 0;  // the section's header line
        std::size_t lastEntryLine = 0; // last non-blank line of the section (its header if none)
        bool keyFound = false;
        std::size_t keyLine = 0;
    };
    Found find(std::string_view section, std::string_view key) const;
    void parse(std::string_view content);

    std::string path_;
    bool existed_ = false;
    bool unreadable_ = false;
    std::vector<std::string> lines_; // the file's lines without their line ends
    mutable std::vector<std::pair<std::string, std::string>> keysRead_;
    WriteFilter writeFilter_;
};

// Section and key names compare as the file's reader compares them: ASCII letters without
// regard to case, double-byte characters exactly.
bool sameName(std::string_view a, std::string_view b);

// Parses an integer the way the private-profile functions do; false when the text is not one.
bool parseProfileInt(std::string_view text, int& out);

} // namespace ini
