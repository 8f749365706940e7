#!/usr/bin/env bash
# Installs the Debian packages the project needs (only what is missing).
set -euo pipefail
PACKAGES=(
  cmake g++ pkg-config ninja-build ccache
  libgtest-dev libbenchmark-dev
  qt6-base-dev qt6-multimedia-dev libmpg123-dev zlib1g-dev liblzma-dev
  libavcodec-dev libavutil-dev libswscale-dev libspeex-dev ffmpeg
  xvfb xauth x11-utils openbox xdotool imagemagick dbus pulseaudio
  fonts-wqy-microhei qt6-translations-l10n xdg-utils python3-pil python3-numpy lame tzdata
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -q
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
