#include "Platform_File.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
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

constexpr const char* kTempMark = ".tmp-";
constexpr size_t kTempRandom = 6; // the XXXXXX of mkstemp

// Temporary files of earlier saves of this file that were killed before their rename. A writer
// holds a lock on its temporary file until it is renamed or removed, so one that can be locked
// belongs to no live save.
void RemoveStaleTemps(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.c_str());
    if (!dir) return;
    const std::string prefix = name + kTempMark;
    while (const dirent* e = readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry.size() != prefix.size() + kTempRandom || entry.compare(0, prefix.size(), prefix))
            continue;
        const std::string path = folder + "/" + entry;
        const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held {
        }, named{};
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev &&
            named.st_ino == held.st_ino)
            unlink(path.c_str());
        close(fd);
    }
    closedir(dir);
}

// A new temporary file beside target, locked for this save. A cleaner that locked it first
// may have removed it meanwhile: then another is made.
int MakeLockedTemp(const std::string& target, std::string* temp) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        *temp = target + kTempMark + std::string(kTempRandom, 'X');
        const int fd = mkostemp(temp->data(), O_CLOEXEC);
        if (fd < 0) return -1;
        struct stat held {
        }, named{};
        if (flock(fd, LOCK_EX) == 0 && fstat(fd, &held) == 0 && held.st_nlink > 0 &&
            lstat(temp->c_str(), &named) == 0 && named.st_ino == held.st_ino &&
            named.st_dev == held.st_dev)
            return fd;
        const int error = errno;
        close(fd);
        errno = error;
    }
    errno = EAGAIN;
    return -1;
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
    const std::string folder = FolderOf(target);
    RemoveStaleTemps(folder, NameOf(target));
    std::string temp;
    const int fd = MakeLockedTemp(target, &temp);
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
    // The lock is let go only once the temporary file is renamed or removed.
    if (!error && rename(temp.c_str(), target.c_str()) != 0) error = errno;
    if (error) unlink(temp.c_str());
    close(fd); // after fsync nothing can be lost here
    if (error) return Fail(reason, error);
    // The rename itself reaches the disk with the folder.
    const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
