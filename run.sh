#!/usr/bin/env bash
# Installs what is missing, builds (the viewer, vistrel-cli and the tile
# server), starts the local tile server and the viewer.
# Without a display the viewer runs on a virtual X server; a screenshot is left
# in build/screenshot.png and the viewer is closed normally.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)
./scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2 --target vistrel vistrel-cli vistrel-tileserver

SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; fi
}
trap cleanup EXIT

if ! (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null; then
  "$ROOT/build/vistrel-tileserver" --port 8642 >"$ROOT/build/tileserver.log" 2>&1 &
  SERVER_PID=$!
  for _ in $(seq 50); do
    (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null && break
    sleep 0.1
  done
  echo "Local tile server: http://127.0.0.1:8642 (log: build/tileserver.log)"
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  "$ROOT/build/vistrel"
  exit 0
fi

echo "No display: running the viewer on a virtual X server."
xvfb-run -a -s "-screen 0 1280x1024x24" bash "$ROOT/scripts/screenshot.sh" "$ROOT/build"
echo "Screenshot: $ROOT/build/screenshot.png"
