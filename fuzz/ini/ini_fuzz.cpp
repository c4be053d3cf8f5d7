// Any bytes as TSY2.ini: reading never fails, what is written reads back, and writing the file
// out and reading it again changes nothing.
#include "settings/ini_file.h"

#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// The value a read gives for `written`: blanks around it dropped, at most MaxValueBytes, never
// half a double-byte character.
std::string expectedRead(std::string_view written) {
    while (!written.empty() && (written.front() == ' ' || written.front() == '\t'))
        written.remove_prefix(1);
    while (!written.empty() && (written.back() == ' ' || written.back() == '\t'))
        written.remove_suffix(1);
    std::size_t i = 0;
    while (i < written.size()) {
        const auto c = static_cast<unsigned char>(written[i]);
        const bool lead = ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < written.size();
        const std::size_t len = lead ? 2 : 1;
        if (i + len > ini::MaxValueBytes)
            break;
        i += len;
    }
    return std::string(written.substr(0, i));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // The first line names a section, the second a key, the third a value to write; the whole
    // input is also the file.
    std::string_view parts[3];
    std::string_view rest = input;
    for (auto& part : parts) {
        const std::size_t nl = rest.find('\n');
        part = rest.substr(0, nl);
        rest = nl == std::string_view::npos ? std::string_view{} : rest.substr(nl + 1);
    }

    ini::IniFile file = ini::IniFile::fromBytes("fuzz.ini", input);
    for (const char* key : {"Host", "Port", "ChkBox_Log", "Main_X"}) {
        check(file.readString("Settei", key, "").size() <= ini::MaxValueBytes);
        (void)file.readInteger("Window", key, 0);
        (void)file.readBool("Settei", key, false);
    }
    (void)file.readString(parts[0], parts[1], "default");

    const std::string once = file.serialize();
    const std::string twice = ini::IniFile::fromBytes("fuzz.ini", once).serialize();
    check(once == twice);

    try {
        file.writeString(parts[0], parts[1], parts[2]);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    check(file.readString(parts[0], parts[1], "\x01missing") == expectedRead(parts[2].substr(0, parts[2].find('\0'))));
    const ini::IniFile reread = ini::IniFile::fromBytes("fuzz.ini", file.serialize());
    check(reread.readString(parts[0], parts[1], "\x01missing") == file.readString(parts[0], parts[1], ""));
    return 0;
}
