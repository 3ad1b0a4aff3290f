#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping those already present.
set -euo pipefail

packages=(cmake ninja-build pkg-config g++ clang libclang-rt-dev lld libgtest-dev libgmock-dev libbenchmark-dev
          libsndfile1-dev libebur128-dev libcli11-dev libtomlplusplus-dev nlohmann-json3-dev gnuplot-nox faust
          help2man  # writes ovm's manual page from its --help at build time
          groff-base  # the manual page's test renders it
          libsoxr-dev  # ovm run resamples to a patch's fixed rate
          sox  # the tests read ovm's output with an independent reader
          dpkg-dev file  # these two: `cpack -G DEB` finds the package's dependencies with them
          lv2-dev lilv-utils jalv  # the LV2 plug-ins' SDK and the hosts their tests use
          jackd2 libjack-jackd2-dev  # ovm live's JACK client, and the private dummy server of the tests
          g++-mingw-w64-x86-64 wine wine64 googletest)  # the Windows DLL's cross build and its tests under Wine

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
