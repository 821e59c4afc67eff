# Sourced by the GDAL check scripts. Expects $root and $build.

# Installs the Debian packages named, for the check only, unless every
# one of them is already installed.
install_check_packages() {
  local p missing=()
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  ((${#missing[@]})) || return 0
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures $build when it does not exist yet and builds the targets named.
build_check_targets() {
  if [ ! -d "$build" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target "$@" -j2 >/dev/null
}

# Makes $work, a scratch folder, and starts the local tile server on the
# default source's port 8642 unless one answers there; both go at exit.
check_work_and_server() {
  work=$(mktemp -d)
  check_server=""
  trap 'if [ -n "$check_server" ]; then kill "$check_server" 2>/dev/null || true; wait "$check_server" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
  if ! (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null; then
    "$build/vistrel-tileserver" --port 8642 >"$work/server.log" 2>&1 &
    check_server=$!
    for _ in $(seq 50); do
      (exec 3<>/dev/tcp/127.0.0.1/8642) 2>/dev/null && break
      sleep 0.1
    done
  fi
}
