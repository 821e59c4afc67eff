#include "formats/stitch_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "geo/projection.h"
#include "platform/bitmap.h"
#include "platform/file_io.h"
#include "platform/numbers.h"
#include "platform/time_text.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/tile_lookup.h"

namespace {

constexpr Rgb White{255, 255, 255};

// Bands follow the tile rows: their edges lie where the tiles' edges lie
// (the phase), so each tile is decoded once.
struct BandLayout {
    int Height = 0;
    int Phase = 0;  // 0..255: where the first full band starts

    int Of(int row) const {
        if (Phase == 0) return row / TileSize;
        return row < Phase ? 0 : 1 + (row - Phase) / TileSize;
    }
    int Start(int band) const {
        if (Phase == 0) return band * TileSize;
        return band == 0 ? 0 : Phase + (band - 1) * TileSize;
    }
    int Count() const { return Height > 0 ? Of(Height - 1) + 1 : 0; }
    int Rows(int band) const { return std::min(Start(band + 1), Height) - Start(band); }
};

}  // namespace

StitchImage::StitchImage(int width, int height, std::string spillFolder, std::size_t memoryLimit)
    : ImageWidth(width),
      ImageHeight(height),
      SpillFolder(std::move(spillFolder)),
      Tiles(SpillFolder, memoryLimit) {}

StitchImage::~StitchImage() = default;

std::string StitchImage::AllocationLine(int width, int height,
                                        std::chrono::system_clock::time_point now) {
    const int64_t bytes = int64_t{std::abs(width)} * std::abs(height) * 3;
    return "Выделение памяти под битовый образ Мб:" +
           FormatFixed(static_cast<double>(bytes / 1048576), 6) + TimeText(now, now);
}

bool StitchImage::Visible(int x, int y, int w, int h) const {
    return int64_t{x} < ImageWidth && int64_t{y} < ImageHeight && int64_t{x} + w > 0 &&
           int64_t{y} + h > 0 && w > 0 && h > 0;
}

void StitchImage::Store(std::string_view bytes, Piece& piece) {
    piece.Size = static_cast<uint32_t>(bytes.size());
    if (!Tiles.Append(bytes, piece.Offset)) StoreError = Tiles.Error();
}

void StitchImage::AddJpeg(int x, int y, std::string jpegBytes) {
    int w = 0, h = 0;
    if (jpegBytes.size() > UINT32_MAX || !ReadJpegSize(jpegBytes, w, h)) return;
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Visible(x, y, w, h) || !StoreError.empty()) return;
    Piece piece{x, y, w, h};
    piece.FitsTiff = TileJpegFitsAsIs(jpegBytes);
    Store(jpegBytes, piece);
    if (StoreError.empty()) Pieces.push_back(piece);
}

void StitchImage::AddPlaceholder(int x, int y, std::string caption, std::string tileName) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Visible(x, y, TileSize, TileSize)) return;
    Piece piece{x, y, TileSize, TileSize};
    piece.Texts = static_cast<int>(PlaceholderTexts.size());
    PlaceholderTexts.emplace_back(std::move(caption), std::move(tileName));
    Pieces.push_back(piece);
}

std::size_t StitchImage::BytesInMemory() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Tiles.BytesInMemory();
}

std::string StitchImage::StoreFailure() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return StoreError;
}

bool StitchImage::Spilled() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Tiles.Spilled();
}

bool StitchImage::ReadPiece(const Piece& piece, std::string& buffer, std::string_view& bytes,
                            std::string& error) const {
    return Tiles.Read(piece.Offset, piece.Size, buffer, bytes, error);
}

// Two band buffers: the decoding thread fills one while the encoder drains
// the other.
struct StitchImage::Composer {
    const StitchImage& Image;
    BandLayout Layout;
    std::vector<std::vector<uint32_t>> BandPieces;  // per band, in the order added
    Bitmap Bands[2];
    bool Ready[2] = {false, false};
    std::mutex M;
    std::condition_variable Changed;
    std::vector<char> Skip;  // bands nobody needs the pixels of
    bool Abort = false;      // the encoder gave up: the decoder stops too
    std::string Failure;     // why the decoder gave up

