#!/usr/bin/env bash
# Stitches 64 x 64 planet tiles (16,384 px a side, about 18 KB each, as a
# warm cache holds them) into a tiled GeoTIFF with JPEG tiles at quality 80
# and overviews, in the same run:
#   vistrel plain     tiles off the file's grid: decoded, composed, encoded
#   vistrel snapped   tiles on the grid: their bytes go in as they are, the
#                     overviews are built from them decoded at half size
#   vistrel cached    the same with every overview tile read from the cache
#                     (the upper layers): copying only
#   gdal_translate    -of COG -co COMPRESS=JPEG -co QUALITY=80 from a VRT of
#                     the same tiles
#   vips              arrayjoin saved with tiffsave's --tile --pyramid
#                     --compression jpeg --Q 80
# and prints wall time, CPU time and peak RSS of each whole process
# (/usr/bin/time -v).
#
#   bench/geotiff_vs_gdal_vips.sh [build folder] [tiles across]   (default: build 64)
# Needs gdal-bin and libvips-tools (installed here if missing; neither is a
# dependency of the program).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[[ $build = /* ]] || build=$root/$build
n=${2:-64}

missing=()
command -v vips >/dev/null || missing+=(libvips-tools)
command -v gdal_translate >/dev/null || missing+=(gdal-bin)
[[ -x /usr/bin/time ]] || missing+=(time)
if ((${#missing[@]})); then
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
        { apt-get update >/dev/null && apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
fi

cmake --build "$build" --target bench_stitch -j2 >/dev/null
bench=$build/bench_stitch
work=$(mktemp -d /tmp/geotiff-bench.XXXXXX)
trap 'rm -rf "$work"' EXIT

source "$root/bench/measure.sh"
row() { printf '%-16s %10s %10s %10s %12s\n' "$@"; }

tiles=$work/tiles
"$bench" tiles "$tiles" "$n" "$n"
px=$((n * 256))
# The VRT: every tile a source at its place.
{
    echo "<VRTDataset rasterXSize=\"$px\" rasterYSize=\"$px\">"
    for band in 1 2 3; do
        echo "<VRTRasterBand dataType=\"Byte\" band=\"$band\">"
        for ((i = 0; i < n * n; i++)); do
            printf '<SimpleSource><SourceFilename relativeToVRT="1">tiles/%06d.jpg</SourceFilename><SourceBand>%d</SourceBand><SrcRect xOff="0" yOff="0" xSize="256" ySize="256"/><DstRect xOff="%d" yOff="%d" xSize="256" ySize="256"/></SimpleSource>\n' \
                "$i" "$band" $((i % n * 256)) $((i / n * 256))
        done
        echo "</VRTRasterBand>"
    done
    echo "</VRTDataset>"
} >"$work/tiles.vrt"
# The tiles just written go to the disk first, so that no run waits behind them.
sync
sleep 3

echo "load average: $(cut -d' ' -f1-3 /proc/loadavg); ${n}x$n tiles, ${px}x$px px"
row tool wall_s cpu_s peak_MB bytes
read -r w c r < <(measure "$bench" stitch "$tiles" "$n" "$n" "$work/plain.tif" 80 0 100)
row "vistrel plain" "$w" "$c" "$r" "$(stat -c %s "$work/plain.tif")"
rm -f "$work/plain.tif"
read -r w c r < <(measure "$bench" stitch "$tiles" "$n" "$n" "$work/snapped.tif" 80 0 0)
row "vistrel snapped" "$w" "$c" "$r" "$(stat -c %s "$work/snapped.tif")"
rm -f "$work/snapped.tif"
read -r w c r < <(measure "$bench" stitch "$tiles" "$n" "$n" "$work/cached.tif" 80 0 -1)
row "vistrel cached" "$w" "$c" "$r" "$(stat -c %s "$work/cached.tif")"
rm -f "$work/cached.tif"
read -r w c r < <(measure gdal_translate -q -of COG -co COMPRESS=JPEG -co QUALITY=80 \
    "$work/tiles.vrt" "$work/gdal.tif")
row "gdal_translate" "$w" "$c" "$r" "$(stat -c %s "$work/gdal.tif")"
rm -f "$work/gdal.tif"
files=$(cd "$tiles" && ls | sort | tr '\n' ' ')
read -r w c r < <(measure env -C "$tiles" vips arrayjoin "$files" \
    "$work/vips.tif[tile,pyramid,compression=jpeg,Q=80]" --across "$n")
row "vips" "$w" "$c" "$r" "$(stat -c %s "$work/vips.tif")"
