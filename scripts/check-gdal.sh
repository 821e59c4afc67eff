#!/usr/bin/env bash
# Checks the world files with GDAL: makes small JPEGs with their world files
# at zoom 3, 13 and 20, runs gdalinfo on each and compares its coordinate
# system (EPSG:3857) and corners with the corners the ".map" would hold.
# Installs gdal-bin when missing (this check only; ./test.sh does not need it).
#
#     scripts/check-gdal.sh [BUILD_DIR]     (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}

source "$root/scripts/check-common.sh"
install_check_packages gdal-bin
build_check_targets make_georeferenced_jpeg
make_jpeg=$build/make_georeferenced_jpeg

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
gdalinfo --version
failed=0

# zoom lat lon(east) width height
while read -r zoom lat lon width height; do
  image=$work/z$zoom.jpg
  expected=$("$make_jpeg" "$zoom" "$lat" "$lon" "$width" "$height" "$image")
  info=$(gdalinfo "$image")
  echo "== zoom $zoom, ${width}x$height at $lat, $lon"
  echo "$info" | grep -E '^(Files:|       /|Size is|Origin|Pixel Size|Upper Left|Lower Right)' || true
  if echo "$info" | grep -qE '^    ID\["EPSG",3857\]\]$'; then
    echo 'ok: coordinate system ID["EPSG",3857]'
  else
    echo "FAIL: gdalinfo does not report EPSG:3857"
    failed=1
  fi
  pixel=0
  while read -r name x y; do
    if [ "$name" = PixelSize ]; then pixel=$x; continue; fi
    label=$([ "$name" = UpperLeft ] && echo "Upper Left" || echo "Lower Right")
    read -r gx gy < <(echo "$info" | sed -n "s/^$label *( *\([-0-9.]*\), *\([-0-9.]*\)).*/\1 \2/p")
    # gdalinfo prints millimetres. The .map's top-left may lie up to one
    # pixel below the image's first row (its corner as given); the
    # bottom-right must agree.
    slack=$([ "$name" = UpperLeft ] && echo "$pixel" || echo 0)
    if awk -v a="$x" -v b="$gx" -v c="$y" -v d="$gy" -v s="$slack" \
        'BEGIN { dx = a - b; dy = d - c; e = 0.0015; exit !(dx < e && dx > -e && dy > -e && dy < s + e) }'; then
      echo "ok: $label ($gx, $gy), the .map corner ($x, $y)"
    else
      echo "FAIL: $label gdalinfo ($gx, $gy), the .map corner ($x, $y)"
      failed=1
    fi
  done <<<"$expected"
done <<'CASES'
3 60 30 512 512
13 55.7558 37.6173 1001 777
20 -33.8568 151.2153 600 400
CASES

# Which coordinate system file GDAL takes beside a JPEG: the .aux.xml (used),
# not a .prj (tried here to show it is ignored).
image=$work/z13.jpg
sed -n 's/.*<SRS[^>]*>\(.*\)<\/SRS>.*/\1/p' "$image.aux.xml" >"$work/z13.prj"
mv "$image.aux.xml" "$work/aux.saved"
if gdalinfo "$image" | grep -q 'EPSG",3857'; then
  echo "note: a .prj beside the JPEG is read too"
else
  echo "note: a .prj beside the JPEG is ignored by gdalinfo; the .aux.xml is what it reads"
fi

if [ "$failed" -ne 0 ]; then
  echo "check-gdal: FAILED"
  exit 1
fi
echo "check-gdal: passed"