    explicit Composer(const StitchImage& image) : Image(image) {
        Layout.Height = image.ImageHeight;
        if (!image.Pieces.empty())
            Layout.Phase = ((image.Pieces.front().Y % TileSize) + TileSize) % TileSize;
        BandPieces.resize(static_cast<size_t>(Layout.Count()));
        for (size_t i = 0; i < image.Pieces.size(); ++i) {
            const Piece& p = image.Pieces[i];
            const int first = Layout.Of(std::max(p.Y, 0));
            const int last = Layout.Of(
                static_cast<int>(std::min<int64_t>(int64_t{p.Y} + p.H, image.ImageHeight) - 1));
            for (int b = first; b <= last; ++b) BandPieces[b].push_back(static_cast<uint32_t>(i));
        }
    }

    bool Compose(int band, Bitmap& target, std::string& error) {
        target.Fill(White);
        const int top = Layout.Start(band);
        std::string buffer;
        Bitmap tile;
        JpegImage placeholder;
        for (uint32_t index : BandPieces[band]) {
            const Piece& p = Image.Pieces[index];
            if (p.Texts >= 0) {
                const auto& texts = Image.PlaceholderTexts[p.Texts];
                MakePlaceholderTile(placeholder, texts.first, texts.second);
                target.Draw(p.X, p.Y - top, placeholder.Picture());
                continue;
            }
            std::string_view bytes;
            if (!Image.ReadPiece(p, buffer, bytes, error)) return false;
            // It decoded when it was got; should it not now, its place stays white.
            if (DecodeJpeg(bytes, tile)) target.Draw(p.X, p.Y - top, tile);
        }
        return true;
    }

    // Band `band` into columns [x0, x1) of a picture of the image's width
    // at `pixels`, rows `stride` bytes apart, with `placeholders` the
    // pictures of its placeholder pieces (drawn beforehand: text drawing
    // stays on one thread). Two of these may run at once on disjoint columns.
    bool ComposeColumns(int band, const std::vector<Bitmap>& placeholders, uint8_t* pixels,
                        std::ptrdiff_t stride, int x0, int x1, std::string& error) const {
        const int top = Layout.Start(band), rows = Layout.Rows(band);
        for (int y = 0; y < rows; ++y)
            std::memset(pixels + y * stride + x0 * 3, 0xFF, static_cast<std::size_t>(x1 - x0) * 3);
        std::string buffer;
        Bitmap tile;
        std::size_t next = 0;
        for (uint32_t index : BandPieces[band]) {
            const Piece& p = Image.Pieces[index];
            const Bitmap* picture = p.Texts >= 0 ? &placeholders[next++] : &tile;
            if (int64_t{p.X} + p.W <= x0 || p.X >= x1) continue;
            if (p.Texts < 0) {
                std::string_view bytes;
                if (!Image.ReadPiece(p, buffer, bytes, error)) return false;
                if (!DecodeJpeg(bytes, tile)) continue;
            }
            const int left = std::max(p.X, x0);
            const int right =
                static_cast<int>(std::min<int64_t>(int64_t{p.X} + picture->Width(), x1));
            const int from = std::max(p.Y - top, 0);
            const int to =
                static_cast<int>(std::min<int64_t>(int64_t{p.Y} - top + picture->Height(), rows));
            if (right <= left) continue;
            for (int y = from; y < to; ++y)
                std::memcpy(pixels + y * stride + left * 3,
                            picture->ScanLine(y - (p.Y - top)) + (left - p.X) * 3,
                            static_cast<std::size_t>(right - left) * 3);
        }
        return true;
    }

    std::vector<Bitmap> Placeholders(int band) const {
        std::vector<Bitmap> pictures;
        JpegImage placeholder;
        for (uint32_t index : BandPieces[band]) {
            const Piece& p = Image.Pieces[index];
            if (p.Texts < 0) continue;
            const auto& texts = Image.PlaceholderTexts[p.Texts];
            MakePlaceholderTile(placeholder, texts.first, texts.second);
            pictures.push_back(placeholder.Picture());
        }
        return pictures;
    }

