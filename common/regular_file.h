// Opening and reading files that must be plain files. A named pipe blocks an open or a read until
// another program writes to it, and a device such as /dev/zero never ends; the program checks
// what a path names before it reads or appends, and never waits for it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tessaly {

enum class FileOpen {
    Opened,
    Missing,    // nothing at the path
    NotRegular, // a folder, a device, a named pipe or a socket
    Failed,     // there, but it cannot be opened (permission, I/O or network error); see errno
};

// Opens `fsPath` with `flags` (O_RDONLY, O_WRONLY | O_APPEND, ... ; O_CREAT allowed) only when it
// names a regular file, without blocking on the way. On Opened `fd` is an open descriptor in
// blocking mode, with close-on-exec; otherwise it is -1 and errno tells the cause.
FileOpen openRegularFile(const std::string& fsPath, int flags, int& fd);

enum class FileRead {
    Read,
    Missing,
    NotRegular,
    TooLarge,
    OpenFailed, // there, but it cannot be opened (permission, I/O or network error)
    ReadFailed, // opened, but reading it failed
};

// Reads the whole regular file at `fsPath` into `bytes`, refusing a file of more than `maxBytes`.
// `bytes` is left empty unless the result is Read.
FileRead readRegularFile(const std::string& fsPath, std::string& bytes,
                         std::size_t maxBytes = static_cast<std::size_t>(-1));

// Writes all of `bytes` to `fd`, going on after interrupted and partial writes; false on error.
bool writeWhole(int fd, std::string_view bytes);
// The same at the end of a file of records (`fd` appends, or stands at the end): when the write
// fails, the part that went out is cut off again, so that the file never ends in half a record.
bool appendRecord(int fd, std::string_view bytes);

// After a file could not be opened for reading: true when what stopped it may pass without the
// user changing the path (a regular file without permission, a folder or a network share the
// system cannot look into just now); false for an empty path, nothing at the path, or something
// that is no regular file.
bool readFailureMayPass(const std::string& fsPath);
} // namespace tessaly
