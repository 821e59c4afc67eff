#include "zip_fixture.h"

#include <zip.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

uint32_t Le32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<uint8_t>(s[at])) |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 1])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 2])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(s[at + 3])) << 24;
}
uint16_t Le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1])
                                                                   << 8);
}

uint16_t EncryptionMethod() {
    if (zip_encryption_method_supported(ZIP_EM_TRAD_PKWARE, 1)) return ZIP_EM_TRAD_PKWARE;
    if (zip_encryption_method_supported(ZIP_EM_AES_256, 1)) return ZIP_EM_AES_256;
    return ZIP_EM_NONE;
}

// Header records of `sig` whose file name is `name`: {offset, crc field}.
std::vector<size_t> CrcFields(const std::string& zip, const std::string& name) {
    std::vector<size_t> fields;
    struct Kind {
        const char* Sig;
        size_t Crc, NameLen, NameAt;
    };
    for (const Kind& k : {Kind{"PK\x03\x04", 14, 26, 30}, Kind{"PK\x01\x02", 16, 28, 46}}) {
        for (size_t at = zip.find(k.Sig, 0, 4); at != std::string::npos;
             at = zip.find(k.Sig, at + 1, 4)) {
            if (at + k.NameAt > zip.size()) break;
            const size_t len = Le16(zip, at + k.NameLen);
            if (at + k.NameAt + len <= zip.size() && zip.compare(at + k.NameAt, len, name) == 0)
                fields.push_back(at + k.Crc);
        }
    }
    return fields;
}

}  // namespace

bool ZipCanEncrypt() {
    return EncryptionMethod() != ZIP_EM_NONE;
}

bool WriteZip(const std::string& path, const std::vector<ZipEntry>& entries) {
    std::remove(path.c_str());
    int error = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (archive == nullptr) return false;
    for (const ZipEntry& e : entries) {
        zip_source_t* source = zip_source_buffer(archive, e.Data.data(), e.Data.size(), 0);
        if (source == nullptr) break;
        const zip_int64_t index =
            zip_file_add(archive, e.Name.c_str(), source, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE);
        if (index < 0) {
            zip_source_free(source);
            zip_discard(archive);
            return false;
        }
        const auto i = static_cast<zip_uint64_t>(index);
        if (zip_set_file_compression(archive, i, e.Deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) !=
                0 ||
            (e.Encrypt && zip_file_set_encryption(archive, i, EncryptionMethod(), "secret") != 0)) {
            zip_discard(archive);
            return false;
        }
    }
    // An archive without entries is not written by libzip at all.
    if (entries.empty()) {
        zip_discard(archive);
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return false;
        static const char eocd[22] = {'P', 'K', 5, 6};
        const bool ok = std::fwrite(eocd, 1, sizeof eocd, f) == sizeof eocd;
        return std::fclose(f) == 0 && ok;
    }
    return zip_close(archive) == 0;
}

bool CorruptCrc(std::string& zip, const std::string& name) {
    const std::vector<size_t> fields = CrcFields(zip, name);
    if (fields.size() < 2) return false;
    for (size_t at : fields) {
        const uint32_t wrong = Le32(zip, at) ^ 0x5A5A5A5Au;
        for (int b = 0; b < 4; ++b) zip[at + b] = static_cast<char>(wrong >> (8 * b));
    }
    return true;
}

bool DamageCentralDirectory(std::string& zip) {
    const size_t at = zip.find("PK\x01\x02", 0, 4);
    if (at == std::string::npos) return false;
    zip[at] = 'X';
    zip[at + 2] = 'Y';
    return true;
}

bool DamageStoredData(std::string& zip, const std::string& data) {
    const size_t at = zip.find(data);
    if (at == std::string::npos || data.size() < 64) return false;
    for (size_t i = data.size() / 2; i < data.size() / 2 + 16; ++i)
        zip[at + i] = static_cast<char>(zip[at + i] ^ 0x33);
    return true;
}
