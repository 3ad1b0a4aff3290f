#!/usr/bin/env bash
# Builds the release configuration, runs every benchmark with repetitions (modules, limits,
# peers, framework, limiter) and writes the results table and plot to docs/.
# BENCH_REPETITIONS (default 7) and BENCH_MIN_TIME (seconds per run, default 0.3) tune it.
# Repetitions of all benchmarks are interleaved in random order, so that a slow spell of the
# machine spreads over every figure instead of skewing one ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target module_bench
results=build/release/bench-results.json
build/release/bin/module_bench --benchmark_repetitions="${BENCH_REPETITIONS:-7}" \
  --benchmark_min_time="${BENCH_MIN_TIME:-0.3}" --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$results"
python3 bench/report.py "$results" docs/benchmarks.md
echo "wrote docs/benchmarks.md and docs/benchmarks.png"
