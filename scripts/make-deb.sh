#!/usr/bin/env bash
# Makes the Debian package: installs what building and packaging need (as
# root or through sudo), builds the three programs in a build folder of its
# own and runs cpack there. cpack refuses to make a package when the tools
# that find its library dependencies are missing, and removes one whose
# Depends lack them.
#
#     scripts/make-deb.sh [BUILD_DIR]        (default: build-deb)
#
# The package is left in BUILD_DIR as vistrel_<version>_<arch>.deb; install it
# with `sudo apt-get install ./vistrel_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-deb}
./scripts/install-deps.sh
# The package holds the three programs: cpack need not build the tests.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j2 --target vistrel vistrel-cli vistrel-tileserver
(cd "$build" && cpack -G DEB)
ls "$build"/vistrel_*.deb
