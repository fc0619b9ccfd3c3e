// Replacing a file whole: nothing a program writes over may be lost to a kill, a crash or a
// full disk half way through.
#pragma once

#include <string>
#include <string_view>

// Writes bytes to a new file in path's folder ("<name>.tmp-XXXXXX", locked while it is written),
// flushes it to the disk and renames it over path, so path holds either the old contents or the
// new ones, never a mix or a stump. Temporary files left by saves of path that were killed are
// removed on the next save. A symbolic link at path is followed: its target is replaced. The old
// file's permissions are kept (0644 less the umask for a new file). On failure path is untouched,
// the temporary file is gone, and reason (when given) says what failed, e.g. "No space left on
// device".
bool Platform_File_Replace(const std::string& path, std::string_view bytes,
                           std::string* reason = nullptr);
