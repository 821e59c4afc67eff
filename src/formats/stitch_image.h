#pragma once
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "formats/geotiff.h"
#include "formats/spill_store.h"

// The picture of a stitch task, never held whole: every tile is kept as it
// came (JPEG bytes, in memory up to a limit and then in an unlinked
// temporary file), and the JPEG is written band by band, one tile row at a
// time. The result is exactly what drawing every tile into one white bitmap
// in the order added (clipped to it) and encoding that once would give.
//
// One worker thread adds the tiles and then calls CompressAndSave; the calls
// are serialized, so another thread may add or save too, one at a time.
class StitchImage {
  public:
    static constexpr std::size_t DefaultMemoryLimit = std::size_t{4} << 20;
    // libjpeg's largest side.
    static constexpr int MaxSide = 65500;

    // Takes no pixel memory. Tiles beyond `memoryLimit` bytes go to a
    // temporary file in `spillFolder` (the system's temporary folder when
    // that cannot take one).
    StitchImage(int width, int height, std::string spillFolder,
                std::size_t memoryLimit = DefaultMemoryLimit);
    ~StitchImage();
    StitchImage(const StitchImage&) = delete;
    StitchImage& operator=(const StitchImage&) = delete;

    int Width() const { return ImageWidth; }
    int Height() const { return ImageHeight; }

    // A tile's JPEG with its top-left corner at (x, y) of the image; either
    // may be negative. A tile wholly outside the image, or whose bytes are
    // not a JPEG, is dropped (its place stays white).
    void AddJpeg(int x, int y, std::string jpegBytes);
    // A 256 x 256 placeholder tile (MakePlaceholderTile's), drawn when composed.
    void AddPlaceholder(int x, int y, std::string caption, std::string tileName);

    // Logs "начало сжатия", then "сжатие завершено" or "ошибка в процессе
    // сжатия" followed by a line saying why, then "файл сохранен" or "ошибка
    // в процессе сохранения" (after a compression error, or followed by a
    // line saying why). The file appears under its name only when complete:
    // a failure or a stop (checked between bands) leaves no file and no
    // temporary one. Decodes the next band on a second thread while the
    // current one is encoded. True when the file was saved.
    bool CompressAndSave(const std::string& fileName, int quality,
                         const std::function<void(const std::string&)>& addLog,
                         const std::atomic<bool>* stop);

    // Where the image lies in the world's grid at `zoom`: a file named
    // ".tif" or ".tiff" is saved as a GeoTIFF there (no side limit).
    void SetPlace(int zoom, int64_t left, int64_t top);
    // Overview levels 1..levels of a GeoTIFF whose tiles all lie on the
    // image's 256-pixel grid come from `source`.
    void SetOverviewSource(int levels, GeoTiffWriter::TileSource source);

    // "Выделение памяти под битовый образ Мб:" + whole megabytes of a
    // width x height 24-bit picture, "0.000000" with the program's comma, +
    // the time text of `now`, with no blanks between.
    static std::string AllocationLine(int width, int height,
                                      std::chrono::system_clock::time_point now);

    // Why a tile could not be kept (the temporary file could not be
    // written); empty while every tile was.
    std::string StoreFailure() const;

    // For tests: JPEG bytes held in memory, and whether a temporary file is used.
    std::size_t BytesInMemory() const;
    bool Spilled() const;

  private:
    struct Piece {
        int X = 0, Y = 0, W = 0, H = 0;
        uint64_t Offset = 0;  // JPEG bytes in the store
        uint32_t Size = 0;
        int Texts = -1;         // a placeholder's caption and name, or -1 for a JPEG
        bool FitsTiff = false;  // whether the bytes can be a GeoTIFF tile as they are
    };
    struct Composer;

    bool Visible(int x, int y, int w, int h) const;
    void Store(std::string_view bytes, Piece& piece);
    struct TiffOutcome;
    TiffOutcome SaveGeoTiff(const std::string& fileName, int quality,
                            const std::function<bool()>& stopped);
    bool ReadPiece(const Piece& piece, std::string& buffer, std::string_view& bytes,
                   std::string& error) const;
    bool ComposeAndWrite(Composer& composer, GeoTiffWriter& writer,
                         const std::function<bool()>& stopped, std::string& why) const;

    const int ImageWidth;
    const int ImageHeight;
    const std::string SpillFolder;

    mutable std::mutex Mutex;  // held through every call, the whole save included
    std::vector<Piece> Pieces;
    std::vector<std::pair<std::string, std::string>> PlaceholderTexts;
    SpillStore Tiles;        // the pieces' JPEG bytes
    std::string StoreError;  // why a tile could not be kept
    WorldFileParams Place;
    int SourcedLevels = 0;
    GeoTiffWriter::TileSource OverviewSource;
};
