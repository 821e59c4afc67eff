#!/usr/bin/env bash
# Installs the Debian packages the build, the tests, run.sh and the Debian
# package (file and dpkg-dev, for cpack) need; runs apt-get update only when
# something is missing.
set -euo pipefail
PACKAGES=(
  g++ make cmake pkg-config
  qt6-base-dev fonts-dejavu-core
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libturbojpeg0-dev
  libzip-dev libtiff-dev libgeotiff-dev libsqlite3-dev libcurl4-openssl-dev libssl-dev ca-certificates
  xvfb xauth imagemagick x11-utils xdotool
  file dpkg-dev
)
missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
