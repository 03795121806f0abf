#!/usr/bin/env bash
# Installs every Debian package Pixorta needs to build, run and test, when it is missing.
# Idempotent and quick when nothing is missing. Needs root (or sudo) only to install.
set -euo pipefail

PACKAGES=(
  cmake g++ ninja-build ccache pkg-config
  qt6-base-dev qt6-qpa-plugins libgl-dev
  libjpeg-dev libpng-dev zlib1g-dev libtiff-dev libopenjp2-7-dev libjpeg-turbo-progs
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev qt6-multimedia-dev
  libgtest-dev fonts-dejavu-core
  xvfb xauth dbus-x11 at-spi2-core python3-pyatspi
  libheif-dev libwebp-dev libjxl-dev libavif-dev liblcms2-dev
  libheif-examples webp libjxl-tools libavif-bin
  python3 python3-pil
  ffmpeg pulseaudio pulseaudio-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then SUDO=sudo; else
    echo "error: these packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
