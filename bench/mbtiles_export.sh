#!/usr/bin/env bash
# Exports 64 x 64 planet tiles at zoom 14 and their upper layers 13..8
# (5,461 tiles) from a warm cache into MBTiles, and in the same run measures
# the limit, a bare loop inserting the same files in one transaction through
# SQLite's C API, and a peer that re-encodes: gdal_translate -of MBTILES of a
# VRT of the zoom-14 tiles in EPSG:3857. Prints wall time, CPU time and peak
# RSS of each whole process (/usr/bin/time -v) and the tiles per second.
#
#   bench/mbtiles_export.sh [build folder]      (default: build)
# Needs gdal-bin (installed here if missing; not a dependency of the program)
# and the local tile server on 127.0.0.1:8642 (started here if none answers).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
[[ $build = /* ]] || build=$root/$build

source "$root/bench/measure.sh"
need gdal_translate gdal-bin
need /usr/bin/time time
cmake --build "$build" --target vistrel-cli vistrel-tileserver bench_mbtiles_bare -j2 >/dev/null

work=$(mktemp -d /tmp/mbtiles-bench.XXXXXX)
server=""
cleanup() {
    if [[ -n $server ]]; then kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
    rm -rf "$work"
}
trap cleanup EXIT
if ! (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null; then
    "$build/vistrel-tileserver" --port 8642 >"$work/server.log" 2>&1 &
    server=$!
    for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null && break; sleep 0.1; done
fi

# Tiles 9856..9919 x 5120..5183 at zoom 14 (columns and rows multiples of
# 64, so the upper layers are whole); the corners a hair inside the square.
z=14 c0=9856 r0=5120 n=64 levels=7
read -r from to < <(python3 - "$z" "$c0" "$r0" "$n" <<'PY'
import math, sys
z, c, r, n = map(int, sys.argv[1:])
def corner(c, r):
    size = 2 ** z
    lon = c / size * 360 - 180
    lat = math.degrees(math.atan(math.sinh(math.pi * (1 - 2 * r / size))))
    return lat, lon
e = 1e-6
a = corner(c, r); b = corner(c + n, r + n)
print(f"{a[0]-e:.7f},{a[1]+e:.7f} {b[0]+e:.7f},{b[1]-e:.7f}")
PY
)
program=$work/program
mkdir -p "$program"
"$build/vistrel-cli" download --zoom $((z - levels + 1))-$z --from "$from" --to "$to" \
    --connections 8 --folder "$program" | tail -1
cache=$program/Cache
# Rendered tiles weigh less than imagery: each is grown to about 18 KB by a
# comment segment after its start marker (the picture stays as it is).
python3 - "$cache" <<'PY'
import os, sys
for name in os.listdir(sys.argv[1]):
    path = os.path.join(sys.argv[1], name)
    data = open(path, "rb").read()
    grow = 18000 - len(data) - 4
    if grow > 0 and data[:2] == b"\xff\xd8":
        segment = b"\xff\xfe" + (grow + 2).to_bytes(2, "big") + b"\0" * grow
        open(path, "wb").write(data[:2] + segment + data[2:])
PY
count=$(ls "$cache" | wc -l)
bytes=$(du -sb "$cache" | cut -f1)
echo "cache: $count tiles, $((bytes / count)) bytes each on average"
cat "$cache"/* >/dev/null  # warm

python3 - "$cache" "$work/z$z.vrt" "$z" "$c0" "$r0" "$n" <<'PY'
import math, sys
cache, out, z, c0, r0, n = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
def letters(z, c, r):
    return "".join("qrts"[((c >> (z - 1 - i)) & 1) | (((r >> (z - 1 - i)) & 1) << 1)] for i in range(z))
R = 6378137; world = 2 * math.pi * R; res = world / (256 * 2 ** z)
ulx = -world / 2 + c0 * 256 * res; uly = world / 2 - r0 * 256 * res
with open(out, "w") as f:
    f.write(f'<VRTDataset rasterXSize="{n*256}" rasterYSize="{n*256}">\n<SRS>EPSG:3857</SRS>\n')
    f.write(f"<GeoTransform>{ulx!r}, {res!r}, 0, {uly!r}, 0, {-res!r}</GeoTransform>\n")
    for band, name in ((1, "Red"), (2, "Green"), (3, "Blue")):
        f.write(f'<VRTRasterBand dataType="Byte" band="{band}"><ColorInterp>{name}</ColorInterp>\n')
        for i in range(n):
            for j in range(n):
                path = f"{cache}/{letters(z, c0 + i, r0 + j)}.jpg"
                f.write(f'<SimpleSource><SourceFilename relativeToVRT="0">{path}</SourceFilename>'
                        f'<SourceBand>{band}</SourceBand><SrcRect xOff="0" yOff="0" xSize="256" ySize="256"/>'
                        f'<DstRect xOff="{i*256}" yOff="{j*256}" xSize="256" ySize="256"/></SimpleSource>\n')
        f.write("</VRTRasterBand>\n")
    f.write("</VRTDataset>\n")
PY

row() { printf '%-16s %7s %8s %7s %8s %10s\n' "$@"; }
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
row tool tiles wall_s cpu_s peak_MB tiles/s
sync
read -r w c r < <(measure "$build/vistrel-cli" export --zoom $((z - levels + 1))-$z --from "$from" \
    --to "$to" --folder "$program" --mbtiles "$work/ours.mbtiles")
row vistrel-cli "$count" "$w" "$c" "$r" "$(awk -v n="$count" -v w="$w" 'BEGIN { printf "%.0f", n / w }')"
sync
read -r w c r < <(measure "$build/bench_mbtiles_bare" "$cache" "$work/bare.mbtiles" $z $c0 $r0 $n $levels)
row bare-loop "$count" "$w" "$c" "$r" "$(awk -v n="$count" -v w="$w" 'BEGIN { printf "%.0f", n / w }')"
sync
read -r w c r < <(measure gdal_translate -q -of MBTILES -co TILE_FORMAT=JPEG -co QUALITY=85 \
    "$work/z$z.vrt" "$work/gdal.mbtiles")
tiles=$((n * n))
row gdal_translate "$tiles" "$w" "$c" "$r" "$(awk -v n="$tiles" -v w="$w" 'BEGIN { printf "%.0f", n / w }')"
ls -l "$work"/*.mbtiles | awk '{ printf "  %s %d bytes\n", $NF, $5 }'
echo "(gdal_translate makes zoom $z only: $tiles tiles, re-encoded)"
