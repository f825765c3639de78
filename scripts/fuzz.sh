#!/usr/bin/env bash
# Runs every libFuzzer target for a given number of minutes each (default 5), one after another,
# starting from its seed corpus in fuzz/corpus/<target>/. New inputs the fuzzer finds go to
# <build>/fuzz/corpus/<target>/, crashes to <build>/fuzz/artifacts/; the sources stay untouched.
#   bash scripts/fuzz.sh [minutes] [target...]
# Environment: TOKVANE_FUZZ_DIR (build folder, default build-fuzz), TOKVANE_JOBS (default 2).
set -euo pipefail
cd "$(dirname "$0")/.."

MINUTES=${1:-5}
shift || true
if ! [[ "$MINUTES" =~ ^[0-9]+$ ]] || [ "$MINUTES" -lt 1 ]; then
  echo "usage: bash scripts/fuzz.sh [minutes >= 1] [target...]" >&2
  exit 2
fi
JOBS=${TOKVANE_JOBS:-2}
FUZZ_DIR=${TOKVANE_FUZZ_DIR:-build-fuzz}

CC=clang CXX=clang++ cmake -S . -B "$FUZZ_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTOKVANE_BUILD_FUZZ=ON -DTOKVANE_BUILD_GUI=OFF -DTOKVANE_BUILD_TESTS=OFF -DTOKVANE_BUILD_BENCH=OFF >/dev/null
cmake --build "$FUZZ_DIR" -j"$JOBS"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for corpus in fuzz/corpus/*/; do
    name=$(basename "$corpus")
    [ -x "$FUZZ_DIR/fuzz/$name" ] && targets+=("$name")
  done
fi

failed=()
for name in "${targets[@]}"; do
  binary="$FUZZ_DIR/fuzz/$name"
  if [ ! -x "$binary" ]; then
    echo "== $name: no such fuzz target" >&2
    failed+=("$name")
    continue
  fi
  work="$FUZZ_DIR/fuzz/corpus/$name"
  artifacts="$FUZZ_DIR/fuzz/artifacts"
  mkdir -p "$work" "$artifacts"
  echo "== $name: $MINUTES minute(s)"
  if ! "$binary" -max_total_time=$((MINUTES * 60)) -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$artifacts/$name-" "$work" "fuzz/corpus/$name"; then
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz targets that failed: ${failed[*]} (inputs in $FUZZ_DIR/fuzz/artifacts/)" >&2
  exit 1
fi
echo "every fuzz target ran $MINUTES minute(s) without a finding"
