#include "formats/geotiff.h"

#include <fcntl.h>
#include <geotiff/geotiff.h>
#include <geotiff/geovalues.h>
#include <geotiff/xtiffio.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>

#include "formats/spill_store.h"
#include "platform/bitmap.h"
#include "platform/file_io.h"
#include "tilestore/jpeg_image.h"

namespace {

// A tile of the file is never larger than this: re-encoded tiles stay far
// below it, and bigger source tiles are re-encoded. It also bounds the file
// when choosing between TIFF and BigTIFF.
constexpr int64_t MaxTileBytes = 256 * 1024;
// Room for the header, the IFDs and their arrays beyond the tiles.
constexpr int64_t FixedOverhead = 1 << 20;
constexpr int64_t PerTileOverhead = 16;
constexpr int64_t ClassicTiffLimit = int64_t{1} << 32;
// The offsets of every tile are held while the file is written, and the
// task's tile list must fit in memory too.
constexpr int64_t MaxTiles = int64_t{1} << 24;
constexpr std::size_t MemoryPerLevel = std::size_t{2} << 20;
constexpr Rgb White{255, 255, 255};
constexpr uint64_t WritebackStep = 8 << 20;

int CeilHalf(int v) {
    return v / 2 + v % 2;
}
int TilesAcross(int v) {
    return (v + TiffTileSize - 1) / TiffTileSize;
}

std::string ErrnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

uint16_t Read16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

void CopyRows(const Bitmap& from, int fromRow, Bitmap& to, int toRow, int count) {
    const std::size_t bytes = static_cast<std::size_t>(std::min(from.Width(), to.Width())) * 3;
    for (int r = 0; r < count; ++r)
        std::memcpy(to.ScanLine(toRow + r), from.ScanLine(fromRow + r), bytes);
}

// The 2 x 2 mean of `width` x `height` pixels into half as many each way, so
// that overviews look like the picture, not like its every other pixel. A
// last odd row or column pairs with itself.
void HalveBlock(const uint8_t* from, std::ptrdiff_t fromStride, int width, int height, uint8_t* to,
                std::ptrdiff_t toStride) {
    const int pairs = width / 2;
    for (int r = 0; r < CeilHalf(height); ++r) {
        const uint8_t* a = from + 2 * r * fromStride;
        const uint8_t* b = 2 * r + 1 < height ? a + fromStride : a;
        uint8_t* out = to + r * toStride;
        for (int i = 0; i < pairs * 3; i += 3) {
            const int x = 2 * i;
            for (int c = 0; c < 3; ++c)
                out[i + c] = static_cast<uint8_t>(
                    (a[x + c] + a[x + 3 + c] + b[x + c] + b[x + 3 + c] + 2) >> 2);
        }
        if (width % 2)
            for (int c = 0; c < 3; ++c)
                out[pairs * 3 + c] =
                    static_cast<uint8_t>((a[pairs * 6 + c] + b[pairs * 6 + c] + 1) >> 1);
    }
}

}  // namespace

std::vector<TiffLevel> TiffLevels(int width, int height) {
    std::vector<TiffLevel> levels;
    if (width < 1 || height < 1) return levels;
    int w = width, h = height;
    for (;;) {
        levels.push_back({w, h, TilesAcross(w), TilesAcross(h)});
        if (w <= TiffTileSize && h <= TiffTileSize) break;
        w = CeilHalf(w);
        h = CeilHalf(h);
    }
    return levels;
}

bool NeedsBigTiff(int width, int height) {
    int64_t bound = FixedOverhead;
    for (const TiffLevel& level : TiffLevels(width, height))
        bound += level.Tiles() * (MaxTileBytes + PerTileOverhead);
    return bound >= ClassicTiffLimit;
}

