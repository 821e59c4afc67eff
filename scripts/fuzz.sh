#!/usr/bin/env bash
# Runs every libFuzzer program for N seconds (default 60) under
# AddressSanitizer and UndefinedBehaviorSanitizer, starting from its seeds in
# fuzz/corpus/<target>/. Needs clang, which it installs when missing.
#
#   scripts/fuzz.sh [seconds] [target ...]      # targets: see fuzz/CMakeLists.txt
#
# New inputs go to build-fuzz/corpus/<target>/ (the seeds in the repository
# stay small); a crash leaves its input in build-fuzz/crashes/<target>/. Copy
# such an input to fuzz/crashes/<target>/ with the fix, so that the ordinary
# test suite (test_fuzz) runs it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
SECONDS_EACH=${1:-60}
shift || true
TARGETS=("$@")
if ((${#TARGETS[@]} == 0)); then
  TARGETS=(settings_file archive_list favorites coordinate_text codec_numbers jpeg_tile zip_lookup http_answer)
fi
BUILD="$ROOT/build-fuzz"

./scripts/install-deps.sh
./scripts/install-clang.sh
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DVISTREL_FUZZ=ON -DVISTREL_SANITIZE="address;undefined" "${launcher[@]}" >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}" --target "${TARGETS[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
failed=()
for t in "${TARGETS[@]}"; do
  mkdir -p "$BUILD/corpus/$t" "$BUILD/crashes/$t"
  echo "== $t: $SECONDS_EACH s"
  if "$BUILD/fuzz_$t" -max_total_time="$SECONDS_EACH" -max_len=65536 -timeout=10 \
       -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$BUILD/crashes/$t/" \
       "$BUILD/corpus/$t" "$ROOT/fuzz/corpus/$t" 2>"$BUILD/fuzz_$t.log"; then
    grep -E "stat::number_of_executed_units|stat::new_units_added" "$BUILD/fuzz_$t.log" | tr '\n' ' '
    echo
  else
    echo "== $t: FAILED, see $BUILD/fuzz_$t.log and $BUILD/crashes/$t/"
    failed+=("$t")
  fi
done
if ((${#failed[@]})); then
  echo "Crashed: ${failed[*]}"
  exit 1
fi
echo "No crash in: ${TARGETS[*]}"
