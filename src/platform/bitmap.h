#pragma once
#include <QImage>
#include <cstdint>
#include <mutex>
#include <string_view>

struct Rgb {
    uint8_t R = 0, G = 0, B = 0;
    bool operator==(const Rgb&) const = default;
};

// A 24-bit picture with a canvas lock. The drawing methods do not lock: a
// bitmap shared between threads is drawn on only while LockCanvas() is held.
class Bitmap {
public:
    explicit Bitmap(int width = 0, int height = 0);
    Bitmap(const Bitmap& other);
    Bitmap& operator=(const Bitmap& other);

    int Width() const { return Img.width(); }
    int Height() const { return Img.height(); }
    bool Empty() const { return Img.isNull(); }

    // New size; the content is undefined afterwards.
    void SetSize(int width, int height);
    // New size keeping the middle of the old picture (what a centred view shows).
    void CropCentered(int width, int height);

    [[nodiscard]] std::unique_lock<std::mutex> LockCanvas() const {
        return std::unique_lock<std::mutex>(CanvasLock);
    }

    void Fill(Rgb color);
    void FillRect(int x, int y, int width, int height, Rgb color);
    // Draws `src` with its top-left corner at (x, y), clipped to this bitmap.
    void Draw(int x, int y, const Bitmap& src);
    // Draws `src` shrunk to half its size by dropping pixels: every other
    // pixel of every other row survives, nothing is averaged.
    void DrawHalved(int x, int y, const Bitmap& src);
    // Text in the default font, black unless told, its box centred on (cx, cy):
    // left at cx - width/2 and top at cy - height/2, halves truncated.
    void DrawTextCentered(std::string_view utf8, int cx, int cy, Rgb color = {});

    Rgb Pixel(int x, int y) const;
    uint8_t* ScanLine(int y) { return Img.scanLine(y); }
    const uint8_t* ScanLine(int y) const { return Img.constScanLine(y); }
    int BytesPerLine() const { return static_cast<int>(Img.bytesPerLine()); }

    QImage& Image() { return Img; }
    const QImage& Image() const { return Img; }

private:
    QImage Img;
    mutable std::mutex CanvasLock;
};
