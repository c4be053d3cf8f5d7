// Writing a file so that a crash or a full disk never leaves it truncated: the bytes go to a
// temporary file in the same folder, which is flushed and renamed over the old one.
#pragma once

#include <string>
#include <string_view>

namespace tessaly {

// Throws tessaly::FileError on failure; the old file, if any, is then unchanged. A read-only file
// (no write permission for this process, or none for anyone) counts as a failure.
// `path` is a file-system path (UTF-8). `failureText` is the error text to raise; empty means a
// default text naming the file.
void writeFileAtomically(const std::string& path, std::string_view bytes,
                         const std::string& failureText = {});

} // namespace tessaly
