#include "common/regular_file.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly {

FileOpen openRegularFile(const std::string& fsPath, int flags, int& fd) {
    fd = -1;
    struct stat st {};
    if (::stat(fsPath.c_str(), &st) != 0) {
        if ((errno == ENOENT || errno == ENOTDIR) && !(flags & O_CREAT))
            return FileOpen::Missing;
        if (errno != ENOENT)
            return FileOpen::Failed;
    } else if (!S_ISREG(st.st_mode)) {
        errno = EINVAL;
        return FileOpen::NotRegular;
    }
    // O_NONBLOCK makes the open itself return at once even if the path was swapped for a pipe
    // since the look above; the descriptor is checked again before anything is read.
    int opened;
    do {
        opened = ::open(fsPath.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    } while (opened < 0 && errno == EINTR);
    if (opened < 0)
        return errno == ENOENT ? FileOpen::Missing : FileOpen::Failed;
    if (::fstat(opened, &st) != 0) {
        const int err = errno;
        ::close(opened);
        errno = err;
        return FileOpen::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(opened);
        errno = EINVAL;
        return FileOpen::NotRegular;
    }
    const int mode = ::fcntl(opened, F_GETFL);
    if (mode == -1 || ::fcntl(opened, F_SETFL, mode & ~O_NONBLOCK) == -1) {
        const int err = errno;
        ::close(opened);
        errno = err;
        return FileOpen::Failed;
    }
    fd = opened;
    return FileOpen::Opened;
}

FileRead readRegularFile(const std::string& fsPath, std::string& bytes, std::size_t maxBytes) {
    bytes.clear();
    int fd = -1;
    switch (openRegularFile(fsPath, O_RDONLY, fd)) {
    case FileOpen::Opened:
        break;
    case FileOpen::Missing:
        return FileRead::Missing;
    case FileOpen::NotRegular:
        return FileRead::NotRegular;
    case FileOpen::Failed:
        return FileRead::OpenFailed;
    }
    FileRead result = FileRead::Read;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_size) > maxBytes) {
        result = FileRead::TooLarge;
    } else {
        if (st.st_size > 0)
            bytes.reserve(static_cast<std::size_t>(st.st_size));
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                result = FileRead::ReadFailed;
                break;
            }
            if (n == 0)
                break;
            // A file that grows while it is read is held to the same limit.
            if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) {
                result = FileRead::TooLarge;
                break;
            }
            bytes.append(buffer, static_cast<std::size_t>(n));
        }
    }
    const int err = errno;
    ::close(fd);
    errno = err;
    if (result != FileRead::Read)
        bytes.clear();
    return result;
}

bool writeWhole(int fd, std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

bool appendRecord(int fd, std::string_view bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            struct stat st {};
            if (written > 0 && ::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(written)) {
                const off_t whole = st.st_size - static_cast<off_t>(written);
                if (::ftruncate(fd, whole) == 0)
                    (void)::lseek(fd, whole, SEEK_SET);
            }
            return false;
        }
        written += static_cast<std::size_t>(n);
    }
    return true;
}

bool readFailureMayPass(const std::string& fsPath) {
    if (fsPath.empty())
        return false;
    struct stat st {};
    if (::stat(fsPath.c_str(), &st) == 0)
        return S_ISREG(st.st_mode);
    return errno != ENOENT && errno != ENOTDIR && errno != ELOOP && errno != ENAMETOOLONG;
}

} // namespace tessaly
