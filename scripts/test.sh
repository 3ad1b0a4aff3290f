#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test: a release build with g++, the
# same suite under AddressSanitizer and UndefinedBehaviorSanitizer, a clang++ build, and the
# Windows DLL cross-built with mingw-w64, with its tests under Wine (in a Wine prefix of the
# build's own, made by the first test). Warnings are errors in all four. Then each fuzz
# target runs for 45 s.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc)
for preset in ci-release ci-sanitize ci-clang ci-windows; do
  echo "== $preset =="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done
scripts/fuzz.sh 45
echo "All tests passed."
