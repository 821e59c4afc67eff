#include "tilestore/archive_sources.h"

#include <sys/stat.h>
#include <zip.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tilestore/file_identity.h"
#include "tilestore/mbtiles_source.h"

namespace {

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipReader = std::unique_ptr<zip_t, ZipDiscard>;

struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

// Bounds on what is kept open: every pooled reader holds a file descriptor.
constexpr size_t MaxKeptArchives = 32;
constexpr size_t MaxIdleReaders = 3;

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Opens the archive read-only through our own stream, so we know exactly
// which file the reader sees even if the path is replaced meanwhile.
ZipReader OpenArchive(const std::string& path, FileIdentity& identity) {
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) return nullptr;
    struct stat st;
    if (::fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        std::fclose(file);
        return nullptr;
    }
    identity = FileIdentity::Of(st);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_filep_create(file, 0, -1, &error);
    if (source == nullptr) {
        zip_error_fini(&error);
        std::fclose(file);
        return nullptr;
    }
    // From here the source owns the stream.
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    if (archive == nullptr) {
        zip_source_free(source);
        return nullptr;
    }
    return ZipReader(archive);
}

// The whole entry, decompressed; libzip checks the CRC when the entry has
// been read to its end, so the loop reads until libzip reports the end.
bool ReadEntry(zip_t* archive, zip_uint64_t index, std::string& out) {
    out.clear();
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive, index, 0, &st) != 0) return false;
    if ((st.valid & ZIP_STAT_COMP_METHOD) && st.comp_method != ZIP_CM_STORE &&
        st.comp_method != ZIP_CM_DEFLATE)
        return false;
    if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
        return false;
    if ((st.valid & ZIP_STAT_SIZE) && st.size > MaxArchiveEntryBytes) return false;
    std::unique_ptr<zip_file_t, ZipFileClose> entry(zip_fopen_index(archive, index, 0));
    if (!entry) return false;
    if (st.valid & ZIP_STAT_SIZE) out.reserve(static_cast<size_t>(st.size));
    char chunk[65536];
    for (;;) {
        const zip_int64_t n = zip_fread(entry.get(), chunk, sizeof chunk);
        if (n < 0 || out.size() + static_cast<size_t>(n) > MaxArchiveEntryBytes) {
            out.clear();
            return false;
        }
        if (n == 0) return true;
        out.append(chunk, static_cast<size_t>(n));
    }
}

// One archive as last seen: its directory and its idle readers.
struct ArchiveDir {
    FileIdentity Identity;
    // Lower-case top-level entry name -> index of its first entry. Never
    // changed once the directory is published.
    std::unordered_map<std::string, zip_uint64_t> Entries;
    std::vector<ZipReader> Idle;  // guarded by the cache's mutex
    uint64_t LastUse = 0;         // likewise
};

