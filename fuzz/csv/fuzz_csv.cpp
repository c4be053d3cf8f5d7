// Any bytes as a line and as a file of records: splitting and reading never fail, every value is
// taken from the input, reading always ends, and fields the format can hold read back unchanged.
#include "address/vexo_csv.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool holdable(std::string_view field) {
    return field.find_first_of("\",\r\x1A") == std::string_view::npos;
}

// A scratch file per process, written anew for every input and removed at exit.
char scratchName[] = "/tmp/fuzz_csv_XXXXXX";

const char* scratchPath() {
    static const bool made = [] {
        const int fd = mkstemp(scratchName);
        check(fd >= 0);
        ::close(fd);
        std::atexit([] { ::unlink(scratchName); });
        return true;
    }();
    (void)made;
    return scratchName;
}

void writeFile(std::string_view bytes) {
    std::FILE* f = std::fopen(scratchPath(), "wb");
    check(f != nullptr);
    check(std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size());
    std::fclose(f);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const int itemCount = 1 + data[0] % 8;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);

    // The line as it is.
    TVexo_CSV split;
    split.ItemCount = itemCount;
    split.SplitLine(input);
    for (int i = 1; i <= itemCount; ++i)
        check(input.find(split.Items[static_cast<std::size_t>(i)]) != std::string::npos);

    // The input as a file: at least one record, one byte read at the least per record.
    writeFile(input);
    TVexo_CSV reader;
    reader.ItemCount = itemCount;
    reader.OpenRead(scratchPath());
    check(!reader.ErrorDetect);
    std::size_t records = 0;
    while (!reader.eof) {
        reader.ReadRecord();
        check(input.find(reader.text) != std::string::npos);
        check(++records <= input.size() + 1);
    }
    reader.CloseFile();

    // Fields cut from the input at the separators, written and read back.
    TVexo_CSV writer;
    writer.ItemCount = itemCount;
    std::string_view rest = input;
    bool allHoldable = true;
    for (int i = 1; i <= itemCount; ++i) {
        const std::size_t cut = rest.find('\t');
        const std::string_view field = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view{} : rest.substr(cut + 1);
        writer.Items[static_cast<std::size_t>(i)].assign(field);
        allHoldable = allHoldable && holdable(field);
    }
    if (!allHoldable)
        return 0;
    writer.BuildText();
    writeFile(writer.text + "\r\n" + writer.text + "\r\n");
    TVexo_CSV again;
    again.ItemCount = itemCount;
    again.OpenRead(scratchPath());
    for (int round = 0; round < 2; ++round) {
        check(!again.eof);
        again.ReadRecord();
        check(!again.ErrorDetect);
        for (int i = 1; i <= itemCount; ++i)
            check(again.Items[static_cast<std::size_t>(i)] == writer.Items[static_cast<std::size_t>(i)]);
    }
    check(again.eof);
    again.CloseFile();
    return 0;
}
