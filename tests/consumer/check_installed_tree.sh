#!/usr/bin/env bash
# Installs a build into a fresh prefix and uses it as someone else would: builds the host
# in this folder once with find_package(Dynamics) and once with pkg-config alone, runs both,
# runs the installed ovm on its default library and the installed LV2 limiter. Nothing but
# the prefix is looked at.
#
#   check_installed_tree.sh BUILD_DIR GENERATOR CXX_COMPILER "CXX_FLAGS"
set -euo pipefail
build=$1 generator=$2 cxx=$3 flags=$4
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null

echo "== find_package(Dynamics)"
cmake -S "$here" -B "$work/cmake" -G "$generator" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF >/dev/null
cmake --build "$work/cmake" >/dev/null
"$work/cmake/find_package_host"

echo "== pkg-config dynamics-host"
pc_dir=$(dirname "$(find "$prefix" -name dynamics-host.pc)")
export PKG_CONFIG_LIBDIR=$pc_dir
library="$(pkg-config --variable=moduledir dynamics-host)/Dynamics.ovm"
# shellcheck disable=SC2046,SC2086  # word splitting of the flags is intended
"$cxx" -std=c++20 $flags $(pkg-config --cflags dynamics-host) -DDYNAMICS_LIBRARY="\"$library\"" \
  "$here/installed_host.cpp" $(pkg-config --libs dynamics-host) -o "$work/pkg_config_host"
"$work/pkg_config_host"

echo "== installed ovm, on the library it ships with"
listing=$(env -u OVM_PATH "$prefix/bin/ovm" list)
head -1 <<<"$listing"
grep -q "^$prefix/lib[^ ]*/dynamics/Dynamics.ovm " <<<"$listing"
[ "$(grep -c '^  Orin ' <<<"$listing")" -eq 7 ]

echo "== ovm's bash completion and manual page"
test -s "$prefix/share/bash-completion/completions/ovm"
[ ! -f "$build/share/man/man1/ovm.1" ] || test -s "$prefix/share/man/man1/ovm.1"

# A sanitized plug-in would need the sanitizer's runtime preloaded into the host; the build's
# own bundle is run that way by tests/lv2.
if [ -z "$flags" ] && command -v lv2bench >/dev/null; then
  echo "== installed LV2 bundle, on its own copy of the library"
  LV2_PATH="$prefix/lib/lv2" lv2bench -n 4800 urn:dynamics:lv2:limiter | grep -q "urn:dynamics:lv2:limiter"
fi
