#include "platform/bitmap.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QString>
#include <algorithm>
#include <cstring>

Bitmap::Bitmap(int width, int height) {
    if (width > 0 && height > 0) Img = QImage(width, height, QImage::Format_RGB888);
}

Bitmap::Bitmap(const Bitmap& other) : Img(other.Img.copy()) {}

Bitmap& Bitmap::operator=(const Bitmap& other) {
    if (this != &other) Img = other.Img.copy();
    return *this;
}

void Bitmap::SetSize(int width, int height) {
    if (width == Img.width() && height == Img.height()) return;
    if (width <= 0 || height <= 0)
        Img = QImage();
    else
        Img = QImage(width, height, QImage::Format_RGB888);
}

void Bitmap::CropCentered(int width, int height) {
    if (width <= 0 || height <= 0) {
        Img = QImage();
        return;
    }
    Bitmap old;
    old.Img.swap(Img);
    Img = QImage(width, height, QImage::Format_RGB888);
    Img.fill(Qt::black);
    // The same offset a centred paint uses, so the crop keeps what was shown.
    Draw((width - old.Width()) / 2, (height - old.Height()) / 2, old);
}

void Bitmap::Fill(Rgb color) {
    if (Img.isNull()) return;
    // Grey and white, the common fills, are one byte repeated: a memset,
    // many times faster than filling three-byte pixels one by one.
    if (color.R == color.G && color.G == color.B) {
        uint8_t* bits = Img.bits();
        const std::size_t row = static_cast<std::size_t>(Img.width()) * 3;
        for (int y = 0; y < Img.height(); ++y)
            std::memset(bits + static_cast<std::size_t>(y) * Img.bytesPerLine(), color.R, row);
        return;
    }
    Img.fill(QColor(color.R, color.G, color.B));
}

void Bitmap::FillRect(int x, int y, int width, int height, Rgb color) {
    int x0 = std::max(x, 0), y0 = std::max(y, 0);
    int x1 = std::min(x + width, Img.width()), y1 = std::min(y + height, Img.height());
    for (int row = y0; row < y1; ++row) {
        uint8_t* p = Img.scanLine(row) + x0 * 3;
        for (int col = x0; col < x1; ++col) {
            *p++ = color.R;
            *p++ = color.G;
            *p++ = color.B;
        }
    }
}

void Bitmap::Draw(int x, int y, const Bitmap& src) {
    int sx0 = std::max(0, -x), sy0 = std::max(0, -y);
    int sx1 = std::min(src.Width(), Width() - x), sy1 = std::min(src.Height(), Height() - y);
    if (sx0 >= sx1 || sy0 >= sy1) return;
    size_t bytes = static_cast<size_t>(sx1 - sx0) * 3;
    // One detach check for the whole copy, not one per row.
    uint8_t* to = Img.bits();
    const uint8_t* from = src.Img.constBits();
    const qsizetype toStride = Img.bytesPerLine(), fromStride = src.Img.bytesPerLine();
    for (int row = sy0; row < sy1; ++row)
        std::memcpy(to + (y + row) * toStride + (x + sx0) * 3, from + row * fromStride + sx0 * 3,
                    bytes);
}

void Bitmap::DrawHalved(int x, int y, const Bitmap& src) {
    int w = src.Width() / 2, h = src.Height() / 2;
    for (int row = 0; row < h; ++row) {
        int ty = y + row;
        if (ty < 0 || ty >= Height()) continue;
        const uint8_t* s = src.Img.constScanLine(row * 2);
        uint8_t* d = Img.scanLine(ty);
        for (int col = 0; col < w; ++col) {
            int tx = x + col;
            if (tx < 0 || tx >= Width()) continue;
            std::memcpy(d + tx * 3, s + col * 6, 3);
        }
    }
}

void Bitmap::DrawTextCentered(std::string_view utf8, int cx, int cy, Rgb color) {
    if (Img.isNull()) return;
    QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    QFontMetrics metrics(font);
    int width = metrics.horizontalAdvance(text);
    int height = metrics.height();
    QPainter painter(&Img);
    painter.setFont(font);
    painter.setPen(QColor(color.R, color.G, color.B));
    painter.drawText(cx - width / 2, cy - height / 2 + metrics.ascent(), text);
}

Rgb Bitmap::Pixel(int x, int y) const {
    const uint8_t* p = Img.constScanLine(y) + x * 3;
    return {p[0], p[1], p[2]};
}
