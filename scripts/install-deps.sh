#!/usr/bin/env bash
# Installs every Debian package the project builds, runs and tests with.
# Safe to run again; never asks a question.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

PACKAGES=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libplist-dev
  libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libboost-dev
  libavahi-client-dev
  libspdlog-dev libfmt-dev libsystemd-dev libssl-dev
  libgtest-dev libgmock-dev
  ffmpeg curl python3 iproute2 util-linux
  clang libclang-rt-14-dev
  xvfb xauth x11-utils fonts-dejavu-core
  gobjc libgnustep-base-dev gnustep-make
  libqt6sql6-sqlite x11vnc
  lintian desktop-file-utils appstream systemd
  libsodium-dev nlohmann-json3-dev chromium chromium-driver python3-selenium
  libcurl4-openssl-dev prometheus
  libmosquitto-dev mosquitto mosquitto-clients python3-nacl
)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "All packages present."
  exit 0
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
