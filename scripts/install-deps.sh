#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping those already present.
set -euo pipefail

packages=(cmake ninja-build pkg-config g++ clang libclang-rt-dev lld libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libebur128-dev libcli11-dev libtomlplusplus-dev nlohmann-json3-dev gnuplot-nox faust
          g++-mingw-w64-x86-64 wine wine64 googletest  # the Windows DLL's cross build and its tests under Wine
          dpkg-dev file)  # the last two: `cpack -G DEB` finds the package's dependencies with them

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
