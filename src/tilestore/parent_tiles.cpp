#include "tilestore/parent_tiles.h"

#include <string_view>

#include "platform/file_io.h"
#include "tilestore/jpeg_image.h"
#include "tilestore/tile_lookup.h"

namespace {

constexpr std::string_view Ext = ".jpg";
constexpr int TileSide = 256;
constexpr int Half = TileSide / 2;

// Nearest-neighbour shrink into a half-tile square. A tile of the usual size
// goes through the bitmap's own halving; any other size is still fitted into
// its quadrant instead of spilling over the neighbours.
void DrawIntoQuadrant(Bitmap& parent, int x, int y, const Bitmap& child) {
    if (child.Width() == TileSide && child.Height() == TileSide) {
        parent.DrawHalved(x, y, child);
        return;
    }
    for (int row = 0; row < Half; ++row) {
        const uint8_t* src = child.ScanLine(row * child.Height() / Half);
        uint8_t* dst = parent.ScanLine(y + row) + x * 3;
        for (int col = 0; col < Half; ++col, dst += 3) {
            const uint8_t* p = src + (col * child.Width() / Half) * 3;
            dst[0] = p[0];
            dst[1] = p[1];
            dst[2] = p[2];
        }
    }
}

// Parent `prefix` + ".jpg" from the four files `prefix` + q/r/s/t + ".jpg".
// False when a child fails its check or the parent cannot be written.
bool ComposeParent(const std::string& prefix) {
    struct Child {
        char Letter;
        int X, Y;
    };
    static constexpr Child Children[] = {
        {'q', 0, 0}, {'r', Half, 0}, {'s', Half, Half}, {'t', 0, Half}};
    Bitmap parent(TileSide, TileSide);
    if (parent.Empty()) return false;
    parent.Fill({0, 0, 0});
    for (const Child& child : Children) {
        JpegImage image;
        std::string name = prefix;
        name.push_back(child.Letter);
        name.append(Ext);
        // One bad child spoils the parent; the others need not be read.
        if (!image.LoadFile(name) || !CheckTileJpeg(image)) return false;
        DrawIntoQuadrant(parent, child.X, child.Y, image.Picture());
    }
    const std::string jpeg = EncodeJpeg(parent, ParentTileQuality);
    if (jpeg.empty()) return false;
    return static_cast<bool>(WriteFileAtomic(prefix + std::string(Ext), jpeg));
}

}  // namespace

void BuildParentTile(const MainState& state, const std::string& fileName) {
    std::string name = fileName;
    // A key has at most 20 letters; the bound only guards odd input.
    for (int level = 0; level <= 32; ++level) {
        if (name.size() <= Ext.size() ||
            std::string_view(name).substr(name.size() - Ext.size()) != Ext)
            return;
        // The whole-world tile ".jpg" has the folder's '/' here and ends the climb.
        if (name[name.size() - Ext.size() - 1] != 'q') return;
        const std::string prefix = name.substr(0, name.size() - Ext.size() - 1);
        std::string parent = prefix + std::string(Ext);
        if (!state.ReplaceUpperLayers && FileExists(parent)) return;
        if (FileExists(prefix + "s.jpg") && FileExists(prefix + "t.jpg") &&
            FileExists(prefix + "r.jpg")) {
            if (!ComposeParent(prefix)) return;
        }
        name = std::move(parent);
    }
}
