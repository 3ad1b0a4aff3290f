#!/usr/bin/env bash
# Installs what is missing, builds the release configuration and runs `ovm demo`: the
# bundled look-ahead limiter on a synthesised programme, written to build/demo.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
build/release/bin/ovm demo build/demo --overwrite
