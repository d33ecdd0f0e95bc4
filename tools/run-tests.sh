#!/usr/bin/env bash
# Builds the program, the simulated radio and the tests, then runs every test.
#   TVX_BUILD_DIR   build folder (default: build)
#   TVX_CMAKE_ARGS  extra configure arguments, e.g. -DTVX_SANITIZE=ON
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh
build=${TVX_BUILD_DIR:-build}
# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_WERROR=ON ${TVX_CMAKE_ARGS:-}
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 600 -j"$(nproc)"
