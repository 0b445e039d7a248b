#!/usr/bin/env bash
# Installs, from Debian's packages, what the machine lacks to build and play the game, and with
# each group named on the command line what else that group needs:
#
#   scripts/setup.sh [tests] [fuzz] [bench] [root]
#
# Works on Debian 12 and Debian 13: where a package's name differs between them, the name is
# taken from the release this machine runs.
# Runs as root, or as a user who may use sudo.
set -euo pipefail

# Building and playing: the compiler, Qt 6 (its window-system plugins come with it), libjpeg,
# the Japanese faces of the layout and Qt's own Japanese texts.
packages=(
  cmake g++ make
  qt6-base-dev qt6-translations-l10n
  libjpeg62-turbo-dev
  fonts-ipafont-gothic
)
for group in "$@"; do
  case $group in
    # The unit tests, the checks of the desktop files, the end-to-end tests (an X server of
    # their own, xdotool, xwininfo, a frozen clock, cjpeg; Qt's GTK platform theme, whose dark
    # Adwaita comes with GTK; a headless weston with Qt's wayland platform), the install test,
    # and the Debian package with its lintian check.
    tests) packages+=(
      libgtest-dev desktop-file-utils appstream
      python3 xvfb xdotool x11-utils faketime libjpeg-turbo-progs file qt6-gtk-platformtheme
      weston qt6-wayland
      build-essential debhelper lintian
    ) ;;
    # libFuzzer's runtime goes with the release's clang: 14 on Debian 12, 19 on 13, and on
    # another release whatever its clang package depends on.
    fuzz)
      case $(. /etc/os-release && echo "${VERSION_ID:-}") in
        12) clang_major=14 ;;
        13) clang_major=19 ;;
        *) clang_major=$(apt-cache depends clang 2>/dev/null | sed -n 's/.*Depends: clang-\([0-9]*\)$/\1/p' | head -n 1) ;;
      esac
      packages+=(clang "libclang-rt-$clang_major-dev") ;;
    bench) packages+=(libbenchmark-dev) ;;
    # What scripts/test-debian13.sh needs to make its root.
    root) packages+=(debootstrap) ;;
    *) echo "unknown group: $group (tests, fuzz, bench or root)" >&2; exit 2 ;;
  esac
done

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
