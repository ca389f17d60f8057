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
log=$root/log

# Fails unless `actual` equals `expected`, naming `what`.
same() {
    if [ "$2" != "$3" ]; then
        printf '%s differs.\nexpected:\n%s\nactual:\n%s\n' "$1" "$3" "$2"
        exit 1
    fi
}

quietly() {
    if ! "$@" >>"$log" 2>&1; then
        echo "failed: $*"
        cat "$log"
        exit 1
    fi
}

installed() {
    dpkg-query --admindir="$root/var/lib/dpkg" -W -f='${Package}:${Architecture} ${db:Status-Status}\n' |
        sort
}

# The ELF class of each architecture's library, and what owns a header.
elf_class() { readelf -h "$root/usr/lib/$1/libtransys.so.1" | awk '/Class:/ { print $2 }'; }
header=/usr/include/transys/libtransys/tran_api.h
owners() {
    dpkg-query --admindir="$root/var/lib/dpkg" -S "$header" |
        sed 's/: .*//; s/, /\n/g' | sort | paste -sd ' '
}

quietly "${dpkg_in_root[@]}" --add-architecture i386
quietly "${dpkg_in_root[@]}" --force-depends --install \
    "$debs"/libtransys1_*_amd64.deb "$debs"/libtransys1_*_i386.deb \
    "$debs"/libtransys-dev_*_amd64.deb "$debs"/libtransys-dev_*_i386.deb
same "packages installed side by side" "$(installed)" \
    "libtransys-dev:amd64 installed
libtransys-dev:i386 installed
libtransys1:amd64 installed
libtransys1:i386 installed"
same "libraries" "$(elf_class x86_64-linux-gnu) $(elf_class i386-linux-gnu)" "ELF64 ELF32"
same "owners of the headers" "$(owners)" "libtransys-dev:amd64 libtransys-dev:i386"

# Removing one architecture leaves the other whole, the shared headers too.
quietly "${dpkg_in_root[@]}" --purge libtransys-dev:i386 libtransys1:i386
same "packages left" "$(installed)" "libtransys-dev:amd64 installed
libtransys1:amd64 installed"
same "owner of the headers" "$(owners)" "libtransys-dev:amd64"
same "i386 library folder" "$(ls -A "$root/usr/lib/i386-linux-gnu" 2>/dev/null || true)" ""
same "amd64 library" "$(elf_class x86_64-linux-gnu)" "ELF64"
echo "passed: the amd64 and i386 packages install side by side"
