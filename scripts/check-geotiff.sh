#!/usr/bin/env bash
# Checks stitched GeoTIFFs with GDAL: stitches a region from the local tile
# server with vistrel-cli, once as it is and twice widened to whole tiles
# (whose tiles, and the cached upper layers, go in as they are: some layers,
# then all), then runs gdalinfo and GDAL's cloud-optimized GeoTIFF validator
# on each.
# Installs gdal-bin and python3-gdal when missing (this check only;
# ./test.sh does not need them).
#
#     scripts/check-geotiff.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

source "$root/scripts/check-common.sh"
install_check_packages gdal-bin python3-gdal
validator=$(dpkg -L python3-gdal | grep '/validate_cloud_optimized_geotiff\.py$' | tail -n1)
build_check_targets vistrel-cli vistrel-tileserver
check_work_and_server

gdalinfo --version
failed=0
mkdir -p "$work/prog"
# 16 x 16 tiles at zoom 12 whose corner lies on the grid of zoom 8, so the
# snapped stitch finds every overview among the cached upper layers.
corners=(--from 55.77,33.76 --to 54.99,35.10 --mode both --connections 8 --folder "$work/prog")
region=(--zoom 12 "${corners[@]}")
# "partial" finds only zooms 11 and 9 in the cache (a download keeps the
# parent tiles it meets: those of zooms 10 and 8 are removed): those
# overviews go in as they are, the others are built from the level below,
# tile by tile.
for name in plain partial snapped; do
  extra=()
  layers=()
  case $name in
    partial) extra=(--snap-to-tiles); layers=(11 9) ;;
    snapped) extra=(--snap-to-tiles); layers=(11 10 9 8) ;;
  esac
  # The upper layers in the cache: the snapped file's overviews.
  for zoom in "${layers[@]}"; do
    "$build/vistrel-cli" download --zoom "$zoom" "${corners[@]}" >/dev/null 2>&1
  done
  if [ "$name" = partial ]; then
    # A tile's name is its key letters: as many as its zoom.
    find "$work/prog" -regextype posix-extended \
      -regex '.*/[qrst]{10}\.jpg|.*/[qrst]{8}\.jpg' -delete
  fi
  out=$work/$name.tif
  echo "== $name"
  "$build/vistrel-cli" stitch "${region[@]}" "${extra[@]}" --out "$out" 2>&1 |
    grep -E 'Размеры|перекодирования|файл сохранен|ошибка|vistrel-cli' | sed 's/^/  /'
  gdalinfo "$out" | grep -E '^(Size is|Origin|Pixel Size)|COMPRESSION|Overviews' | sort -u | sed 's/^/  /'
  if gdalinfo "$out" | grep -qE 'ID\["EPSG",3857\]\]$'; then
    echo "  ok: EPSG:3857"
  else
    echo "  FAIL: gdalinfo does not report EPSG:3857"; failed=1
  fi
  # Debian's python, where python3-gdal lives.
  /usr/bin/python3 "$validator" --full-check=yes "$out" | sed 's/^/  /'
  /usr/bin/python3 "$validator" -q --full-check=yes "$out" || failed=1
done
gdal_translate -q -of PNG -outsize 25% 25% "$work/snapped.tif" "$work/snapped.png"
echo "rendered: $(stat -c %s "$work/snapped.png") bytes of PNG from the snapped GeoTIFF"

if [ "$failed" -ne 0 ]; then
  echo "check-geotiff: FAILED"
  exit 1
fi
echo "check-geotiff: passed"
