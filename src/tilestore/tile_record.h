#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "tilestore/jpeg_image.h"

// The per-tile work record, also the node of a tile list (newest first).
struct jtype {
    jtype() = default;
    jtype(jtype&&) = default;
    jtype& operator=(jtype&&) = default;
    // Unlinks iteratively: a task's list can hold a million tiles.
    ~jtype() {
        auto next = std::move(Next);
        while (next) next = std::move(next->Next);
    }

    std::unique_ptr<JpegImage> Image = std::make_unique<JpegImage>();
    std::string FileName;  // CachePath + TileName + ".jpg"
    std::string Url;       // TileUrl(SourceString, TileName)
    uint8_t Pending = 0;   // a lookup found nothing while fetching is allowed
    Bitmap* Canvas = nullptr;
    int32_t X = 0, Y = 0;
    std::unique_ptr<jtype> Next;
    // The key letters, kept with the record so that a source string changed
    // meanwhile in the settings cannot shift them.
    std::string TileName;
};
