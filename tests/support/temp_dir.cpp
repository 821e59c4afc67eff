#include "support/temp_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    char pattern[] = "/tmp/vistrel-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw std::runtime_error(std::string("mkdtemp failed: ") + std::strerror(errno));
    path_ = std::string(pattern) + "/";
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);  // a test that changed permissions must not abort the run
}

std::string TempDir::File(std::string_view name) const {
    return path_ + std::string(name);
}

bool TempDir::WriteFile(std::string_view name, std::string_view bytes) const {
    const fs::path file = File(name);
    std::error_code ec;
    fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::string TempDir::ReadFile(std::string_view name) const {
    std::ifstream in(File(name), std::ios::binary);
    if (!in) return {};
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool TempDir::Exists(std::string_view name) const {
    std::error_code ec;
    return fs::exists(File(name), ec);
}