std::string GeoTiffSizeProblem(int64_t width, int64_t height) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    if (width < 1 || height < 1) return "пустое изображение " + size;
    const int64_t tiles =
        ((width + TiffTileSize - 1) / TiffTileSize) * ((height + TiffTileSize - 1) / TiffTileSize);
    if (width > INT32_MAX || height > INT32_MAX || tiles > MaxTiles)
        return "размеры " + size + " больше допустимых для GeoTIFF: не более " +
               std::to_string(MaxTiles) + " фрагментов 256x256";
    return {};
}

bool IsGeoTiffName(const std::string& fileName) {
    const std::size_t dot = fileName.find_last_of("./");
    if (dot == std::string::npos || fileName[dot] != '.') return false;
    std::string ext = fileName.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "tif" || ext == "tiff";
}

bool TileJpegFitsAsIs(std::string_view jpeg) {
    const auto* p = reinterpret_cast<const unsigned char*>(jpeg.data());
    const std::size_t n = jpeg.size();
    if (n < 4 || static_cast<int64_t>(n) > MaxTileBytes || p[0] != 0xFF || p[1] != 0xD8)
        return false;
    bool frame = false;
    std::size_t i = 2;
    while (i + 4 <= n) {
        if (p[i] != 0xFF) return false;
        const unsigned char marker = p[i + 1];
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        const std::size_t length = Read16(p + i + 2);
        if (length < 2 || i + 2 + length > n) return false;
        const unsigned char* body = p + i + 4;
        if (marker == 0xC0) {
            // 8 bits, 256 x 256, three components: Y 2x2, Cb and Cr 1x1.
            if (length != 17 || body[0] != 8 || Read16(body + 1) != 256 ||
                Read16(body + 3) != 256 || body[5] != 3 || body[7] != 0x22 || body[10] != 0x11 ||
                body[13] != 0x11)
                return false;
            frame = true;
        } else if ((marker >= 0xC1 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                    marker != 0xCC)) {
            return false;  // progressive, lossless, arithmetic: not what a tile holds
        } else if (marker == 0xEE) {
            // Adobe's transform 0 means the components are RGB, not YCbCr.
            if (length >= 14 && body[11] == 0) return false;
        } else if (marker == 0xDA) {
            return frame;
        }
        i += 2 + length;
    }
    return false;
}

struct GeoTiffWriter::Level {
    TiffLevel Size;
    Bitmap Band;      // pixels of the tile row being built, where they are needed
    int BandRow = 0;  // the tile row being built
    int Filled = 0;   // rows of the band filled (rows written to the full level)
    int FetchedRow = -1;
    std::vector<std::string> Given;  // the row's tiles taken as they are, or empty

    // The level's tiles in row order: where each starts in the level's
    // store, or, where Outside, in the store the full-resolution tiles came in.
    std::vector<uint64_t> Offsets;
    std::vector<uint32_t> Sizes;
    std::vector<bool> Outside;
    SpillStore Store;

    Level(const TiffLevel& size, const std::string& folder)
        : Size(size), Store(folder, MemoryPerLevel) {}

    int RowsNow() const { return std::min(TiffTileSize, Size.Height - BandRow * TiffTileSize); }

    bool Keep(std::string_view bytes) {
        uint64_t at = 0;
        if (!Store.Append(bytes, at)) return false;
        Offsets.push_back(at);
        Sizes.push_back(static_cast<uint32_t>(bytes.size()));
        Outside.push_back(false);
        return true;
    }

    void KeepOutside(const StoredTile& tile) {
        Offsets.push_back(tile.Offset);
        Sizes.push_back(tile.Size);
        Outside.push_back(true);
    }
};

// One tile row of a level on its way into the file. Two threads build
// disjoint columns of it; the level above is seen through plain pointers
// so that neither touches the bitmap object itself.
struct GeoTiffWriter::TileWork {
    int Rows = 0;
    std::atomic<int> Next{0};          // the next column to build
    std::vector<std::string> Encoded;  // per column, unless its bytes go in as they are
    std::vector<char> AsIs;
    std::vector<char> Failed;
    std::vector<char> ParentBuilt;  // per column of the level above: built from this row
    uint8_t* Parent = nullptr;      // the level above's band, at this row's half of it
    std::ptrdiff_t ParentStride = 0;
    int ParentWidth = 0;
};

