#!/usr/bin/env bash
# Builds the consumer programs of this folder (c/, cxx/) against an
# installed libtransys, each through find_package(transys) and through
# pkg-config, and runs them.  The library comes from either
#
#   check.sh install BUILD_DIR WORK_DIR   `cmake --install BUILD_DIR` into
#                                         WORK_DIR/prefix
#   check.sh package BUILD_DIR WORK_DIR   the build's Debian packages, made
#                                         with cpack and unpacked with
#                                         `dpkg -x` into WORK_DIR/root;
#                                         their names, architecture,
#                                         dependencies and the runtime
#                                         package's files are checked first
#
# WORK_DIR is emptied first.  The environment describes the target:
#   TRANSYS_LIBDIR     the library folder below the prefix (lib/x86_64-linux-gnu)
#   TRANSYS_CC, TRANSYS_CXX, TRANSYS_FLAGS   compilers and target flags (-m32)
#   TRANSYS_TOOLCHAIN  toolchain file for the consumers' CMake builds, or empty
#   TRANSYS_EMULATOR   command that runs a target program (qemu-i386 -L /), or empty
#   TRANSYS_ARCH       Debian architecture of the packages (amd64, i386)
set -euo pipefail
mode=$1 build=$2 work=$3
here=$(cd "$(dirname "$0")" && pwd)
read -r -a emulator <<<"${TRANSYS_EMULATOR:-}"
read -r -a flags <<<"${TRANSYS_FLAGS:-}"

rm -rf "$work"
mkdir -p "$work"
log=$work/log

# Runs a command with its output in the log, shown when it fails.
quietly() {
    if ! "$@" >>"$log" 2>&1; then
        echo "failed: $*"
        cat "$log"
        exit 1
    fi
}

# The consumer program must print exactly its success line.
run() {
    local program=$1 expected=$2 output
    if ! output=$(LD_LIBRARY_PATH=$libdir "${emulator[@]}" "$program"); then
        echo "failed: $program"
        exit 1
    fi
    if [ "$output" != "$expected" ]; then
        echo "unexpected output of $program: '$output'"
        exit 1
    fi
    echo "passed: $program"
}

# Fails unless `actual` equals `expected`, naming `what`.
same() {
    if [ "$2" != "$3" ]; then
        printf '%s differs.\nexpected:\n%s\nactual:\n%s\n' "$1" "$3" "$2"
        exit 1
    fi
}

case $mode in
install)
    prefix=$work/prefix
    quietly cmake --install "$build" --prefix "$prefix"
    ;;
package)
    quietly cpack --config "$build/CPackConfig.cmake" -B "$work/debs"
    version=1.0-1
    runtime=$work/debs/libtransys1_${version}_$TRANSYS_ARCH.deb
    development=$work/debs/libtransys-dev_${version}_$TRANSYS_ARCH.deb
    same "libtransys1 control fields" \
        "$(dpkg-deb -f "$runtime" Package Version Architecture Depends)" \
        "Package: libtransys1
Version: $version
Architecture: $TRANSYS_ARCH
Depends: libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)"
    same "libtransys-dev control fields" \
        "$(dpkg-deb -f "$development" Package Version Architecture Depends)" \
        "Package: libtransys-dev
Version: $version
Architecture: $TRANSYS_ARCH
Depends: libtransys1 (= $version)"
    same "libtransys1 files" \
        "$(dpkg-deb -c "$runtime" | awk '$1 !~ /^d/ { $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sort)" \
        "./usr/$TRANSYS_LIBDIR/libmessage.so
./usr/$TRANSYS_LIBDIR/libtransys.so.1 -> libtransys.so.1.0
./usr/$TRANSYS_LIBDIR/libtransys.so.1.0
./usr/$TRANSYS_LIBDIR/libtrc.so"
    for deb in "$runtime" "$development"; do
        quietly dpkg -x "$deb" "$work/root"
    done
    prefix=$work/root/usr
    ;;
*)
    echo "usage: check.sh install|package BUILD_DIR WORK_DIR" >&2
    exit 2
    ;;
esac
libdir=$prefix/$TRANSYS_LIBDIR

for language in c cxx; do
    consumer=consumer_$language
    expected="$consumer: all checks passed"

    # find_package(transys)
    toolchain=()
    [ -z "${TRANSYS_TOOLCHAIN:-}" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="$TRANSYS_TOOLCHAIN")
    if [ $language = c ]; then
        compiler=-DCMAKE_C_COMPILER="$TRANSYS_CC"
    else
        compiler=-DCMAKE_CXX_COMPILER="$TRANSYS_CXX"
    fi
    quietly cmake -S "$here/$language" -B "$work/$language-cmake" -G Ninja \
        "$compiler" "${toolchain[@]}" -DCMAKE_PREFIX_PATH="$prefix"
    quietly cmake --build "$work/$language-cmake"
    run "$work/$language-cmake/$consumer" "$expected"

    # pkg-config, looking at this prefix only
    export PKG_CONFIG_LIBDIR=$libdir/pkgconfig
    read -r -a transys_flags <<<"$(pkg-config --cflags --libs transys)"
    if [ $language = c ]; then
        compile=("$TRANSYS_CC" -std=c99 "$here/c/main.c")
    else
        compile=("$TRANSYS_CXX" -std=c++17 "$here/cxx/main.cpp")
    fi
    quietly "${compile[@]}" "${flags[@]}" -Wall -Wextra -Werror -pedantic \
        "${transys_flags[@]}" -o "$work/$consumer-pkgconfig"
    run "$work/$consumer-pkgconfig" "$expected"
done
