#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# As root it runs apt-get; otherwise it names the packages to install and fails.
#   usage: ensure-deps.sh [extra package ...]   (extra packages another build needs, e.g. wine64)
set -euo pipefail

# ser2net: the serial server the tests put in front of the simulated radio.
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libncurses-dev tmux locales
  libcli11-dev nlohmann-json3-dev libudev-dev libpcre2-dev bash-completion dpkg-dev ser2net "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]}" >&2
  echo "install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# A throw-away machine: dpkg need not sync every file it unpacks.
apt-get install -y -qq --no-install-recommends -o Dpkg::Options::=--force-unsafe-io \
  "${missing[@]}" >/dev/null
