#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Usage: scripts/install-deps.sh [package...]   (defaults to the build and test set)
set -euo pipefail

packages=("$@")
if [ ${#packages[@]} -eq 0 ]; then
  packages=(cmake make g++ git libgtest-dev libgmock-dev lighttpd chromium
            clang libclang-rt-14-dev clang-tidy cppcheck libbenchmark-dev)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  if [ "$status" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages: ${missing[*]}" >&2
  echo "install-deps: run as root, or: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
