#!/usr/bin/env bash
# Installs what is missing, builds and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
# Line tables (-g1) are all a failing test's backtrace needs; full debug
# information makes the test build a third slower.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVISTREL_WERROR=ON \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG"
cmake --build build -j2
cd build
QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j2
