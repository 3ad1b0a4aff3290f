#!/usr/bin/env bash
# Installs what is missing, builds the release configuration, loads Dynamics.ovm the way a
# host does and prints what its factory reports.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
build/release/examples/factory_report build/release/Dynamics.ovm
