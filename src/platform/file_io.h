#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Errors are values: ok plus a message for the log or a message box.
struct FileResult {
    bool Ok = true;
    std::string Error;
    explicit operator bool() const { return Ok; }
};

bool FileExists(const std::string& path);
// A failure to delete is not an error anyone acts on; the result is for tests.
bool RemoveFile(const std::string& path);
// At most maxBytes; `cut`, when given, tells whether the file had more.
bool ReadWholeFile(const std::string& path, std::string& out,
                   std::size_t maxBytes = static_cast<std::size_t>(-1), bool* cut = nullptr);
// Writes through a temporary file in the same folder and a rename, so a crash,
// a kill or a full disk never leaves a half-written file. `durable` also syncs
// the data before the rename (settings and lists; tiles skip it for speed).
FileResult WriteFileAtomic(const std::string& path, std::string_view data, bool durable = false);

// The same for a file written piece by piece: the data goes into a temporary
// file in the target's folder, which takes the target's name only when
// Commit succeeds. Given up (or destroyed uncommitted), it leaves nothing.
// A file that exists keeps its permissions (and, for root, its owner); one
// the user made read-only is refused, not replaced; a symbolic link stays a
// link and the file it points to gets the data.
class AtomicFileWriter {
  public:
    explicit AtomicFileWriter(std::string path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    FileResult Open();
    // Appends; false after any failure, with the reason in LastError().
    bool Write(std::string_view data);
    FileResult Commit(bool durable);
    // Removes the temporary file; the target stays as it was.
    void Abandon();
    const std::string& LastError() const { return Error; }
    // The open temporary file, for writers that need to seek; -1 when closed.
    int Descriptor() const { return Fd; }

  private:
    FileResult Fail(int err);

    std::string Path;
    std::string Target;  // Path with symbolic links followed: what gets replaced
    std::string TempPath;
    int Fd = -1;
    std::string Error;
};
bool MakeFolders(const std::string& path);

// Whole transfers on a descriptor, retried when interrupted. False on
// failure with errno set; a read past the end sets errno to 0.
bool WriteAll(int fd, std::string_view data);
bool WriteAt(int fd, uint64_t offset, std::string_view data);
bool ReadAt(int fd, uint64_t offset, char* data, std::size_t size);
// An unlinked file in `folder` for scratch data: it vanishes with the
// descriptor, even after a crash. -1 with errno set when it cannot be made.
int OpenUnlinkedFile(const std::string& folder);

// Text lines ended by CR LF, CR or LF; a last line without an ending counts.
std::vector<std::string> SplitLines(std::string_view bytes);
// The settings and list files are small; a huge file in their place must
// not take the memory of a huge read. Only its first lines count.
inline constexpr std::size_t MaxTextFileBytes = 4u << 20;
// Windows-1251 file into UTF-8 lines. False when the file cannot be read.
// Of a file larger than maxBytes, the whole lines within the first maxBytes.
bool ReadTextLines(const std::string& path, std::vector<std::string>& lines,
                   std::size_t maxBytes = MaxTextFileBytes);
// UTF-8 lines into a Windows-1251 file, every line ended by CR LF, atomically.
FileResult WriteTextLines(const std::string& path, const std::vector<std::string>& lines);
