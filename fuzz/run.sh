#!/bin/sh
# Builds the libFuzzer targets with clang in a build folder and runs each for a bounded time.
# Usage: fuzz/run.sh [BUILD_DIR]   (env FUZZ_SECONDS: seconds per target, default 30)
# Exits non-zero on any crash, leak, sanitizer report or overrun.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-30}
jobs=${FUZZ_JOBS:-2}

cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSKOV_BUILD_FUZZ=ON -DSKOV_BUILD_GUI=OFF -DSKOV_BUILD_TESTS=OFF -DSKOV_WERROR=ON >/dev/null
ninja -C "$build" -j"$jobs" fuzz_cfb fuzz_workbook fuzz_make_seeds

# A fresh working corpus each run keeps the run's length independent of
# earlier runs; the seeds are the test workbooks plus a few generated files.
work="$build/fuzz-run"
rm -rf "$work"
mkdir -p "$work/seeds" "$work/artifacts"
for f in "$root"/tests/data/xls/*.xls "$root"/tests/data/xls/*.XLS "$root"/examples/*.XLS; do
  if [ -f "$f" ]; then cp "$f" "$work/seeds/"; fi
done
"$build/fuzz/fuzz_make_seeds" "$work/seeds"

status=0
for target in fuzz_cfb fuzz_workbook; do
  mkdir -p "$work/corpus_$target"
  echo "== $target: $seconds s"
  # libFuzzer stops itself after max_total_time; the outer timeout only
  # guards against a run that would not end (loading, a stuck exit).
  if ! timeout -k 10 $((seconds + 60)) "$build/fuzz/$target" \
      -max_total_time="$seconds" -max_len=262144 -rss_limit_mb=2048 -timeout=10 \
      -print_final_stats=1 -artifact_prefix="$work/artifacts/${target}-" \
      "$work/corpus_$target" "$work/seeds" >"$work/$target.log" 2>&1; then
    echo "!! $target failed; see $work/$target.log"
    tail -n 40 "$work/$target.log"
    status=1
  else
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "$work/$target.log" || true
  fi
done
exit $status
