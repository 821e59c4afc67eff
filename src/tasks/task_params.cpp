#include "tasks/task_params.h"

#include <cstdlib>
#include <utility>

#include "geo/projection.h"
#include "geo/tile_key.h"
#include "platform/numbers.h"
#include "tasks/tasks.h"

int64_t RegionTileCount(int z, const RegionCorners& c) {
    const RegionPixels size = RegionPixelSize(z, c);
    const TileSpan span = RegionTileSpan(z, TileAt(z, c.Lon1, c.Lat1), size.Width, size.Height);
    return span.Columns * span.Rows;
}

std::string TooManyTilesText(int64_t tiles) {
    return "Слишком большая область: " + FormatThousands(tiles) + " фрагментов, не более " +
           FormatThousands(MaxTaskTiles);
}

void OrderRegionCorners(int z, RegionCorners& c) {
    // Offset of corner 1 from corner 2: positive x when corner 2 is west of it.
    const PixelOffset d = PixelDelta(z, c.Lon2, c.Lat2, c.Lon1, c.Lat1);
    if (d.Dx > 0) std::swap(c.Lon1, c.Lon2);
    if (d.Dy > 0) std::swap(c.Lat1, c.Lat2);
    for (double* lat : {&c.Lat1, &c.Lat2}) {
        if (*lat > ClampLatitude) *lat = ClampLatitude;
        if (!(*lat >= -ClampLatitude)) *lat = -ClampLatitude;
    }
}

PieceSizeCheck CheckPieceSize(const std::string& text, int regionSize) {
    PieceSizeCheck check;
    if (!ParseInt(text, check.Value)) check.Value = -1;
    check.Accepted = check.Value >= 256 && check.Value < regionSize;
    return check;
}
