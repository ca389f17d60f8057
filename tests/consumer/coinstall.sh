#!/usr/bin/env bash
# Installs the amd64 and the i386 packages (libtransys1, libtransys-dev)
# side by side with dpkg into a scratch root, as a 32-bit server on a
# 64-bit system needs them, and removes the i386 ones again:
#
#   coinstall.sh DEB_DIR WORK_DIR
#
# DEB_DIR holds the four .deb files of one version; WORK_DIR is emptied and
# becomes the root.  The scratch root has no C library, so the packages'
# dependencies on it are forced; nothing else is.
set -euo pipefail
debs=$(cd "$1" && pwd) work=$2
rm -rf "$work"
mkdir -p "$work/var/lib/dpkg/info" "$work/var/lib/dpkg/updates"
touch "$work/var/lib/dpkg/status"
root=$(cd "$work" && pwd)
# dpkg looks for ldconfig and start-stop-daemon even when it runs neither.
export PATH=$PATH:/usr/sbin:/sbin
dpkg_in_root=(dpkg --root="$root" --log=/dev/null)
[ "$(id -u)" -eq 0 ] || dpkg_in_root+=(--force-not-root)

# Runs dpkg in the root, then fails unless the state is `expected`, naming
# `what`: the packages installed, the ELF class of each architecture's
# library (or, without one, the number of files left in its folder), and
# the owners of a header.
expect() {
    "${dpkg_in_root[@]}" "${@:3}" >>"$root/log" 2>&1 || { echo "failed: dpkg ${*:3}"; cat "$root/log"; exit 1; }
    local actual
    actual=$(dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package}:${Architecture} ${db:Status-Status}\n' | sort
             for triplet in x86_64-linux-gnu i386-linux-gnu; do
                 readelf -h "$root/usr/lib/$triplet/libtransys.so.1" 2>/dev/null | awk '/Class:/ { print $2 }' | grep . ||
                     ls -A "$root/usr/lib/$triplet" 2>/dev/null | wc -l
             done
             dpkg-query --admindir="$root/var/lib/dpkg" -S /usr/include/transys/libtransys/tran_api.h |
                 sed 's/: .*//; s/, /\n/g' | sort | paste -sd ' ')
    [ "$actual" = "$2" ] || { printf '%s:\nexpected:\n%s\nactual:\n%s\n' "$1" "$2" "$actual"; exit 1; }
}

"${dpkg_in_root[@]}" --add-architecture i386
expect "installed side by side" "libtransys-dev:amd64 installed
libtransys-dev:i386 installed
libtransys1:amd64 installed
libtransys1:i386 installed
ELF64
ELF32
libtransys-dev:amd64 libtransys-dev:i386" --force-depends --install \
    "$debs"/libtransys1_*_amd64.deb "$debs"/libtransys1_*_i386.deb \
    "$debs"/libtransys-dev_*_amd64.deb "$debs"/libtransys-dev_*_i386.deb
# Removing one architecture leaves the other whole, the shared headers too.
expect "after removing i386" "libtransys-dev:amd64 installed
libtransys1:amd64 installed
ELF64
0
libtransys-dev:amd64" --purge libtransys-dev:i386 libtransys1:i386
echo "passed: the amd64 and i386 packages install side by side"