GeoTiffWriter::GeoTiffWriter(const WorldFileParams& place, int quality, std::string spillFolder,
                             int sourcedLevels, TileSource source)
    : Place(place),
      Quality(quality),
      SpillFolder(std::move(spillFolder)),
      Source(std::move(source)),
      LevelSizes(TiffLevels(place.Width, place.Height)) {
    const int levels = static_cast<int>(LevelSizes.size());
    SourcedLevels = Source ? std::clamp(sourcedLevels, 0, std::max(levels - 1, 0)) : 0;
    for (int i = 0; i < levels; ++i)
        Work.push_back(std::make_unique<Level>(LevelSizes[i], SpillFolder));
}

GeoTiffWriter::~GeoTiffWriter() = default;

bool GeoTiffWriter::Fail(const std::string& why) {
    if (Message.empty()) Message = why;
    return false;
}

bool GeoTiffWriter::PixelsNeeded(const std::vector<StoredTile>& tiles) {
    return std::any_of(tiles.begin(), tiles.end(), [](const auto& t) { return t.Size == 0; });
}

// The overview rows above full-resolution row `fullRow` are asked of the
// source before that row is built: what they hold decides which pixels below
// them are needed at all.
void GeoTiffWriter::FetchRows(int fullRow) {
    for (int level = 1; level < static_cast<int>(Work.size()); ++level) {
        Level& l = *Work[level];
        const int row = fullRow >> level;
        if (row == l.FetchedRow) continue;
        l.FetchedRow = row;
        l.Given.assign(static_cast<std::size_t>(l.Size.Columns), std::string());
        if (level > SourcedLevels) continue;
        for (int c = 0; c < l.Size.Columns; ++c) {
            std::string bytes;
            if (Source(level, c, row, bytes) && TileJpegFitsAsIs(bytes))
                l.Given[static_cast<std::size_t>(c)] = std::move(bytes);
        }
    }
}

void GeoTiffWriter::Build(int level, const Bitmap* band, const std::vector<StoredTile>* tiles,
                          TileWork& work, std::string& error) const {
    const Level& l = *Work[level];
    Bitmap tile(TiffTileSize, TiffTileSize), decoded;
    std::string buffer;
    const int columns = l.Size.Columns;
    for (int c; (c = work.Next.fetch_add(1)) < columns;) {
        const auto column = static_cast<std::size_t>(c);
        try {
            const bool parent = work.Parent && work.ParentBuilt[column / 2];
            uint8_t* quarter = parent ? work.Parent + c * (TiffTileSize / 2) * 3 : nullptr;
            const int width = std::min(TiffTileSize, l.Size.Width - c * TiffTileSize);
            // Bytes that go in as they are need reading only for the level above.
            std::string_view bytes;
            bool asIs = false;
            if (!tiles) {
                if (column < l.Given.size()) bytes = l.Given[column];
                asIs = !bytes.empty();
            } else if (column < tiles->size() && (*tiles)[column].Size > 0) {
                const StoredTile& stored = (*tiles)[column];
                asIs = stored.AsIs;
                if ((!asIs || parent) &&
                    !Outside->Read(stored.Offset, stored.Size, buffer, bytes, error)) {
                    work.Failed[column] = 1;
                    return;
                }
            }
            if (asIs) {
                work.AsIs[column] = 1;
                // Half-size decoding does the halving inside the decoder.
                if (parent && DecodeJpeg(bytes, decoded, CutShort::Fail, 2)) {
                    const int w = std::min({decoded.Width(), TiffTileSize / 2,
                                            work.ParentWidth - c * TiffTileSize / 2});
                    const int h = std::min(decoded.Height(), TiffTileSize / 2);
                    for (int y = 0; y < h; ++y)
                        std::memcpy(quarter + y * work.ParentStride, decoded.ScanLine(y),
                                    static_cast<std::size_t>(w) * 3);
                }
                continue;
            }
            if (tile.Empty()) throw std::bad_alloc();
            // White only where nothing covers the tile.
            if (!bytes.empty()) {
                const bool ok = DecodeJpeg(bytes, decoded);  // a grey or progressive tile
                if (!ok || decoded.Width() < TiffTileSize || decoded.Height() < TiffTileSize)
                    tile.Fill(White);
                if (ok) tile.Draw(0, 0, decoded);
            } else if (band && !band->Empty()) {
                if (width < TiffTileSize || work.Rows < TiffTileSize) tile.Fill(White);
                for (int y = 0; y < work.Rows; ++y)
                    std::memcpy(tile.ScanLine(y), band->ScanLine(y) + c * TiffTileSize * 3,
                                static_cast<std::size_t>(width) * 3);
            } else {
                tile.Fill(White);
            }
            work.Encoded[column] = EncodeJpeg(tile, Quality);
            if (work.Encoded[column].empty()) work.Failed[column] = 1;
            if (parent)
                HalveBlock(tile.ScanLine(0), tile.BytesPerLine(), width, work.Rows, quarter,
                           work.ParentStride);
        } catch (const std::bad_alloc&) {
            work.Failed[column] = 1;
        }
    }
}

