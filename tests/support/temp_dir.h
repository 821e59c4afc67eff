// A fresh folder under /tmp for one test, removed with everything in it when
// the object goes away.
//
//     TempDir dir;
//     dir.WriteFile("rtt.jpg", MakeTileJpeg());
//     cachePath = dir.Path();                 // ends in '/'
#pragma once

#include <string>
#include <string_view>

class TempDir {
  public:
    // Throws std::runtime_error when the folder cannot be made (gtest reports it).
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder, with a trailing '/'.
    const std::string& Path() const { return path_; }
    // Path() + name.
    std::string File(std::string_view name) const;

    // Names are relative to Path() and may contain sub-folders, which
    // WriteFile creates. WriteFile replaces an existing file; false on failure.
    bool WriteFile(std::string_view name, std::string_view bytes) const;
    // The whole file; empty when it is missing (use Exists to tell apart).
    std::string ReadFile(std::string_view name) const;
    bool Exists(std::string_view name) const;

  private:
    std::string path_;
};
