#!/usr/bin/env bash
# Checks the installed program: installs with DESTDIR into a temporary root,
# runs the installed viewer (offscreen, ended by SIGTERM) as a user who cannot
# write there, and finds the settings, the lists and the cache in that user's
# data folder; then builds the Debian package with cpack, installs it with
# dpkg and removes it again.
#
#     scripts/check-install.sh [BUILD_DIR] [--no-deb]     (default: build)
#
# Needs root for the other user and for dpkg; without root only the DESTDIR
# part runs, as the current user, with the installed tree made read-only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
deb=1
for arg in "$@"; do
  case $arg in
    --no-deb) deb=0 ;;
    *) build=$arg ;;
  esac
done

targets=(vistrel vistrel-tileserver)
if grep -q 'vistrel-cli' "$build/Makefile" 2>/dev/null; then targets+=(vistrel-cli); fi
cmake --build "$build" --target "${targets[@]}" -j2 >/dev/null

work=$(mktemp -d)
server_pid=""
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  chmod -R u+w "$work" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
failed=0
ok() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failed=1; }

# --- DESTDIR install -------------------------------------------------------
dest=$work/root
DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null
echo "installed:"
(cd "$dest" && find . -type f | sort | sed 's/^\./  /')
chmod -R a-w "$dest/usr"
before=$(cd "$dest" && find . | sort)

# The user: nobody when we are root, else ourselves.
home=$work/home
xdg=$work/xdg
mkdir -p "$home" "$xdg"
if [ "$(id -u)" -eq 0 ]; then
  chown 65534:65534 "$home" "$xdg"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  as_user=()
fi
run_env=(env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen)

# The installed tile server on a free port, for the viewer's tiles.
"$dest/usr/bin/vistrel-tileserver" --port 0 >"$work/server.out" &
server_pid=$!
for _ in $(seq 50); do grep -q '^port ' "$work/server.out" && break; sleep 0.1; done
port=$(sed -n 's/^port //p' "$work/server.out")
[ -n "$port" ] || { echo "the tile server did not start"; exit 1; }

