// Replacing a file whole: nothing a program writes over may be lost to a kill, a crash or a
// full disk half way through.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

// Writes bytes to a new file in path's folder ("<name>.tmp-XXXXXX", locked while it is written),
// flushes it to the disk and renames it over path, so path holds either the old contents or the
// new ones, never a mix or a stump. Temporary files left by saves of path that were killed are
// removed on the next save. A symbolic link at path is followed: its target is replaced. The old
// file's permissions are kept (0644 less the umask for a new file) and honoured: a file the user
// may not write, or that has no write bit at all, is not replaced ("Permission denied"), nor is
// anything but a regular file ("not a regular file"). On failure path is untouched,
// the temporary file is gone, and reason (when given) says what failed, e.g. "No space left on
// device".
bool Platform_File_Replace(const std::string& path, std::string_view bytes,
                           std::string* reason = nullptr);

// Reads path whole when it is a regular file of at most cap bytes. The open never blocks: a
// named pipe, device or folder is refused at once ("not a regular file"), so is a file larger
// than cap ("larger than 1 MB"), also one that grows past cap while it is read. On failure bytes
// is empty and reason (when given) says why, e.g. "No such file or directory".
bool Platform_File_Read(const std::string& path, size_t cap, std::string& bytes,
                        std::string* reason = nullptr);

// The same checks for readers that need a stream (picture decoders, replays read in parts):
// path opened for binary reading when it is a regular file of at most cap bytes. The stream
// ends with a read error, not more bytes, once cap bytes have been read, so a file that grows
// while it is read cannot feed a reader past cap. Null and reason on failure.
std::FILE* Platform_File_Open(const std::string& path, size_t cap, std::string* reason = nullptr);

// A cap as a person reads it: "1 MB", "64 KB", "100 bytes".
std::string Platform_File_CapText(size_t cap);
