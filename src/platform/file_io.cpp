#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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
    TempPath = folder + "." + name + ".tmpXXXXXX";
    Fd = ::mkstemp(TempPath.data());
    if (Fd < 0) {
        TempPath.clear();
        Error = Path + ": " + std::strerror(errno);
        return {false, Error};
    }
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
    const char* p = data.data();
    size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(Fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            Fail(errno);
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

FileResult AtomicFileWriter::Commit(bool durable) {
    if (Fd < 0) return {false, Error.empty() ? Path + ": not open" : Error};
    if (durable && ::fsync(Fd) != 0) return Fail(errno);
    const int fd = Fd;
    Fd = -1;
    if (::close(fd) != 0) return Fail(errno);
    if (::rename(TempPath.c_str(), Target.c_str()) != 0) return Fail(errno);
    TempPath.clear();
    return {};
}

void AtomicFileWriter::Abandon() {
    if (Fd >= 0) {
        ::close(Fd);
        Fd = -1;
    }
    if (!TempPath.empty()) {
        ::unlink(TempPath.c_str());
        TempPath.clear();
    }
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
