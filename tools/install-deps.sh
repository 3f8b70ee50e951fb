#!/usr/bin/env bash
# Installs the Debian packages that nxt-bridge needs, when they are missing.
# Safe to run again: it installs nothing that is there.
#
#   tools/install-deps.sh [GROUP | PACKAGE]...
#
# Groups: build (compilers, CMake, Boost, libusb, nlohmann-json: enough to
# build and run the programs), test (build, and what the tests run:
# GoogleTest, nc, python3), clang (clang and its sanitizer runtime:
# sanitized builds and fuzzing), format (clang-format), rig (what the USB
# and Bluetooth rigs need on the host: qemu, busybox-static and cpio for the
# guest, Debian's NXT tools t2n and nbc for the USB rig's tests), browser
# (chromium, its driver and a font: the live page's browser tests), windows
# (MinGW-w64, Wine, and what cross-builds libusb from Debian's source
# package: the Windows programs and their tests). Without a group: build,
# test, clang and format. Any other word is a package that one command
# alone needs, installed too.
set -euo pipefail

build=(cmake ninja-build g++ pkg-config libboost-dev libusb-1.0-0-dev nlohmann-json3-dev)
test=(googletest libgtest-dev netcat-openbsd python3)
clang=(clang libclang-rt-14-dev)
format=(clang-format)
rig=(qemu-system-x86 busybox-static cpio t2n nbc)
browser=(chromium chromium-driver fonts-dejavu-core)
windows=(cmake ninja-build g++ pkg-config libboost-dev nlohmann-json3-dev googletest
  g++-mingw-w64-x86-64-posix wine64
  make dpkg-dev zip netcat-openbsd python3)

packages=()
groups=0
for word in "$@"; do
  case "$word" in
    build) packages+=("${build[@]}") groups=1 ;;
    test) packages+=("${build[@]}" "${test[@]}") groups=1 ;;
    clang) packages+=("${clang[@]}") groups=1 ;;
    format) packages+=("${format[@]}") groups=1 ;;
    rig) packages+=("${rig[@]}") groups=1 ;;
    browser) packages+=("${browser[@]}") groups=1 ;;
    windows) packages+=("${windows[@]}") groups=1 ;;
    *) packages+=("$word") ;;
  esac
done
[ $groups = 1 ] || packages+=("${build[@]}" "${test[@]}" "${clang[@]}" "${format[@]}")

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
