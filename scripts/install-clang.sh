#!/usr/bin/env bash
# Installs clang (Debian package) when it is missing. Only the Clang build
# check and the fuzzers need it; ./test.sh never does.
set -euo pipefail
if command -v clang++ >/dev/null; then exit 0; fi
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends clang
