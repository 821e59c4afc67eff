#include "tilestore/file_identity.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

FileRead ReadFileWithIdentity(const std::string& path, std::string& out, FileIdentity& identity) {
    out.clear();
    // Non-blocking, so a FIFO under a tile's name cannot hang the open;
    // regular files read the same either way.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::Missing : FileRead::Failed;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return FileRead::Failed;
    }
    if (!S_ISREG(st.st_mode)) {  // a folder under a tile's name is no tile
        ::close(fd);
        return FileRead::Missing;
    }
    identity = FileIdentity::Of(st);
    out.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    for (;;) {
        if (got == out.size()) out.resize(got + 65536);  // grew since fstat
        const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            out.clear();
            return FileRead::Failed;
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    out.resize(got);
    ::close(fd);
    return FileRead::Ok;
}

void RemoveIfSame(const std::string& path, const FileIdentity& identity) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return;
    if (FileIdentity::Of(st) == identity) ::unlink(path.c_str());
}
