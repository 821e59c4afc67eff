#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Bytes kept in order, in memory up to a limit and then in an unlinked
// temporary file (in `folder`, else in the system's temporary folder), so
// that a large picture's tiles never take the memory of the picture.
class SpillStore {
  public:
    SpillStore(std::string folder, std::size_t memoryLimit);
    ~SpillStore();
    SpillStore(const SpillStore&) = delete;
    SpillStore& operator=(const SpillStore&) = delete;

    // `offset` is where the bytes start in the store. False when the
    // temporary file could not take them; Error() says why, and nothing
    // more is kept.
    bool Append(std::string_view bytes, uint64_t& offset);
    // `bytes` points into the store's memory or into `buffer`.
    bool Read(uint64_t offset, std::size_t size, std::string& buffer, std::string_view& bytes,
              std::string& error) const;
    // Copies `size` bytes from `offset` into `fd` at `at` (in the kernel
    // where it can); `target` names `fd` in an error.
    bool CopyTo(uint64_t offset, uint64_t size, int fd, uint64_t at, const std::string& target,
                std::string& error) const;

    uint64_t Size() const { return Stored; }
    std::size_t BytesInMemory() const { return Memory.size(); }
    bool Spilled() const { return Fd >= 0; }
    const std::string& Error() const { return Message; }

  private:
    bool Spill();

    std::string Folder;
    std::size_t MemoryLimit;
    std::string Memory;
    int Fd = -1;
    uint64_t Stored = 0;
    std::string Message;
};