// `reader` is open.
std::shared_ptr<ArchiveDir> ReadDirectory(ZipReader& reader, const FileIdentity& identity) {
    auto dir = std::make_shared<ArchiveDir>();
    dir->Identity = identity;
    const zip_int64_t count = zip_get_num_entries(reader.get(), 0);
    dir->Entries.reserve(count > 0 ? static_cast<size_t>(count) : 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(reader.get(), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
        if (name == nullptr) continue;
        const std::string_view view(name);
        if (view.find('/') != std::string_view::npos) continue;  // inside a folder: never a tile
        dir->Entries.emplace(LowerAscii(view), static_cast<zip_uint64_t>(i));
    }
    return dir;
}

class ArchiveDirectories {
  public:
    bool Find(const std::string& path, const std::string& lowerName, std::string& buffer) {
        if (!Enabled.load(std::memory_order_relaxed)) return FindUncached(path, lowerName, buffer);
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
        const FileIdentity seen = FileIdentity::Of(st);

        ZipReader reader;
        std::shared_ptr<ArchiveDir> dir = Kept(path, seen);
        if (!dir) {
            FileIdentity opened = seen;
            reader = OpenArchive(path, opened);
            // Only what was read is kept: an archive that failed to open
            // (permissions, a passing I/O error, not yet a whole archive) is
            // tried again at the next lookup.
            if (!reader) return false;
            dir = ReadDirectory(reader, opened);
            Keep(path, dir);
        }
        auto entry = dir->Entries.find(lowerName);
        if (entry == dir->Entries.end()) return false;

        if (!reader) reader = TakeIdle(*dir);
        if (!reader) {
            FileIdentity opened;
            reader = OpenArchive(path, opened);
            if (!reader) return false;
            if (!(opened == dir->Identity)) {
                // Replaced since its directory was read: the indexes mean
                // nothing in the new file, so read its own directory.
                dir = ReadDirectory(reader, opened);
                Keep(path, dir);
                entry = dir->Entries.find(lowerName);
                if (entry == dir->Entries.end()) return false;
            }
        }
        const bool ok = ReadEntry(reader.get(), entry->second, buffer);
        GiveBack(path, dir, std::move(reader));
        return ok;
    }

    void SetEnabled(bool on) {
        Enabled = on;
        if (!on) Clear();
    }

    void Clear() {
        std::vector<ZipReader> closing;
        {
            std::lock_guard<std::mutex> lock(Mutex);
            for (auto& [path, dir] : ByPath) DropIdle(*dir, closing);
            ByPath.clear();
        }
        // `closing` closes its readers here, outside the lock. A lookup still
        // holding one of the directories finishes with it undisturbed.
    }

  private:
    // Reads with nothing kept: open, find by name, read, close.
    static bool FindUncached(const std::string& path, const std::string& lowerName,
                             std::string& buffer) {
        FileIdentity ignored;
        ZipReader reader = OpenArchive(path, ignored);
        if (!reader) return false;
        const zip_int64_t index =
            zip_name_locate(reader.get(), lowerName.c_str(), ZIP_FL_NOCASE | ZIP_FL_ENC_RAW);
        if (index < 0) return false;
        return ReadEntry(reader.get(), static_cast<zip_uint64_t>(index), buffer);
    }

    std::shared_ptr<ArchiveDir> Kept(const std::string& path, const FileIdentity& identity) {
        std::lock_guard<std::mutex> lock(Mutex);
        const auto it = ByPath.find(path);
        if (it == ByPath.end() || !(it->second->Identity == identity)) return nullptr;
        it->second->LastUse = ++Clock;
        return it->second;
    }

    void Keep(const std::string& path, std::shared_ptr<ArchiveDir> dir) {
        std::vector<ZipReader> closing;
        std::lock_guard<std::mutex> lock(Mutex);
        dir->LastUse = ++Clock;
        auto& slot = ByPath[path];
        if (slot) DropIdle(*slot, closing);
        slot = std::move(dir);
        if (ByPath.size() > MaxKeptArchives) {
            auto oldest = ByPath.begin();
            for (auto it = ByPath.begin(); it != ByPath.end(); ++it)
                if (it->second->LastUse < oldest->second->LastUse) oldest = it;
            DropIdle(*oldest->second, closing);
            ByPath.erase(oldest);
        }
    }  // the lock goes first, then `closing` closes the readers

    // Caller holds Mutex.
    static void DropIdle(ArchiveDir& dir, std::vector<ZipReader>& closing) {
        for (auto& reader : dir.Idle) closing.push_back(std::move(reader));
        dir.Idle.clear();
    }

    ZipReader TakeIdle(ArchiveDir& dir) {
        std::lock_guard<std::mutex> lock(Mutex);
        if (dir.Idle.empty()) return nullptr;
        ZipReader reader = std::move(dir.Idle.back());
        dir.Idle.pop_back();
        return reader;
    }

    void GiveBack(const std::string& path, const std::shared_ptr<ArchiveDir>& dir,
                  ZipReader reader) {
        std::lock_guard<std::mutex> lock(Mutex);
        const auto it = ByPath.find(path);
        // A reader of a directory no longer kept is closed when `reader` goes.
        if (it != ByPath.end() && it->second == dir && dir->Idle.size() < MaxIdleReaders)
            dir->Idle.push_back(std::move(reader));
    }

    std::atomic<bool> Enabled{true};
    std::mutex Mutex;
    std::unordered_map<std::string, std::shared_ptr<ArchiveDir>> ByPath;
    uint64_t Clock = 0;
};

ArchiveDirectories& Directories() {
    static ArchiveDirectories directories;
    return directories;
}

}  // namespace

bool FindInArchives(const std::vector<std::string>& archives, const std::string& tileName,
                    std::string& buffer) {
    buffer.clear();
    const std::string lowerName = LowerAscii(tileName) + ".jpg";
    for (const std::string& path : archives) {
        if (path.empty()) continue;
        if (IsMBTilesPath(path)) {
            if (FindInMBTiles(path, tileName, buffer)) return true;
            continue;
        }
        if (Directories().Find(path, lowerName, buffer)) return true;
        buffer.clear();
    }
    return false;
}

bool FindInArchives(const MainState& state, const std::string& tileName, std::string& buffer) {
    // A snapshot: the settings dialog may replace the list while we walk it.
    const auto archives = state.ArchiveList.Snapshot();
    if (!archives) {
        buffer.clear();
        return false;
    }
    return FindInArchives(*archives, tileName, buffer);
}

void SetArchiveDirectoryCaching(bool on) {
    Directories().SetEnabled(on);
}

void ClearArchiveDirectories() {
    Directories().Clear();
}
