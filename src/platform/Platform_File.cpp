#include "Platform_File.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
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

bool Refuse(std::string* reason, const std::string& why) {
    if (reason) *reason = why;
    return false;
}

// A descriptor for reading path, when it names a regular file of at most cap bytes. O_NONBLOCK:
// opening a pipe would otherwise wait for a writer, possibly for ever; it is cleared again once
// the file is known to be regular.
int OpenBounded(const std::string& path, size_t cap, off_t* size, std::string* reason) {
    if (path.empty()) return Fail(reason, ENOENT), -1;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return Fail(reason, errno), -1;
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        return Fail(reason, error), -1;
    }
    if (!S_ISREG(st.st_mode)) {
        close(fd);
        return Refuse(reason, "not a regular file"), -1;
    }
    if (st.st_size < 0 || static_cast<unsigned long long>(st.st_size) > cap) {
        close(fd);
        return Refuse(reason, "larger than " + Platform_File_CapText(cap)), -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    *size = st.st_size;
    return fd;
}

// Caps are counted with one byte to spare.
constexpr size_t kLargestCap = std::numeric_limits<size_t>::max() - 1;

// The stream behind Platform_File_Open: reads stop at the cap.
struct BoundedStream {
    int fd;
    size_t cap;
    off_t pos;
};

ssize_t BoundedRead(void* cookie, char* buf, size_t size) {
    auto* s = static_cast<BoundedStream*>(cookie);
    const size_t room = s->pos >= 0 && static_cast<size_t>(s->pos) < s->cap
                            ? s->cap - static_cast<size_t>(s->pos)
                            : 0;
    // One byte past the cap tells a file that has grown from one that ends exactly there.
    const size_t want = std::min(size, room + 1);
    ssize_t n;
    do n = pread(s->fd, buf, want, s->pos);
    while (n < 0 && errno == EINTR);
    if (n < 0) return -1;
    if (static_cast<size_t>(n) > room) {
        // The bytes within the cap still go out; the read after them fails.
        if (room == 0) {
            errno = EFBIG;
            return -1;
        }
        n = static_cast<ssize_t>(room);
    }
    s->pos += n;
    return n;
}

int BoundedSeek(void* cookie, off64_t* offset, int whence) {
    auto* s = static_cast<BoundedStream*>(cookie);
    off_t base = 0;
    if (whence == SEEK_CUR) {
        base = s->pos;
    } else if (whence == SEEK_END) {
        struct stat st {};
        if (fstat(s->fd, &st) != 0) return -1;
        base = st.st_size;
    } else if (whence != SEEK_SET) {
        errno = EINVAL;
        return -1;
    }
    off64_t to = 0;
    // An offset read off a file (a box length near 2^63) must not overflow.
    if (__builtin_add_overflow(off64_t(base), *offset, &to) || to < 0) {
        errno = EINVAL;
        return -1;
    }
    s->pos = static_cast<off_t>(to);
    *offset = to;
    return 0;
}

int BoundedClose(void* cookie) {
    auto* s = static_cast<BoundedStream*>(cookie);
    const int result = close(s->fd);
    delete s;
    return result;
}

} // namespace

std::string Platform_File_CapText(size_t cap) {
    if (cap >= (size_t{1} << 20) && cap % (size_t{1} << 20) == 0)
        return std::to_string(cap >> 20) + " MB";
    if (cap >= 1024 && cap % 1024 == 0) return std::to_string(cap >> 10) + " KB";
    return std::to_string(cap) + (cap == 1 ? " byte" : " bytes");
}

bool Platform_File_Read(const std::string& path, size_t cap, std::string& bytes,
                        std::string* reason) {
    bytes.clear();
    cap = std::min(cap, kLargestCap);
    off_t size = 0;
    const int fd = OpenBounded(path, cap, &size, reason);
    if (fd < 0) return false;
    // The size is only a hint: the file may shrink or grow while it is read. The byte past the
    // size tells the end from growth.
    bytes.resize(static_cast<size_t>(size) + 1);
    size_t done = 0;
    int error = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done > cap) break;
            bytes.resize(std::min(cap + 1, std::max<size_t>(done * 2, 4096)));
        }
        const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n == 0)
            break;
        else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    close(fd);
    if (error) {
        bytes.clear();
        return Fail(reason, error);
    }
    if (done > cap) {
        bytes.clear();
        return Refuse(reason, "larger than " + Platform_File_CapText(cap));
    }
    bytes.resize(done);
    return true;
}

std::FILE* Platform_File_Open(const std::string& path, size_t cap, std::string* reason) {
    cap = std::min(cap, kLargestCap);
    off_t size = 0;
    const int fd = OpenBounded(path, cap, &size, reason);
    if (fd < 0) return nullptr;
    auto* stream = new (std::nothrow) BoundedStream{fd, cap, 0};
    std::FILE* f = nullptr;
    if (stream) {
        const cookie_io_functions_t io{BoundedRead, nullptr, BoundedSeek, BoundedClose};
        f = fopencookie(stream, "rb", io);
    }
    if (!f) {
        const int error = stream ? errno : ENOMEM;
        delete stream;
        close(fd);
        Fail(reason, error);
    }
    return f;
}

bool Platform_File_Replace(const std::string& path, std::string_view bytes, std::string* reason) {
    if (path.empty()) return Fail(reason, ENOENT);
    const std::string target = Target(path);
    struct stat old {};
    mode_t mode = 0;
    if (stat(target.c_str(), &old) == 0) {
        if (S_ISDIR(old.st_mode)) return Fail(reason, EISDIR);
        if (!S_ISREG(old.st_mode)) return Refuse(reason, "not a regular file");
        // The rename needs only the folder's permission: a file the user may not write, or
        // one nobody may write (root passes access()), is kept as its owner left it.
        if (access(target.c_str(), W_OK) != 0) return Fail(reason, errno);
        if ((old.st_mode & 0222) == 0) return Fail(reason, EACCES);
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
