// ZIP archives for the tile store's tests, written with libzip, and the byte
// surgery that damages them in known ways.
#pragma once

#include <string>
#include <vector>

struct ZipEntry {
    std::string Name;
    std::string Data;
    bool Deflate = true;
    bool Encrypt = false;  // traditional PKWARE, or AES where that is all there is
};

// Writes a new archive at `path` (replacing a file there); false on failure.
bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries);
// True when this libzip can encrypt entries (some builds cannot).
bool ZipCanEncrypt();

// Sets the stored CRC of the entry `name` to a wrong value in its local
// header and in the central directory; the data stay intact.
bool CorruptCrc(std::string& zip, const std::string& name);
// Overwrites the signature of the first central directory record.
bool DamageCentralDirectory(std::string& zip);
// Flips bytes inside the stored data of `data` (found verbatim in `zip`).
bool DamageStoredData(std::string& zip, const std::string& data);
