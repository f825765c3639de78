#!/usr/bin/env bash
# Builds the benchmarks (optimised, with the GUI) and prints one table of the same-run ratios
# every benchmark reports: ours against the raw call or the baseline program underneath, each the
# median of five repetitions (the machine may be busy with other work).
#   bash scripts/bench.sh
# Environment: TOKVANE_BENCH_DIR (build folder, default build-bench; an existing build folder keeps
# its own settings, so the normal build can be reused), TOKVANE_JOBS (default 2).
# The PC/SC benchmarks need pcscd with the vpcd driver (started here when none runs); do not run
# them while integration tests use the vpcd port.
set -euo pipefail
cd "$(dirname "$0")/.."

JOBS=${TOKVANE_JOBS:-2}
BENCH_DIR=${TOKVANE_BENCH_DIR:-build-bench}

fresh=()
if [ ! -f "$BENCH_DIR/CMakeCache.txt" ]; then
  fresh=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DTOKVANE_BUILD_TESTS=OFF)
fi
cmake -S . -B "$BENCH_DIR" "${fresh[@]}" -DTOKVANE_BUILD_BENCH=ON -DTOKVANE_BUILD_GUI=ON >/dev/null
cmake --build "$BENCH_DIR" -j"$JOBS"

programs=(PcscExchangeBench StartupBench RefreshReaderListBench AppendLogBench HexConversionBench KeyStallBench)
log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
for program in "${programs[@]}"; do
  binary="$BENCH_DIR/bench/$program"
  if [ ! -x "$binary" ]; then
    echo "$program: not built" | tee -a "$log"
    status=1
    continue
  fi
  echo "== $program"
  # Each program prints Google Benchmark's table, then its ratio lines after a header.
  if ! "$binary" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>&1 | tee -a /dev/stderr | awk '/^ratio \(ours/ {on=1; next} on && NF' >>"$log"; then
    status=1
  fi
done

echo
printf '%-58s %10s %8s\n' "ratio (ours / raw, same run)" "ratio" "goal"
cat "$log"
exit $status
