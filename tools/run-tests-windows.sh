#!/usr/bin/env bash
# Cross-builds the Windows program (torvandrix-upload.exe) and its tests with mingw-w64, then runs
# every test under wine. The Windows serial tests talk to the simulated radio of a native build
# on a pseudo-terminal that wine maps to a COM port.
#   TVX_WIN_BUILD_DIR   build folder (default: build-win); the wine prefix lives inside it
#   TVX_CMAKE_ARGS      extra configure arguments for the Windows build
#   TVX_HOST_BUILD_DIR  native build folder for the simulated radio (default: build-win/host)
# As root it installs the Debian packages it needs; otherwise it names them and fails.
set -euo pipefail
cd "$(dirname "$0")/.."

# The native build's packages (the simulated radio is built natively) and the cross tool chain,
# GoogleTest's sources and wine.
tools/ensure-deps.sh g++-mingw-w64-x86-64-posix googletest wine64

build=${TVX_WIN_BUILD_DIR:-build-win}
mkdir -p "$build"
build=$(cd "$build" && pwd)

# A prefix of our own, quiet, without the browser and .NET installers.
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)
# A persistent server and one finished wine process before ctest: otherwise wine's background
# processes keep ctest's output pipe open and ctest waits for them forever.
mkdir -p "$WINEPREFIX"
"$wineserver" -p >/dev/null 2>&1 || true  # its state dumps would flood the log; one may run already
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine" wineboot -i >/dev/null 2>&1 || true

# The simulated radio, built natively: its pseudo-terminal runner is POSIX only.
# A native build folder of the caller's (CI hands it the one its tests built) saves building it
# again; without one it has a folder of its own.
host=${TVX_HOST_BUILD_DIR:-}
if [ -z "$host" ]; then
  host="$build/host"
  cmake -S . -B "$host" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_BUILD_TESTS=OFF \
    -DTVX_BUILD_BENCH=ON >/dev/null
fi
host=$(cd "$host" && pwd)
cmake --build "$host" --target torvandrix-radio-sim

# PCRE2 for the set-up scripts' expectations, from Debian's source package, once per folder.
tools/build-pcre2-windows.sh "$build/pcre2"

# shellcheck disable=SC2086
cmake -S . -B "$build" -G Ninja --toolchain cmake/mingw-w64-x86_64-posix.cmake \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTVX_WERROR=ON -DTVX_PCRE2_ROOT="$build/pcre2/root" \
  -DTVX_HOST_RADIO_SIM="$host/torvandrix-radio-sim" ${TVX_CMAKE_ARGS:-}
cmake --build "$build"
ctest --test-dir "$build" --output-on-failure --timeout 600 -j"$(nproc)"