bool GeoTiffWriter::FinishRow(int level, const Bitmap* band, const std::vector<StoredTile>* tiles) {
    Level& l = *Work[level];
    const int columns = l.Size.Columns;
    const auto n = static_cast<std::size_t>(columns);
    TileWork work;
    work.Rows = l.RowsNow();
    work.Encoded.resize(n);
    work.AsIs.assign(n, 0);
    work.Failed.assign(n, 0);
    const bool above = level + 1 < static_cast<int>(Work.size());
    if (above) {
        Level& p = *Work[level + 1];
        work.ParentBuilt.resize(p.Given.size());
        for (std::size_t c = 0; c < p.Given.size(); ++c) work.ParentBuilt[c] = p.Given[c].empty();
        if (std::find(work.ParentBuilt.begin(), work.ParentBuilt.end(), 1) !=
            work.ParentBuilt.end()) {
            if (p.Band.Empty()) p.Band.SetSize(p.Size.Width, TiffTileSize);
            if (p.Band.Empty()) return Fail("недостаточно памяти");
            if (l.BandRow % 2 == 0) p.Band.Fill(White);
            work.ParentStride = p.Band.BytesPerLine();
            work.Parent =
                p.Band.ScanLine(0) + (l.BandRow % 2) * (TiffTileSize / 2) * work.ParentStride;
            work.ParentWidth = p.Size.Width;
        }
    }
    // Compressing independent tiles is most of the work: a second thread
    // takes tiles of the row too, one at a time, as sea and land cost unlike.
    std::thread helper;
    std::string errors[2];
    if (columns >= 2) {
        try {
            helper = std::thread([&] { Build(level, band, tiles, work, errors[1]); });
        } catch (const std::system_error&) {
        }
    }
    Build(level, band, tiles, work, errors[0]);
    if (helper.joinable()) helper.join();

    for (std::size_t c = 0; c < n; ++c) {
        if (work.Failed[c]) {
            for (const std::string& error : errors)
                if (!error.empty()) return Fail(error);
            return Fail("ошибка сжатия фрагмента");
        }
        if (work.AsIs[c]) {
            ++Unchanged;
            if (tiles)
                l.KeepOutside((*tiles)[c]);
            else if (!l.Keep(l.Given[c]))
                return Fail(l.Store.Error());
        } else if (!l.Keep(work.Encoded[c])) {
            return Fail(l.Store.Error());
        }
    }
    ++l.BandRow;
    l.Filled = 0;
    if (above && (l.BandRow % 2 == 0 || l.BandRow == l.Size.Rows))
        return FinishRow(level + 1, &Work[level + 1]->Band, nullptr);
    return true;
}