    void DecodeLoop() {
        for (int band = 0; band < Layout.Count(); ++band) {
            const int slot = band % 2;
            {
                std::unique_lock<std::mutex> lock(M);
                Changed.wait(lock, [&] { return Abort || !Ready[slot]; });
                if (Abort) return;
            }
            std::string error;
            const bool skip = band < static_cast<int>(Skip.size()) && Skip[band];
            const bool ok = skip || Compose(band, Bands[slot], error);
            std::lock_guard<std::mutex> lock(M);
            if (!ok) {
                Failure = error;
                Changed.notify_all();
                return;
            }
            Ready[slot] = true;
            Changed.notify_all();
        }
    }

    // The band in `slot` once it is composed; false when the decoder failed.
    bool Take(int slot, std::string& error) {
        std::unique_lock<std::mutex> lock(M);
        Changed.wait(lock, [&] { return Ready[slot] || !Failure.empty(); });
        if (Ready[slot]) return true;
        error = Failure;
        return false;
    }

    void Release(int slot) {
        std::lock_guard<std::mutex> lock(M);
        Ready[slot] = false;
        Changed.notify_all();
    }

    void Stop() {
        std::lock_guard<std::mutex> lock(M);
        Abort = true;
        Changed.notify_all();
    }
};

struct StitchImage::TiffOutcome {
    bool Compressed = false;
    std::string Why;
    std::string SaveError;
    int64_t Unchanged = 0, Tiles = 0;
};

bool StitchImage::CompressAndSave(const std::string& fileName, int quality,
                                  const std::function<void(const std::string&)>& addLog,
                                  const std::atomic<bool>* stop) {
    std::lock_guard<std::mutex> lock(Mutex);
    const auto log = [&](const std::string& line) {
        if (addLog) addLog(line);
    };
    const auto stopped = [&] { return stop && stop->load(); };
    log("начало сжатия");
    const auto compressionFailed = [&](const std::string& why) {
        log("ошибка в процессе сжатия");
        log(why);
        // Nothing was made that could be saved.
        log("ошибка в процессе сохранения");
    };
    if (ImageWidth < 1 || ImageHeight < 1) {
        compressionFailed("пустое изображение " + std::to_string(ImageWidth) + "x" +
                          std::to_string(ImageHeight));
        return false;
    }
    const bool geoTiff = IsGeoTiffName(fileName);
    if (geoTiff && !GeoTiffSizeProblem(ImageWidth, ImageHeight).empty()) {
        compressionFailed(GeoTiffSizeProblem(ImageWidth, ImageHeight));
        return false;
    }
    if (!geoTiff && (ImageWidth > MaxSide || ImageHeight > MaxSide)) {
        compressionFailed("размеры " + std::to_string(ImageWidth) + "x" +
                          std::to_string(ImageHeight) + " больше допустимых для JPEG " +
                          std::to_string(MaxSide) + "x" + std::to_string(MaxSide));
        return false;
    }
    if (!StoreError.empty()) {
        compressionFailed(StoreError);
        return false;
    }

    if (geoTiff) {
        const TiffOutcome outcome = SaveGeoTiff(fileName, quality, stopped);
        if (!outcome.Compressed) {
            compressionFailed(outcome.Why);
            return false;
        }
        log("сжатие завершено");
        log("фрагментов без перекодирования: " + std::to_string(outcome.Unchanged) + " из " +
            std::to_string(outcome.Tiles));
        if (!outcome.SaveError.empty()) {
            log("ошибка в процессе сохранения");
            log(outcome.SaveError);
            return false;
        }
        log("файл сохранен");
        return true;
    }

    // A failed write does not stop the compression: as with an image
    // compressed in memory, it is the saving that fails, and the log says so.
    AtomicFileWriter file(fileName);
    std::string saveError;
    if (FileResult opened = file.Open(); !opened) saveError = opened.Error;
    const auto sink = [&](const char* data, size_t size) {
        if (saveError.empty() && !file.Write(std::string_view(data, size)))
            saveError = file.LastError();
        return true;
    };

    JpegLineEncoder encoder;
    std::string why;
    bool compressed = false;
    try {
        Composer composer(*this);
        composer.Bands[0].SetSize(ImageWidth, TileSize);
        composer.Bands[1].SetSize(ImageWidth, TileSize);
        if (composer.Bands[0].Empty() || composer.Bands[1].Empty()) throw std::bad_alloc();
        if (!encoder.Start(ImageWidth, ImageHeight, quality, sink)) {
            why = encoder.Error();
        } else {
            std::thread decoder([&composer] { composer.DecodeLoop(); });
            bool ok = true;
            for (int band = 0; ok && band < composer.Layout.Count(); ++band) {
                const int slot = band % 2;
                if (stopped()) {
                    why = "сжатие прервано";
                    ok = false;
                } else if (!composer.Take(slot, why)) {
                    ok = false;
                } else {
                    ok = encoder.WriteRows(composer.Bands[slot], 0, composer.Layout.Rows(band));
                    if (!ok) why = encoder.Error();
                    composer.Release(slot);
                }
            }
            composer.Stop();
            decoder.join();
            if (ok && stopped()) {
                why = "сжатие прервано";
                ok = false;
            }
            if (ok && !encoder.Finish()) {
                why = encoder.Error();
                ok = false;
            }
            compressed = ok;
        }
    } catch (const std::bad_alloc&) {
        why = "недостаточно памяти";
    } catch (const std::system_error& e) {
        why = e.what();  // no thread for decoding
    }
    if (!compressed) {
        file.Abandon();
        compressionFailed(why);
        return false;
    }
    log("сжатие завершено");
    if (saveError.empty()) {
        if (FileResult committed = file.Commit(true); !committed) saveError = committed.Error;
    }
    if (!saveError.empty()) {
        file.Abandon();
        log("ошибка в процессе сохранения");
        log(saveError);
        return false;
    }
    log("файл сохранен");
    return true;
}

