#include "formats/spill_store.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/file_io.h"

namespace {

std::string Why(const std::string& what) {
    return what + ": " + (errno ? std::strerror(errno) : "данные потеряны");
}

}  // namespace

SpillStore::SpillStore(std::string folder, std::size_t memoryLimit)
    : Folder(std::move(folder)), MemoryLimit(memoryLimit) {}

SpillStore::~SpillStore() {
    if (Fd >= 0) ::close(Fd);
}

bool SpillStore::Spill() {
    Fd = OpenUnlinkedFile(Folder);
    if (Fd < 0) {
        std::error_code ec;
        Fd = OpenUnlinkedFile(std::filesystem::temp_directory_path(ec).string());
    }
    if (Fd < 0) {
        Message = Why("временный файл в " + Folder);
        return false;
    }
    if (!WriteAll(Fd, Memory)) {
        Message = Why("временный файл");
        return false;
    }
    std::string().swap(Memory);
    return true;
}

bool SpillStore::Append(std::string_view bytes, uint64_t& offset) {
    if (!Message.empty()) return false;
    offset = Stored;
    if (Fd < 0 && Memory.size() + bytes.size() <= MemoryLimit) {
        Memory.append(bytes);
    } else {
        if (Fd < 0 && !Spill()) return false;
        if (!WriteAll(Fd, bytes)) {
            Message = Why("временный файл");
            return false;
        }
    }
    Stored += bytes.size();
    return true;
}

bool SpillStore::Read(uint64_t offset, std::size_t size, std::string& buffer,
                      std::string_view& bytes, std::string& error) const {
    if (offset > Stored || size > Stored - offset) {
        error = "временный файл: данные потеряны";
        return false;
    }
    if (Fd < 0) {
        bytes = std::string_view(Memory).substr(static_cast<std::size_t>(offset), size);
        return true;
    }
    buffer.resize(size);
    if (!ReadAt(Fd, offset, buffer.data(), size)) {
        error = Why("временный файл");
        return false;
    }
    bytes = buffer;
    return true;
}

bool SpillStore::CopyTo(uint64_t offset, uint64_t size, int fd, uint64_t at,
                        const std::string& target, std::string& error) const {
    if (offset > Stored || size > Stored - offset) {
        error = "временный файл: данные потеряны";
        return false;
    }
    if (Fd < 0) {
        if (WriteAt(fd, at, std::string_view(Memory).substr(offset, size))) return true;
        error = Why(target);
        return false;
    }
    auto from = static_cast<off_t>(offset);
    auto to = static_cast<off_t>(at);
    while (size > 0) {
        const ssize_t n = ::copy_file_range(Fd, &from, fd, &to, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size -= static_cast<uint64_t>(n);
    }
    // Across file systems, or where the kernel cannot: through memory.
    std::string buffer;
    while (size > 0) {
        buffer.resize(static_cast<std::size_t>(std::min<uint64_t>(size, 1 << 20)));
        if (!ReadAt(Fd, static_cast<uint64_t>(from), buffer.data(), buffer.size())) {
            error = Why("временный файл");
            return false;
        }
        if (!WriteAt(fd, static_cast<uint64_t>(to), buffer)) {
            error = Why(target);
            return false;
        }
        from += static_cast<off_t>(buffer.size());
        to += static_cast<off_t>(buffer.size());
        size -= buffer.size();
    }
    return true;
}
