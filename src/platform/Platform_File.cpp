#include "Platform_File.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool Fail(std::string* reason, int error) {
    if (reason) *reason = std::strerror(error);
    return false;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once symbolic links are followed; the path itself when it names none
// or a dangling link.
std::string Target(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved)) return resolved;
    return path;
}

} // namespace

bool Platform_File_Replace(const std::string& path, std::string_view bytes, std::string* reason) {
    if (path.empty()) return Fail(reason, ENOENT);
    const std::string target = Target(path);
    struct stat old {};
    mode_t mode = 0;
    if (stat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode)) return Fail(reason, S_ISDIR(old.st_mode) ? EISDIR : EINVAL);
        mode = old.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0644 & ~mask;
    }
    std::string temp = target + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return Fail(reason, errno);
    int error = 0;
    for (size_t done = 0; done < bytes.size() && !error;) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            error = errno;
        else if (n == 0)
            error = EIO;
    }
    if (!error && fchmod(fd, mode) != 0) error = errno;
    if (!error && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && !error) error = errno;
    if (!error && rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error) {
        unlink(temp.c_str());
        return Fail(reason, error);
    }
    // The rename itself reaches the disk with the folder.
    const int dir = open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
