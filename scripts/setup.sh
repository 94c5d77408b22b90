#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Safe to run again.
set -euo pipefail

packages=(
  build-essential cmake make ninja-build git
  mingw-w64 g++-mingw-w64-x86-64 g++-mingw-w64-i686 binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
  wine wine64 xvfb imagemagick x11-utils
  openjdk-17-jdk-headless
  googletest libgtest-dev
  clang libclang-rt-14-dev
  libtomlplusplus-dev
  python3 python3-pytest
  osslsigncode openssl
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
echo "setup: all packages present"
