#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the viewer need.
# Idempotent: when everything is already there it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config clang-format
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  zlib1g-dev libbz2-dev libjpeg62-turbo-dev libpng-dev libgif-dev libopenjp2-7-dev
  libcrypto++-dev
  qt6-base-dev libgl-dev
  qt6-tools-dev qt6-tools-dev-tools libqt6help6
  xvfb xauth libx11-dev libxtst-dev
  desktop-file-utils shared-mime-info
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
