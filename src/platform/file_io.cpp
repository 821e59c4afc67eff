#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <utility>

#include "platform/text_codec.h"

bool FileExists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool RemoveFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool ReadWholeFile(const std::string& path, std::string& out, std::size_t maxBytes, bool* cut) {
    out.clear();
    if (cut) *cut = false;
    // Non-blocking: a FIFO in a file's place must not hang the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.reserve(std::min(static_cast<size_t>(st.st_size), maxBytes));
    char buf[65536];
    for (;;) {
        if (out.size() >= maxBytes) {
            // One byte more tells a file of exactly maxBytes from a larger one.
            char probe;
            ssize_t more;
            while ((more = ::read(fd, &probe, 1)) < 0 && errno == EINTR) {
            }
            if (more > 0 && cut) *cut = true;
            break;
        }
        ssize_t n = ::read(fd, buf, std::min(sizeof buf, maxBytes - out.size()));
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            out.clear();
            return false;
        }
        if (n == 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return true;
}

FileResult WriteFileAtomic(const std::string& path, std::string_view data, bool durable) {
    AtomicFileWriter file(path);
    if (FileResult opened = file.Open(); !opened) return opened;
    if (!file.Write(data)) return {false, file.LastError()};
    return file.Commit(durable);
}

AtomicFileWriter::AtomicFileWriter(std::string path) : Path(std::move(path)) {}

AtomicFileWriter::~AtomicFileWriter() {
    Abandon();
}

FileResult AtomicFileWriter::Fail(int err) {
    Abandon();
    Error = Path + ": " + std::strerror(err);
    return {false, Error};
}

namespace {

// The file a chain of symbolic links ends at (which need not exist yet);
// false for a chain that never ends.
bool FollowLinks(std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        std::string link(static_cast<size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
        const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
        if (n < 0 || static_cast<size_t>(n) >= link.size()) return true;
        link.resize(static_cast<size_t>(n));
        const auto slash = path.find_last_of('/');
        if (link.empty() || link[0] == '/' || slash == std::string::npos)
            path = link;
        else
            path = path.substr(0, slash + 1) + link;
    }
    return false;
}

// Write-protected by the user. Root may write anything, so for root a file
// without any write permission counts as protected.
bool WriteProtected(const std::string& path, const struct stat& st) {
    if (::geteuid() == 0) return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return ::access(path.c_str(), W_OK) != 0 && errno == EACCES;
}

}  // namespace

namespace {

// A writer's temporary file has one of a few names derived from the target's
// (so a later write of the same target finds what a killed run left) and is
// held under an exclusive lock while it lives (so nobody takes a live one
// for a leftover). The lock goes with the process, however it ends.
constexpr int TempSlots = 4;
constexpr std::size_t NameMax = 255;

uint64_t Fnv1a(std::string_view text) {
    uint64_t hash = 14695981039346656037ull;
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

// ".NAME.tmpN"; a name too long for that keeps its start, cut at a whole
// character, followed by a hash of the whole name.
std::string TempName(const std::string& name, int slot) {
    const std::string suffix = ".tmp" + std::to_string(slot);
    if (1 + name.size() + suffix.size() <= NameMax) return "." + name + suffix;
    char hash[24];
    std::snprintf(hash, sizeof hash, "~%016llx", static_cast<unsigned long long>(Fnv1a(name)));
    std::size_t keep = NameMax - 1 - std::strlen(hash) - suffix.size();
    while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return "." + name.substr(0, keep) + hash + suffix;
}

// The open file is still the one the path names.
bool StillNamed(int fd, const std::string& path) {
    struct stat open, named;
    return ::fstat(fd, &open) == 0 && open.st_nlink > 0 && S_ISREG(open.st_mode) &&
           ::lstat(path.c_str(), &named) == 0 && named.st_ino == open.st_ino &&
           named.st_dev == open.st_dev;
}

// Removes a temporary file nobody holds: one a killed writer left.
void RemoveLeftover(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(fd, path)) ::unlink(path.c_str());
    ::close(fd);
}

}  // namespace

FileResult AtomicFileWriter::Open() {
    Abandon();
    Target = Path;
    if (!FollowLinks(Target)) {
        Error = Path + ": " + std::strerror(ELOOP);
        return {false, Error};
    }
    mode_t mode = 0644;
    struct stat existing;
    const bool exists = ::stat(Target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    if (exists) {
        if (WriteProtected(Target, existing)) {
            Error = Path + ": " + std::strerror(EACCES);
            return {false, Error};
        }
        mode = existing.st_mode & 07777;
    }
    auto slash = Target.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : Target.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? Target : Target.substr(slash + 1);
    int err = EBUSY;
    int mine = -1;
    for (int slot = 0, tries = 0; slot < TempSlots && tries < 16; ++slot, ++tries) {
        const std::string temp = folder + TempName(name, slot);
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            err = errno;
            continue;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(fd);  // a live writer's
            continue;
        }
        // Made or taken over; a leftover removed meanwhile is tried again.
        if (!StillNamed(fd, temp)) {
            ::close(fd);
            --slot;
            continue;
        }
        if (::ftruncate(fd, 0) != 0) {
            err = errno;
            ::close(fd);
            continue;
        }
        Fd = fd;
        TempPath = temp;
        mine = slot;
        break;
    }
    if (Fd < 0) {
        Error = Path + ": " + std::strerror(err);
        return {false, Error};
    }
    for (int slot = 0; slot < TempSlots; ++slot)
        if (slot != mine) RemoveLeftover(folder + TempName(name, slot));
    // Best effort: only root can give the file back to its owner.
    if (exists && ::geteuid() == 0) {
        [[maybe_unused]] const int ignored = ::fchown(Fd, existing.st_uid, existing.st_gid);
    }
    ::fchmod(Fd, mode);
    Error.clear();
    return {};
}

bool AtomicFileWriter::Write(std::string_view data) {
    if (Fd < 0) {
        if (Error.empty()) Error = Path + ": not open";
        return false;
    }
    if (!WriteAll(Fd, data)) {
        Fail(errno);
        return false;
    }
    return true;
}

FileResult AtomicFileWriter::Commit(bool durable) {
    if (Fd < 0) return {false, Error.empty() ? Path + ": not open" : Error};
    if (durable && ::fsync(Fd) != 0) return Fail(errno);
    // The copy keeps the lock until the file has its name: a write error that
    // only a close reports still stops the rename.
    const int lock = ::dup(Fd);
    const int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0) {
        const int err = errno;
        Fd = lock;
        return Fail(err);
    }
    if (::rename(TempPath.c_str(), Target.c_str()) != 0) {
        const int err = errno;
        Fd = lock;
        return Fail(err);
    }
    TempPath.clear();
    if (lock >= 0) ::close(lock);
    return {};
}

