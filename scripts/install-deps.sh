#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when missing.
# Idempotent: a machine that has everything runs no apt-get at all.
set -euo pipefail

build_pkgs=(
  build-essential cmake ninja-build pkg-config ccache
  libgtest-dev libgmock-dev libbenchmark-dev
  libpcre3-dev libplist-dev libplist++-dev
  libavformat-dev libavcodec-dev libswresample-dev libswscale-dev libavutil-dev
  libbcg729-dev libpulse-dev libsamplerate0-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
)
test_pkgs=(
  clang libclang-rt-14-dev
  sox libsox-fmt-all ffmpeg sndfile-programs libsndfile1-dev attr libplist-utils
  libspandsp-dev
  lame twolame
  xvfb xauth dbus poppler-utils
  desktop-file-utils shared-mime-info x11-apps imagemagick xdotool openbox
  pulseaudio pulseaudio-utils
  python3
)

want=("${build_pkgs[@]}")
if [ "${1:-}" = "--tests" ]; then
  want+=("${test_pkgs[@]}")
fi

missing=()
for p in "${want[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=""
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
