#!/usr/bin/env bash
# Runs the test command once more in a Debian 13 root, from a copy of this tree, so that the
# other supported release is tested on the same machine:
#
#   scripts/test-debian13.sh [command in the root, default scripts/test.sh]
#
# The root is made with debootstrap from the archive this machine's apt already uses and kept
# in $MOZARIO_DEBIAN13_ROOT (default /var/cache/mozario/debian13), so a later run reuses it
# with the packages installed there. Needs root (or sudo) for debootstrap, mounts and chroot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${MOZARIO_DEBIAN13_ROOT:-/var/cache/mozario/debian13}
if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=MOZARIO_DEBIAN13_ROOT,CI "$0" "$@"
fi
scripts/setup.sh root
# One run at a time uses the root.
mkdir -p "$(dirname "$root")"
exec 9>"$root.lock"
flock 9

if [ ! -e "$root/.mozario-root" ]; then
  # The host's own archive (the first main component that is not an update or security one).
  mirror=${MOZARIO_DEBIAN_MIRROR:-$(apt-cache policy | awk '$1 ~ /^[0-9]+$/ && $3 ~ /^[a-z]+\/main$/ { print $2; exit }')}
  [ -n "$mirror" ] || { echo "no Debian archive found in this machine's apt sources" >&2; exit 1; }
  echo "Making a Debian 13 root in $root from $mirror"
  rm -rf "$root"
  mkdir -p "$root"
  debootstrap --variant=minbase --components=main trixie "$root" "$mirror" >/dev/null
  touch "$root/.mozario-root"
fi

# A fresh copy of the tree each run: the files git tracks and the new ones it does not ignore,
# so build folders of this release never mix with the other's.
rm -rf "$root/src"
mkdir -p "$root/src"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  git ls-files -z --cached --others --exclude-standard | tar --null -T - -cf - | tar -xf - -C "$root/src"
else
  tar --exclude='./build*' -cf - . | tar -xf - -C "$root/src"
fi
cp /etc/resolv.conf "$root/etc/resolv.conf"

# The mounts live in a namespace of their own and go with it, however the run ends.
command=${*:-scripts/test.sh}
exec unshare --mount --propagation private env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin \
  HOME=/root LANG=C.UTF-8 CI="${CI:-}" TERM="${TERM:-dumb}" \
  bash -c '
    set -e
    root=$1
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    mount -t tmpfs tmpfs "$root/dev/shm"
    mount -t tmpfs tmpfs "$root/tmp"
    exec chroot "$root" bash -c "cd /src && $2"
  ' bash "$root" "$command"
