#!/usr/bin/env bash
# Checks an exported MBTiles file with GDAL's MBTiles driver: downloads a
# small region over zooms 11..13 from the local tile server, exports it with
# vistrel-cli, and has gdalinfo read the file. GDAL must open it as MBTiles,
# report the bounds written in the metadata and a georeferenced extent in
# EPSG:3857 that covers them. Installs gdal-bin when missing (this check
# only; ./test.sh does not need it).
#
#     scripts/check-mbtiles.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

source "$root/scripts/check-common.sh"
install_check_packages gdal-bin
build_check_targets vistrel-cli vistrel-tileserver
check_work_and_server

region=(--from 55.80,37.50 --to 55.70,37.70)
mkdir -p "$work/program"
"$build/vistrel-cli" download --zoom 11-13 "${region[@]}" --folder "$work/program" | tail -1
"$build/vistrel-cli" export --zoom 11-13 "${region[@]}" --folder "$work/program" \
  --mbtiles "$work/region.mbtiles" --name "Check region" | tail -1

gdalinfo --version
info=$(gdalinfo "$work/region.mbtiles")
echo "$info" | grep -E '^(Driver|Size is|Upper Left|Lower Right|  (name|bounds|format|minzoom|maxzoom|type|center)=)' || true
failed=0
if echo "$info" | grep -q '^Driver: MBTiles/MBTiles'; then
  echo "ok: GDAL reads it as MBTiles"
else
  echo "FAIL: GDAL does not read it as MBTiles"; failed=1
fi
if echo "$info" | grep -q '^  bounds=37.500000,55.700000,37.700000,55.800000$'; then
  echo "ok: bounds 37.5,55.7,37.7,55.8 (W,S,E,N)"
else
  echo "FAIL: the bounds are not the region's"; failed=1
fi
# The raster's extent (EPSG:3857 metres), which GDAL takes from the bounds,
# is the region's to a pixel of zoom 13.
read -r ulx uly < <(echo "$info" | sed -n 's/^Upper Left *( *\([-0-9.]*\), *\([-0-9.]*\)).*/\1 \2/p')
read -r lrx lry < <(echo "$info" | sed -n 's/^Lower Right *( *\([-0-9.]*\), *\([-0-9.]*\)).*/\1 \2/p')
if awk -v a="$ulx" -v b="$uly" -v c="$lrx" -v d="$lry" 'BEGIN {
    r = 6378137; pi = atan2(0, -1)
    w = 37.5 * pi / 180 * r; e = 37.7 * pi / 180 * r
    n = r * log(sin(pi / 4 + 55.8 * pi / 360) / cos(pi / 4 + 55.8 * pi / 360))
    s = r * log(sin(pi / 4 + 55.7 * pi / 360) / cos(pi / 4 + 55.7 * pi / 360))
    px = 2 * pi * r / (256 * 8192)
    exit !((a - w)^2 < px^2 && (c - e)^2 < px^2 && (b - n)^2 < px^2 && (d - s)^2 < px^2) }'; then
  echo "ok: extent ($ulx, $uly) - ($lrx, $lry) is the region's to a pixel"
else
  echo "FAIL: extent ($ulx, $uly) - ($lrx, $lry) is not the region's"; failed=1
fi
exit $failed