bool GeoTiffWriter::WriteRows(const Bitmap& rows, int firstRow, int count) {
    if (!Message.empty()) return false;
    Level& l = *Work.front();
    if (l.Band.Empty()) l.Band.SetSize(l.Size.Width, TiffTileSize);
    if (l.Band.Empty()) return Fail("недостаточно памяти");
    while (count > 0) {
        if (l.BandRow >= l.Size.Rows) return Fail("лишняя полоса");
        if (l.Filled == 0) FetchRows(l.BandRow);
        const int take = std::min(count, TiffTileSize - l.Filled);
        CopyRows(rows, firstRow, l.Band, l.Filled, take);
        l.Filled += take;
        firstRow += take;
        count -= take;
        if (l.Filled >= l.RowsNow() && !FinishRow(0, &l.Band, nullptr)) return false;
    }
    return true;
}

bool GeoTiffWriter::WriteTileRow(const SpillStore& store, const std::vector<StoredTile>& tiles,
                                 const Bitmap* pixels) {
    if (!Message.empty()) return false;
    Level& l = *Work.front();
    if (l.BandRow >= l.Size.Rows) return Fail("лишняя полоса");
    if (Outside && Outside != &store) return Fail("фрагменты из разных хранилищ");
    Outside = &store;
    FetchRows(l.BandRow);
    return FinishRow(0, pixels, &tiles);
}

bool GeoTiffWriter::Complete() {
    if (!Message.empty()) return false;
    if (Work.empty()) return Fail("пустое изображение");
    for (const auto& level : Work)
        if (level->BandRow != level->Size.Rows) return Fail("изображение не завершено");
    for (auto& level : Work) {
        Bitmap().Image().swap(level->Band.Image());
        std::vector<std::string>().swap(level->Given);
    }
    return true;
}

namespace {

struct TiffCloser {
    void operator()(TIFF* tif) const {
        if (tif) XTIFFClose(tif);
    }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// libtiff reports through a process-wide handler; the file's own failure is
// told by errno and the calls' results.
void QuietTiffErrors() {
    static const bool once = [] {
        TIFFSetWarningHandler(nullptr);
        TIFFSetErrorHandler(nullptr);
        return true;
    }();
    (void)once;
}

// Tile bytes into the file from `start` on, one after another. The file is
// written back to the disk as it grows: the caller syncs it, and then little
// is left to wait for.
class TileOutput {
  public:
    TileOutput(int fd, uint64_t start, const std::string& name) : Fd(fd), At(start), Name(name) {}

    uint64_t Position() const { return At; }
    const std::string& Error() const { return Message; }

