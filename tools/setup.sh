#!/usr/bin/env bash
# Installs what kelpie needs on a Debian 12 machine and builds it into build/.
# Run as root (or as a user with sudo) from anywhere:  bash tools/setup.sh
set -euo pipefail

# Everything the build, the tests, the fuzzers and the checks need.
# Add further packages to this list.
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libfreetype-dev libharfbuzz-dev libfontconfig-dev libfribidi-dev
  fonts-dejavu-core fonts-ipafont-gothic
  # Fallback fonts for scripts the two above lack. None of them changes the
  # font fontconfig picks for sans-serif text or for Japanese (see README.md).
  fonts-wqy-microhei fonts-tlwg-loma fonts-lohit-deva fonts-symbola
  libpng-dev libavcodec-dev libavutil-dev libuchardet-dev
  libgtest-dev libbenchmark-dev libass-dev
  clang libclang-rt-14-dev libssl-dev
  python3 time
  libicu-dev ffmpeg
)

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${KELPIE_BUILD_DIR:-$ROOT/build}"

SUDO=()
if [ "$(id -u)" -ne 0 ]; then
  SUDO=(sudo)
fi

# Install only when something is missing, so a ready machine needs no network.
missing=()
for package in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null | grep -qx installed; then
    missing+=("$package")
  fi
done
if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${SUDO[@]}" apt-get update
  "${SUDO[@]}" apt-get install -y "${PACKAGES[@]}"
else
  echo "setup: all packages are installed"
fi

cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR"
