#!/usr/bin/env bash
# Installs the Debian packages that building and testing nxt-bridge needs,
# when they are missing, and any named as arguments (what one command alone
# needs). Safe to run again: it installs nothing that is there.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libboost-dev libusb-1.0-0-dev
  googletest libgtest-dev
  clang libclang-rt-14-dev clang-format
  netcat-openbsd python3
)
packages+=("$@")

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root or install sudo" >&2; exit 1; }
  sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
