#include "platform/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool ReadWholeFile(const std::string& path, std::string& out) {
    out.clear();
    // Non-blocking: a FIFO in a file's place must not hang the open.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.reserve(static_cast<size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
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

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

FileResult AtomicFileWriter::Fail(int err) {
    Abandon();
    Error = Path + ": " + std::strerror(err);
    return {false, Error};
}

FileResult AtomicFileWriter::Open() {
    Abandon();
    auto slash = Path.find_last_of('/');
    std::string folder = slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? Path : Path.substr(slash + 1);
    TempPath = folder + "." + name + ".tmpXXXXXX";
    Fd = ::mkstemp(TempPath.data());
    if (Fd < 0) {
        TempPath.clear();
        Error = Path + ": " + std::strerror(errno);
        return {false, Error};
    }
    ::fchmod(Fd, 0644);
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
    if (::rename(TempPath.c_str(), Path.c_str()) != 0) return Fail(errno);
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

bool ReadTextLines(const std::string& path, std::vector<std::string>& lines) {
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return false;
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