void AtomicFileWriter::Abandon() {
    // Removed while still locked, so no other writer takes it meanwhile.
    if (!TempPath.empty()) {
        ::unlink(TempPath.c_str());
        TempPath.clear();
    }
    if (Fd >= 0) {
        ::close(Fd);
        Fd = -1;
    }
}

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool WriteAt(int fd, uint64_t offset, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::pwrite(fd, data.data(), data.size(), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

bool ReadAt(int fd, uint64_t offset, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = 0;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

int OpenUnlinkedFile(const std::string& folder) {
    if (folder.empty()) {
        errno = ENOENT;
        return -1;
    }
#ifdef O_TMPFILE
    if (int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600); fd >= 0) return fd;
#endif
    std::string name = folder + (folder.back() == '/' ? "" : "/") + ".vistrel.XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) ::unlink(name.c_str());
    return fd;
}

bool MakeFolders(const std::string& path) {
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    return std::filesystem::is_directory(path, ec);
}

std::vector<std::string> SplitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    size_t i = 0;
    while (i < bytes.size()) {
        char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.emplace_back(bytes.substr(start, i - start));
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
    return lines;
}

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines, std::size_t maxBytes) {
    std::string bytes;
    bool cut = false;
    if (!ReadWholeFile(path, bytes, maxBytes, &cut)) return false;
    // A line the bound cut through is not a line of the file.
    if (cut) bytes.resize(bytes.find_last_of("\r\n") + 1);
    lines = SplitLines(bytes);
    for (auto& line : lines) line = Cp1251ToUtf8(line);
    return true;
}

FileResult WriteTextLines(const std::string& path, const std::vector<std::string>& lines) {
    std::string bytes;
    for (const auto& line : lines) {
        bytes += Utf8ToCp1251(line);
        bytes += "\r\n";
    }
    return WriteFileAtomic(path, bytes, true);
}
