#!/usr/bin/env bash
# Builds the release configuration, runs the module benchmarks with repetitions and writes
# the results table to docs/benchmarks.md.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target module_bench
results=build/release/bench-results.json
build/release/bin/module_bench --benchmark_repetitions="${BENCH_REPETITIONS:-5}" \
  --benchmark_report_aggregates_only=true --benchmark_format=json >"$results"
python3 bench/report.py "$results" docs/benchmarks.md
echo "wrote docs/benchmarks.md"