void StitchImage::SetPlace(int zoom, int64_t left, int64_t top) {
    std::lock_guard<std::mutex> lock(Mutex);
    Place.Zoom = zoom;
    Place.Left = left;
    Place.Top = top;
}

void StitchImage::SetOverviewSource(int levels, GeoTiffWriter::TileSource source) {
    std::lock_guard<std::mutex> lock(Mutex);
    SourcedLevels = levels;
    OverviewSource = std::move(source);
}

// Called with Mutex held. When every tile lies on the file's tile grid, each
// file tile is one stitched tile, and its bytes may go in as they are: then
// a band is decoded only when something needs its pixels.
StitchImage::TiffOutcome StitchImage::SaveGeoTiff(const std::string& fileName, int quality,
                                                  const std::function<bool()>& stopped) {
    TiffOutcome out;
    const bool aligned = std::all_of(Pieces.begin(), Pieces.end(), [](const Piece& p) {
        return p.X >= 0 && p.Y >= 0 && p.X % TileSize == 0 && p.Y % TileSize == 0;
    });
    WorldFileParams place = Place;
    place.Width = ImageWidth;
    place.Height = ImageHeight;
    place.ImagePath = fileName;
    GeoTiffWriter writer(place, quality, SpillFolder, aligned ? SourcedLevels : 0,
                         aligned ? OverviewSource : GeoTiffWriter::TileSource());
    for (const TiffLevel& level : writer.Levels()) out.Tiles += level.Tiles();
    const int columns = writer.Levels().front().Columns;
    try {
        Composer composer(*this);
        // A band's file tiles: each the bytes of the whole tile drawn last there, if any.
        std::vector<GeoTiffWriter::StoredTile> tiles;
        const auto bandTiles = [&](std::size_t band) {
            tiles.assign(static_cast<std::size_t>(columns), {});
            for (uint32_t index : composer.BandPieces[band]) {
                const Piece& p = Pieces[index];
                const bool full = p.Texts < 0 && p.W == TileSize && p.H == TileSize;
                tiles[static_cast<std::size_t>(p.X / TileSize)] =
                    full ? GeoTiffWriter::StoredTile{p.Offset, p.Size, p.FitsTiff}
                         : GeoTiffWriter::StoredTile{};
            }
        };
        if (aligned) {
            composer.Skip.resize(composer.BandPieces.size());
            for (std::size_t b = 0; b < composer.BandPieces.size(); ++b) {
                bandTiles(b);
                composer.Skip[b] = !writer.PixelsNeeded(tiles);
            }
        }
        if (!aligned) {
            if (!ComposeAndWrite(composer, writer, stopped, out.Why)) {
                if (out.Why.empty()) out.Why = writer.Error();
                return out;
            }
        } else {
            composer.Bands[0].SetSize(ImageWidth, TileSize);
            composer.Bands[1].SetSize(ImageWidth, TileSize);
            if (composer.Bands[0].Empty() || composer.Bands[1].Empty()) throw std::bad_alloc();
            std::thread decoder([&composer] { composer.DecodeLoop(); });
            bool ok = true;
            for (int band = 0; ok && band < composer.Layout.Count(); ++band) {
                const int slot = band % 2;
                if (stopped()) {
                    out.Why = "сжатие прервано";
                    ok = false;
                } else if (!composer.Take(slot, out.Why)) {
                    ok = false;
                } else {
                    bandTiles(static_cast<std::size_t>(band));
                    ok = writer.WriteTileRow(Tiles, tiles,
                                             composer.Skip[band] ? nullptr : &composer.Bands[slot]);
                }
                if (ok) composer.Release(slot);
            }
            composer.Stop();
            decoder.join();
            if (ok && stopped()) {
                out.Why = "сжатие прервано";
                ok = false;
            }
            if (!ok) {
                if (out.Why.empty()) out.Why = writer.Error();
                return out;
            }
        }
        if (!writer.Complete()) {
            out.Why = writer.Error();
            return out;
        }
    } catch (const std::bad_alloc&) {
        out.Why = "недостаточно памяти";
        return out;
    } catch (const std::system_error& e) {
        out.Why = e.what();
        return out;
    }
    out.Compressed = true;
    out.Unchanged = writer.TilesUnchanged();
    AtomicFileWriter file(fileName);
    if (FileResult opened = file.Open(); !opened) {
        out.SaveError = opened.Error;
        return out;
    }
    if (!writer.Save(file.Descriptor(), fileName)) {
        out.SaveError = writer.Error();
        file.Abandon();
        return out;
    }
    if (FileResult committed = file.Commit(true); !committed) out.SaveError = committed.Error;
    return out;
}