# Runs the installed viewer for a few seconds, then ends it as a logout would.
run_viewer() {
  local trace=("$@")
  "${trace[@]}" "${as_user[@]}" "${run_env[@]}" "${extra_env[@]}" "$dest/usr/bin/vistrel" \
    >"$work/viewer.out" 2>&1 &
  local pid=$!
  sleep 4
  # Under strace the viewer is strace's child (setpriv and env exec it).
  local viewer=$pid
  if [ ${#trace[@]} -gt 0 ]; then viewer=$(pgrep -P "$pid" | head -1); fi
  kill -TERM "$viewer" 2>/dev/null || true
  for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$viewer" "$pid" 2>/dev/null || true
    fail "the viewer did not end on SIGTERM"
  fi
  wait "$pid" 2>/dev/null || true
}

# First start, data folder from XDG_DATA_HOME.
extra_env=(XDG_DATA_HOME="$xdg")
run_viewer
data=$xdg/Vistrel
for f in Vistrel2.ini ReadMe.txt; do
  if [ -f "$data/$f" ]; then ok "$f in $data"; else fail "no $f in $data"; cat "$work/viewer.out"; fi
done
[ -d "$data/Cache" ] && ok "Cache/ in $data" || fail "no Cache/ in $data"
if iconv -f UTF-8 -t UTF-8 "$data/ReadMe.txt" >/dev/null 2>&1 && grep -q "Руководство" "$data/ReadMe.txt"; then
  ok "ReadMe.txt reads as UTF-8"
else
  fail "ReadMe.txt in $data is not UTF-8 text"
fi
lines=$(wc -l <"$data/Vistrel2.ini" || echo 0)
[ "$lines" -eq 65 ] && ok "Vistrel2.ini has 65 lines" || fail "Vistrel2.ini has $lines lines"

# Second start: the source string at our tile server, lists in place; the
# view's tiles must land in the data folder's cache, the lists be read there.
printf 'http://127.0.0.1:%s/kh?v=9&n=404&t=t\r\n' "$port" >"$work/ini"
tail -n +2 "$data/Vistrel2.ini" >>"$work/ini"
"${as_user[@]}" cp "$work/ini" "$data/Vistrel2.ini"
"${as_user[@]}" touch "$data/CacheList.dat" "$data/Favorites.dat"
trace=()
if strace -f -qq -e trace=none true 2>/dev/null; then
  trace=(strace -f -qq -e trace=openat -o "$work/trace")
fi
run_viewer "${trace[@]}"
tiles=$(find "$data/Cache" -name '*.jpg' | wc -l)
[ "$tiles" -gt 0 ] && ok "$tiles tiles in $data/Cache" || fail "no tiles in $data/Cache"
if [ ${#trace[@]} -gt 0 ]; then
  for f in CacheList.dat Favorites.dat Vistrel2.ini; do
    if grep -q "\"$data/$f\"" "$work/trace"; then ok "$f read from $data"; else fail "$f not read from $data"; fi
  done
else
  echo "note: strace not usable here; the reading of the lists is not traced"
fi

# vistrel-cli, when it is built: the same folder from $HOME.
if [ -x "$dest/usr/bin/vistrel-cli" ]; then
  extra_env=()
  "${as_user[@]}" "${run_env[@]}" "$dest/usr/bin/vistrel-cli" download --zoom 2 \
    --from 80,-170 --to -80,170 --mode cache >"$work/cli.out" 2>&1 || true
  cli_data=$home/.local/share/Vistrel
  [ -d "$cli_data" ] && ok "vistrel-cli uses $cli_data" || fail "vistrel-cli made no $cli_data"
fi

after=$(cd "$dest" && find . | sort)
[ "$before" = "$after" ] && ok "nothing written into the installed tree" ||
  fail "the installed tree changed: $(diff <(echo "$before") <(echo "$after") | head -5)"
kill "$server_pid" 2>/dev/null || true
wait "$server_pid" 2>/dev/null || true
server_pid=""

# --- Debian package --------------------------------------------------------
if [ "$deb" -eq 1 ] && [ "$(id -u)" -eq 0 ]; then
  (cd "$build" && cpack -G DEB -B "$work/deb" >/dev/null)
  package=$(ls "$work"/deb/vistrel_*.deb)
  echo "package: $(basename "$package")"
  dpkg-deb --info "$package" | sed -n 's/^ \(Package\|Version\|Depends\|Installed-Size\):/  &/p'
  if dpkg-query -W -f='${Status}' vistrel 2>/dev/null | grep -q "installed" || [ -e /usr/bin/vistrel ]; then
    echo "a vistrel is installed on this machine already; not touching it"
  else
    if dpkg -i "$package" >/dev/null; then
      ok "dpkg -i"
      [ -x /usr/bin/vistrel ] && [ -f /usr/share/vistrel/ReadMe.txt ] &&
        [ -f /usr/share/applications/vistrel.desktop ] && ok "files in /usr" || fail "files missing in /usr"
      # The installed viewer from /usr/bin, as nobody, into its data folder.
      dest_usr_home=$work/debhome
      mkdir -p "$dest_usr_home" && chown 65534:65534 "$dest_usr_home"
      setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin \
        HOME="$dest_usr_home" QT_QPA_PLATFORM=offscreen /usr/bin/vistrel >/dev/null 2>&1 &
      pid=$!
      sleep 3
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      [ -f "$dest_usr_home/.local/share/Vistrel/Vistrel2.ini" ] &&
        ok "/usr/bin/vistrel keeps its settings in ~/.local/share/Vistrel" ||
        fail "/usr/bin/vistrel wrote no settings into ~/.local/share/Vistrel"
      dpkg -r vistrel >/dev/null && ok "dpkg -r" || fail "dpkg -r"
      [ ! -e /usr/bin/vistrel ] && ok "removed" || fail "/usr/bin/vistrel left behind"
    else
      fail "dpkg -i"
      dpkg -r vistrel >/dev/null 2>&1 || true
    fi
  fi
fi

if [ "$failed" -ne 0 ]; then
  echo "check-install: FAILED"
  exit 1
fi
echo "check-install: passed"
