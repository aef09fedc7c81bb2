// Writing a file so that it appears whole or not at all.
//
// A regular file, or a new name, is written under an exclusive random name
// beside it, flushed to disk and renamed over it: a reader sees the old
// contents or the new, never a part, and a failure (disk full, read-only
// folder, no permission) leaves the target as it was and no temporary file.
// The new file takes the permissions (and, where allowed, the owner) of the
// file it replaces; a new name gets what the umask gives. A symlink is
// followed to its final target, which is replaced while the link stays. A
// FIFO or character device has no contents to protect: the bytes are written
// to it directly. A folder, a block device or a socket is refused, and so is
// a name in a folder that does not exist: folders are never created here.
//
// On Windows the name is UTF-8. The new file is flushed and moved over the
// old one (MoveFileExW, written through); a file another program holds open,
// or one marked read-only, is refused and left as it was. The new file takes
// the permissions of its folder.
//
// This is the only place that opens a file for writing.
#ifndef VYR_FFC_PLATFORM_FILE_WRITE_H
#define VYR_FFC_PLATFORM_FILE_WRITE_H

#include <string>
#include <string_view>

namespace ffc {

// Writes `bytes` to `path`. Returns an empty string when written, else the
// reason in words that finish "cannot write PATH: ...".
std::string WriteWholeFile(const std::string& path, std::string_view bytes);

}  // namespace ffc

#endif  // VYR_FFC_PLATFORM_FILE_WRITE_H
