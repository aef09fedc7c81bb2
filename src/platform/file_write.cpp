// The POSIX branch; file_write_windows.cpp is the Windows one.
#if !defined(_WIN32)
#include "platform/file_write.h"

#include <cerrno>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ffc {

namespace {

// Longest file name most file systems take, and the most links the kernel
// follows in one path.
constexpr size_t kMaxNameBytes = 255;
constexpr int kMaxLinks = 40;

std::string Reason(int error) { return std::strerror(error); }

// "" for a name in the current folder, "/" for one at the root.
std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& folder, const std::string& name) {
    if (folder.empty()) return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

// Where the bytes end up: the name itself, or the final target of a chain of
// links (which need not exist yet). `info` describes it when `exists`.
struct Target {
    std::string path;
    bool exists = false;
    struct stat info {};
};

std::string Resolve(const std::string& path, Target& target) {
    std::string current = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        if (::lstat(current.c_str(), &target.info) != 0) {
            if (errno != ENOENT && errno != ENOTDIR) return Reason(errno);
            target.path = current;
            target.exists = false;
            return "";
        }
        if (!S_ISLNK(target.info.st_mode)) {
            target.path = current;
            target.exists = true;
            return "";
        }
        std::string link(static_cast<size_t>(target.info.st_size > 0 ? target.info.st_size : 4096) + 1, '\0');
        const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
        if (length < 0) return Reason(errno);
        if (static_cast<size_t>(length) >= link.size()) return "the link changed while it was read";
        link.resize(static_cast<size_t>(length));
        current = link.front() == '/' ? link : Join(FolderOf(current), link);
    }
    return Reason(ELOOP);
}

// A new name is written only into a folder that is there.
std::string CheckFolder(const std::string& path) {
    const std::string folder = FolderOf(path);
    struct stat info {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return "the folder " + folder + " does not exist";
        return Reason(errno);
    }
    if (!S_ISDIR(info.st_mode)) return folder + " is not a folder";
    return "";
}

// `resume`: a signal that interrupts the write is not a reason to stop.
bool WriteAll(int handle, std::string_view bytes, bool resume) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t written = ::write(handle, bytes.data() + done, bytes.size() - done);
        if (written < 0) {
            if (errno == EINTR && resume) continue;
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// A FIFO or device: the reader on the other side takes the bytes as they
// come. Opening a FIFO waits for its reader, and writing waits while the
// reader does not read; a signal ends the wait (there is no temporary file
// to clear away), so that a program can be interrupted out of it.
std::string WriteInPlace(const std::string& path, std::string_view bytes) {
    const int handle = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (handle < 0) return Reason(errno);
    const bool written = WriteAll(handle, bytes, false);
    const int error = errno;
    if (::close(handle) != 0 && written) return Reason(errno);
    return written ? "" : Reason(error);
}

// ".NAME.XXXXXXXXXXXX.tmp", NAME cut short so that the whole stays within the
// name limit however long the target's name is.
std::string TemporaryName(const std::string& path, std::mt19937_64& random) {
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string suffix = ".";
    for (int i = 0; i < 12; ++i) suffix += kDigits[random() % 36];
    suffix += ".tmp";
    std::string name = NameOf(path);
    const size_t room = kMaxNameBytes - 1 - suffix.size();
    if (name.size() > room) name.resize(room);
    return Join(FolderOf(path), "." + name + suffix);
}

int CreateTemporary(const std::string& path, std::string& temporary) {
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = TemporaryName(path, random);
        // 0666: the umask takes away what the user does not give new files.
        const int handle = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (handle >= 0 || errno != EEXIST) return handle;
    }
    errno = EEXIST;
    return -1;
}

// The rename is on disk only once the folder is: best effort, as a folder
// may not be open to flushing on every file system.
void FlushFolder(const std::string& path) {
    const std::string folder = FolderOf(path);
    const int handle = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) return;
    ::fsync(handle);
    ::close(handle);
}

std::string Replace(const Target& target, std::string_view bytes) {
    std::string temporary;
    const int handle = CreateTemporary(target.path, temporary);
    if (handle < 0) return Reason(errno);
    bool ok = WriteAll(handle, bytes, true);
    if (ok && target.exists) {
        // The owner first: changing it may clear the set-id bits the mode
        // then puts back. Only a privileged writer can give a file away, so
        // a refusal is not an error.
        if (target.info.st_uid != ::geteuid() || target.info.st_gid != ::getegid()) {
            (void)::fchown(handle, target.info.st_uid, target.info.st_gid);
        }
        ok = ::fchmod(handle, target.info.st_mode & 07777) == 0;
    }
    ok = ok && ::fsync(handle) == 0;
    int error = errno;
    if (::close(handle) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return Reason(error);
    }
    FlushFolder(target.path);
    return "";
}

}  // namespace

std::string WriteWholeFile(const std::string& path, std::string_view bytes) {
    if (path.empty()) return "no file name";
    Target target;
    std::string reason = Resolve(path, target);
    if (!reason.empty()) return reason;
    if (!target.exists) {
        reason = CheckFolder(target.path);
        return reason.empty() ? Replace(target, bytes) : reason;
    }
    const mode_t type = target.info.st_mode & S_IFMT;
    if (type == S_IFREG) return Replace(target, bytes);
    if (type == S_IFIFO || type == S_IFCHR) return WriteInPlace(target.path, bytes);
    if (type == S_IFDIR) return "it is a folder";
    return "it is not a regular file";
}

}  // namespace ffc

#endif  // !_WIN32