    bool Copy(const SpillStore& from, uint64_t offset, uint64_t size) {
        if (!from.CopyTo(offset, size, Fd, At, Name, Message)) return false;
        At += size;
        if (At - Synced >= WritebackStep) {
            ::sync_file_range(Fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            Synced = At;
        }
        return true;
    }

  private:
    int Fd;
    uint64_t At;
    uint64_t Synced = 0;
    const std::string& Name;
    std::string Message;
};

uint64_t ReadLe(const std::string& b, uint64_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(b[at + i]);
    return v;
}

void WriteLe(std::string& b, uint64_t at, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
}

// Puts the tiles' places and sizes into the TileOffsets and TileByteCounts
// arrays of each directory, in the little-endian file's first `head` bytes
// (the header, the directories and the arrays libtiff wrote). The tiles lie
// from `head` to `end`, smallest level first, each level's in row order.
bool FillTileArrays(int fd, uint64_t head, const std::vector<const std::vector<uint32_t>*>& sizes,
                    uint64_t end, std::string& why) {
    std::vector<uint64_t> starts(sizes.size());
    uint64_t next = head;
    for (std::size_t level = sizes.size(); level-- > 0;) {
        starts[level] = next;
        for (const uint32_t size : *sizes[level]) next += size;
    }
    if (next != end) {
        why = "фрагменты не сходятся";
        return false;
    }
    std::string b(head, '\0');
    if (!ReadAt(fd, 0, b.data(), b.size())) {
        why = errno ? std::strerror(errno) : "файл укорочен";
        return false;
    }
    why = "неизвестное строение TIFF";
    const auto fits = [&](uint64_t at, uint64_t n) { return at <= head && n <= head - at; };
    if (!fits(0, 16) || b[0] != 'I' || b[1] != 'I') return false;
    const uint64_t version = ReadLe(b, 2, 2);
    if (version != 42 && version != 43) return false;
    const bool big = version == 43;
    const int word = big ? 8 : 4;  // offsets, counts, inline values
    const int entrySize = big ? 20 : 12;
    uint64_t ifd = ReadLe(b, big ? 8 : 4, word);
    for (std::size_t level = 0; level < sizes.size(); ++level) {
        const std::vector<uint32_t>& tiles = *sizes[level];
        if (ifd == 0 || !fits(ifd, word)) return false;
        const uint64_t entries = ReadLe(b, ifd, big ? 8 : 2);
        const uint64_t first = ifd + (big ? 8 : 2);
        if (entries > head / entrySize || !fits(first, entries * entrySize + word)) return false;
        int filled = 0;
        for (uint64_t e = 0; e < entries; ++e) {
            const uint64_t entry = first + e * entrySize;
            const uint64_t tag = ReadLe(b, entry, 2);
            if (tag != TIFFTAG_TILEOFFSETS && tag != TIFFTAG_TILEBYTECOUNTS) continue;
            const uint64_t type = ReadLe(b, entry + 2, 2);
            const uint64_t count = ReadLe(b, entry + 4, word);
            const int width = type == TIFF_SHORT   ? 2
                              : type == TIFF_LONG  ? 4
                              : type == TIFF_LONG8 ? 8
                                                   : 0;
            if (width == 0 || count != tiles.size()) return false;
            uint64_t at = entry + 4 + word;
            if (count * width > static_cast<uint64_t>(word)) at = ReadLe(b, at, word);
            if (!fits(at, count * width)) return false;
            const uint64_t limit = width == 8 ? UINT64_MAX : (uint64_t{1} << (8 * width)) - 1;
            uint64_t place = starts[level];
            for (uint64_t t = 0; t < count; ++t) {
                const uint64_t v = tag == TIFFTAG_TILEOFFSETS ? place : tiles[t];
                if (v > limit) return false;
                WriteLe(b, at + t * width, v, width);
                place += tiles[t];
            }
            ++filled;
        }
        if (filled != 2) return false;
        ifd = ReadLe(b, first + entries * entrySize, word);
    }
    if (!WriteAt(fd, 0, b)) {
        why = std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

bool GeoTiffWriter::Save(int fd, const std::string& name) {
    if (!Message.empty()) return false;
    QuietTiffErrors();
    const auto failure = [&](const char* what) {
        const int err = errno;
        return Fail(err ? ErrnoText(name, err) : name + ": " + what);
    };
    errno = 0;
    const int levels = static_cast<int>(Work.size());
    {
        // Little-endian, as FillTileArrays reads it.
        TiffHandle tif(XTIFFFdOpen(::dup(fd), name.c_str(),
                                   NeedsBigTiff(Place.Width, Place.Height) ? "w8l" : "wl"));
        if (!tif) return failure("не открывается");
        for (int i = 0; i < levels; ++i) {
            TIFF* t = tif.get();
            const TiffLevel& s = Work[i]->Size;
            TIFFSetField(t, TIFFTAG_SUBFILETYPE, i == 0 ? 0 : FILETYPE_REDUCEDIMAGE);
            TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(s.Width));
            TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(s.Height));
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
            TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
            TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
            TIFFSetField(t, TIFFTAG_YCBCRSUBSAMPLING, 2, 2);
            // Every tile is a whole JPEG stream with its own tables: tiles of
            // different sources keep theirs.
            TIFFSetField(t, TIFFTAG_JPEGTABLESMODE, 0);
            TIFFSetField(t, TIFFTAG_TILEWIDTH, TiffTileSize);
            TIFFSetField(t, TIFFTAG_TILELENGTH, TiffTileSize);
            if (i == 0) {
                // The world file's numbers: its pixel size, and the centre of
                // the top-left pixel tied to that pixel's centre.
                const WorldTransform w = WorldTransformOf(Place);
                const double scale[3] = {w.PixelSize, w.PixelSize, 0};
                const double tie[6] = {0.5, 0.5, 0, w.CentreX, w.CentreY, 0};
                TIFFSetField(t, TIFFTAG_GEOPIXELSCALE, 3, scale);
                TIFFSetField(t, TIFFTAG_GEOTIEPOINTS, 6, tie);
                GTIF* keys = GTIFNew(t);
                if (!keys) return failure("GeoTIFF");
                GTIFKeySet(keys, GTModelTypeGeoKey, TYPE_SHORT, 1, ModelTypeProjected);
                GTIFKeySet(keys, GTRasterTypeGeoKey, TYPE_SHORT, 1, RasterPixelIsArea);
                GTIFKeySet(keys, ProjectedCSTypeGeoKey, TYPE_SHORT, 1, 3857);
                GTIFKeySet(keys, GTCitationGeoKey, TYPE_ASCII, 0, "WGS 84 / Pseudo-Mercator");
                const int written = GTIFWriteKeys(keys);
                GTIFFree(keys);
                if (!written) return failure("GeoTIFF");
            }
            // The tile arrays follow all the IFDs, the tiles follow them.
            if (!TIFFDeferStrileArrayWriting(t) || !TIFFWriteCheck(t, 1, "GeoTiffWriter") ||
                !TIFFWriteDirectory(t))
                return failure("ошибка записи");
        }
    }
    // The descriptors share one file offset: libtiff reads its header from there.
    ::lseek(fd, 0, SEEK_SET);
    {
        TiffHandle tif(XTIFFFdOpen(::dup(fd), name.c_str(), "r+"));
        if (!tif) return failure("не открывается");
        for (int i = 0; i < levels; ++i)
            if (!TIFFSetDirectory(tif.get(), static_cast<tdir_t>(i)) ||
                !TIFFForceStrileArrayWriting(tif.get()))
                return failure("ошибка записи");
    }
    struct stat st;
    if (::fstat(fd, &st) != 0) return failure("ошибка записи");
    const auto head = static_cast<uint64_t>(st.st_size);

    // The tiles follow, smallest level first, in large writes; then their
    // places go into the arrays that libtiff left empty.
    TileOutput out(fd, head, name);
    std::vector<const std::vector<uint32_t>*> sizes;
    for (int i = levels - 1; i >= 0; --i) {
        const Level& l = *Work[i];
        sizes.insert(sizes.begin(), &l.Sizes);
        // Tiles kept one after another are copied in one go.
        for (std::size_t t = 0; t < l.Sizes.size();) {
            const bool outside = l.Outside[t];
            const uint64_t from = l.Offsets[t];
            uint64_t run = 0;
            for (; t < l.Sizes.size() && l.Outside[t] == outside && l.Offsets[t] == from + run; ++t)
                run += l.Sizes[t];
            if (!out.Copy(outside ? *Outside : l.Store, from, run)) return Fail(out.Error());
        }
    }
    std::string why;
    if (!FillTileArrays(fd, head, sizes, out.Position(), why)) return Fail(name + ": " + why);
    return true;
}