// Called with Mutex held, for tiles off the file's grid. One band of pixels,
// composed by two threads side by side and then compressed by two: no
// second band waits while one is compressed, which a 100,000-pixel wide
// image could not afford beside the writer's own bands.
bool StitchImage::ComposeAndWrite(Composer& composer, GeoTiffWriter& writer,
                                  const std::function<bool()>& stopped, std::string& why) const {
    Bitmap band(ImageWidth, TileSize);
    if (band.Empty()) throw std::bad_alloc();
    uint8_t* pixels = band.Image().bits();
    const std::ptrdiff_t stride = band.BytesPerLine();
    // Split where tiles meet, so that no tile is decoded twice.
    const int phase = Pieces.empty() ? 0 : ((Pieces.front().X % TileSize) + TileSize) % TileSize;
    const int split = (ImageWidth / 2 - phase) / TileSize * TileSize + phase;
    for (int b = 0; b < composer.Layout.Count(); ++b) {
        if (stopped()) {
            why = "сжатие прервано";
            return false;
        }
        const std::vector<Bitmap> placeholders = composer.Placeholders(b);
        std::string helperError;
        bool helperOk = true;
        std::thread helper;
        int mine = ImageWidth;
        if (split > 0 && split < ImageWidth) {
            try {
                helper = std::thread([&] {
                    helperOk = composer.ComposeColumns(b, placeholders, pixels, stride, split,
                                                       ImageWidth, helperError);
                });
                mine = split;
            } catch (const std::system_error&) {
            }
        }
        const bool ok = composer.ComposeColumns(b, placeholders, pixels, stride, 0, mine, why);
        if (helper.joinable()) helper.join();
        if (!ok) return false;
        if (!helperOk) {
            why = helperError;
            return false;
        }
        if (!writer.WriteRows(band, 0, composer.Layout.Rows(b))) return false;
    }
    if (stopped()) {
        why = "сжатие прервано";
        return false;
    }
    return true;
}
