#!/usr/bin/env bash
# PCRE2 for the Windows build: Debian ships no mingw-w64 build of it, so this takes Debian's
# source package pcre2 from Debian's archive and cross-builds its static 8-bit library (JIT on,
# Unicode on, nothing else) with the project's mingw-w64 tool chain. The result is
# <folder>/root/{include/pcre2.h,lib/libpcre2-8.a}, for -DTVX_PCRE2_ROOT=<folder>/root; a folder
# that already holds it is left as it is, and a download already there is used again.
#   usage: build-pcre2-windows.sh <folder>
# apt checks the download against Debian's signed index of sources; dpkg-source (dpkg-dev)
# checks the unpacked files against the .dsc's checksums. Needs no root: apt's lists and cache
# are kept in <folder>, and dropped once the download is there.
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 1 ] || { echo "usage: $0 <folder>" >&2; exit 2; }
mkdir -p "$1"
dir=$(cd "$1" && pwd)
root="$dir/root"
if [ -f "$root/include/pcre2.h" ] && [ -f "$root/lib/libpcre2-8.a" ]; then
  exit 0
fi

# The source package, through apt with a source list, lists and cache of its own: the machine's
# are neither used nor changed.
download="$dir/download"
apt_options=(-o Dir::Etc::sourcelist="$dir/debian-src.sources" -o Dir::Etc::sourceparts=-
  -o Dir::State::Lists="$dir/apt/lists" -o Dir::Cache="$dir/apt/cache" -q)
# As root apt would hand the download to its own user, who may not write here.
[ "$(id -u)" -ne 0 ] || apt_options+=(-o APT::Sandbox::User=root)
if ! compgen -G "$download/pcre2_*.dsc" >/dev/null; then
  mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$download"
  codename=$(sed -n 's/^VERSION_CODENAME=//p' /etc/os-release)  # the machine's own release
  cat >"$dir/debian-src.sources" <<EOF
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: ${codename:-bookworm}
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  apt-get "${apt_options[@]}" update >/dev/null
  (cd "$download" && apt-get "${apt_options[@]}" source --download-only pcre2 >/dev/null)
  rm -rf "$dir/apt"
fi
dsc=$(compgen -G "$download/pcre2_*.dsc" | sort -V | tail -n 1)

# Unpacked afresh: dpkg-source refuses files whose checksums differ from the .dsc's. The .dsc's
# own signature needs the uploaders' keys, which this machine need not have; apt vouched for it.
rm -rf "$dir/source" "$dir/build" "$root.new"
if ! dpkg-source --no-copy -x "$dsc" "$dir/source" >"$dir/unpack.log" 2>&1; then
  cat "$dir/unpack.log" >&2
  echo "$0: $download does not check out: removed, the next run fetches it again" >&2
  rm -rf "$download"
  exit 1
fi

# Only the 8-bit library with Unicode support (the patterns are UTF-8) and the JIT; no
# programs, tests, compression or line-editing libraries. -O1: the JIT compiles the patterns
# to machine code, so the library's own optimisation buys little, and -O3 takes twice as long.
cmake -S "$dir/source" -B "$dir/build" -G Ninja --toolchain "$PWD/cmake/mingw-w64-x86_64-posix.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O1 -DNDEBUG" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
  -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=OFF -DPCRE2_BUILD_PCRE2_32=OFF \
  -DPCRE2_SUPPORT_UNICODE=ON -DPCRE2_SUPPORT_JIT=ON -DPCRE2_BUILD_PCRE2GREP=OFF \
  -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF \
  -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF -DPCRE2_SHOW_REPORT=OFF >/dev/null
cmake --build "$dir/build" --target pcre2-8-static
mkdir -p "$root.new/include" "$root.new/lib"
cp "$dir/build/pcre2.h" "$root.new/include/"
cp "$dir/build/libpcre2-8.a" "$root.new/lib/"
rm -rf "$root" "$dir/source" "$dir/build" "$dir/unpack.log"
mv "$root.new" "$root"
echo "PCRE2 for Windows from $(basename "$dsc"): $root"
