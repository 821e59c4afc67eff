#!/usr/bin/env bash
# Runs inside a virtual X server: starts the viewer, waits for its main window,
# lets the tiles arrive, takes a screenshot and closes the viewer normally.
set -euo pipefail
BUILD=$1
"$BUILD/vistrel" >"$BUILD/vistrel.log" 2>&1 &
PID=$!
up=""
for _ in $(seq 100); do
  if xwininfo -root -tree 2>/dev/null | grep -q '"Vistrel"'; then up=1; break; fi
  if ! kill -0 "$PID" 2>/dev/null; then break; fi
  sleep 0.1
done
if [ -z "$up" ]; then
  echo "The viewer did not show its window; see $BUILD/vistrel.log" >&2
  kill "$PID" 2>/dev/null || true
  exit 1
fi
sleep "${VISTREL_SHOT_DELAY:-4}"
import -window root "$BUILD/screenshot.png"
# SIGTERM closes the main window the ordinary way: settings are saved.
kill -TERM "$PID"
for _ in $(seq 100); do
  kill -0 "$PID" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$PID" 2>/dev/null; then kill -KILL "$PID"; fi
wait "$PID" 2>/dev/null || true
