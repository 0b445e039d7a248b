#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build, the game and its tests need and the machine lacks.
# Runs as root, or as a user who may use sudo.
set -euo pipefail

packages=(
  cmake g++ make pkg-config python3
  qt6-base-dev libgl-dev qt6-translations-l10n
  libjpeg62-turbo-dev libjpeg-turbo-progs
  fonts-ipafont-gothic
  libgtest-dev
  xvfb xdotool x11-utils faketime
  desktop-file-utils appstream file
)
if [ "${MOZARIO_WITH_BENCH:-0}" = 1 ]; then packages+=(libbenchmark-dev); fi
if [ "${MOZARIO_WITH_FUZZ:-0}" = 1 ]; then packages+=(clang libclang-rt-14-dev); fi

missing=()
for p in "${packages[@]}"; do
  if [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" != "install ok installed" ]; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then sudo=(); else sudo=(sudo); fi
echo "Installing: ${missing[*]}"
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
