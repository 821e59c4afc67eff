#pragma once
#include <sys/stat.h>

#include <string>

// Which file a path named at one moment: a file replaced by a rename, or
// rewritten, has another identity even under the same name.
struct FileIdentity {
    dev_t Dev = 0;
    ino_t Ino = 0;
    off_t Size = 0;
    long long MtimeNs = 0;

    static FileIdentity Of(const struct stat& st) {
        return {st.st_dev, st.st_ino, st.st_size,
                static_cast<long long>(st.st_mtim.tv_sec) * 1'000'000'000LL + st.st_mtim.tv_nsec};
    }
    bool operator==(const FileIdentity&) const = default;
};

enum class FileRead { Ok, Missing, Failed };

// The whole of a regular file and the identity of what was read. Missing
// when nothing, or something other than a plain file, has the name.
FileRead ReadFileWithIdentity(const std::string& path, std::string& out, FileIdentity& identity);
// Deletes `path` only while it is still the file that was read, so a tile
// that another thread has just stored under the name survives.
void RemoveIfSame(const std::string& path, const FileIdentity& identity);
