#!/usr/bin/env bash
# Compiles the whole tree with GCC and with Clang in every build type, the way
# a packager would (warnings are not errors) or, with --werror, the way CI
# does. Installs clang when it is missing; ./test.sh never needs it.
#
#   scripts/check-builds.sh                      # gcc and clang, all four types
#   scripts/check-builds.sh --werror gcc:Release clang:RelWithDebInfo
#
# A type "default" configures without CMAKE_BUILD_TYPE. Build folders are
# build-check-<compiler>-<type>/ beside the sources; -j2 unless JOBS is set.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
JOBS=${JOBS:-2}
WERROR=OFF
combos=()
for arg in "$@"; do
  case "$arg" in
    --werror) WERROR=ON ;;
    *) combos+=("$arg") ;;
  esac
done
if ((${#combos[@]} == 0)); then
  for c in gcc clang; do
    for t in Debug Release RelWithDebInfo default; do combos+=("$c:$t"); done
  done
fi

./scripts/install-deps.sh
if printf '%s\n' "${combos[@]}" | grep -q '^clang:'; then ./scripts/install-clang.sh; fi

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

failed=()
for combo in "${combos[@]}"; do
  compiler=${combo%%:*}
  type=${combo#*:}
  case "$compiler" in
    gcc) cxx=g++ ;;
    clang) cxx=clang++ ;;
    *) echo "unknown compiler: $compiler" >&2; exit 2 ;;
  esac
  dir="$ROOT/build-check-$compiler-$type"
  typeArg=()
  if [ "$type" != default ]; then typeArg=(-DCMAKE_BUILD_TYPE="$type"); fi
  echo "== $compiler $type (warnings as errors: $WERROR)"
  if cmake -S "$ROOT" -B "$dir" -DCMAKE_CXX_COMPILER="$cxx" "${typeArg[@]}" \
       -DVISTREL_WERROR="$WERROR" "${launcher[@]}" >/dev/null &&
     cmake --build "$dir" -j"$JOBS"; then
    echo "== $compiler $type: ok"
  else
    echo "== $compiler $type: FAILED"
    failed+=("$combo")
  fi
done
if ((${#failed[@]})); then
  echo "Failed: ${failed[*]}"
  exit 1
fi
echo "All builds compiled: ${combos[*]}"
