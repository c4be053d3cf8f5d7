#include "common/atomic_file.h"

#include "common/errors.h"
#include "common/regular_file.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tessaly {
namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writing through a symbolic link must replace the file it points to, not the link.
std::string resolvedTarget(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(path.c_str(), nullptr)) {
            std::string target(real);
            std::free(real);
            return target;
        }
    }
    return path;
}

// A short name in the target's folder (a long target name must not make it too long), unique
// among writers of this process; O_EXCL settles any collision left.
std::string temporaryName(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    return folder + "/.tessaly-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".tmp";
}

void syncFolder(const std::string& folder) {
    // Makes the rename itself durable; a file system that cannot do it loses nothing else.
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

void writeFileAtomically(const std::string& path, std::string_view bytes, const std::string& failureText) {
    auto fail = [&]() -> void {
        throw FileError(failureText.empty() ? path + " に書き込めません" : failureText);
    };

    const std::string target = resolvedTarget(path);
    const std::string folder = folderOf(target);
    struct stat old {};
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && !S_ISREG(old.st_mode))
        fail(); // a folder or a device is never replaced by a file
    // A file the user made read-only stays as it is: the rename below would replace it all the
    // same, since only the folder's permissions govern a rename. No write permission for anyone
    // counts too, so that it holds for the administrator, whom permissions do not stop.
    if (existed && (::access(target.c_str(), W_OK) != 0 || (old.st_mode & 0222) == 0))
        fail();

    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = temporaryName(folder);
        // 0666 lets the umask decide a new file's permissions, as for any file the program creates.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        fail();

    bool ok = writeWhole(fd, bytes);
    if (ok && existed)
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    if (ok)
        ok = ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (ok)
        ok = ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        fail();
    }
    syncFolder(folder);
}

} // namespace tessaly
