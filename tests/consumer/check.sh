#!/usr/bin/env bash
# Makes the build's Debian packages (BUILD_DIR/debian_packages.cmake, which
# installs each package's component of the build), checks their control
# fields and the files of the library folder, unpacks them with `dpkg -x`
# into WORK_DIR/root, and checks the installed libraries' sonames,
# dependencies and run paths; every installed header must compile on its
# own (C++, and C99 for the .h headers).  Then builds host programs, the
# examples of docs/ (their asserts check the results), against the unpacked
# library: the C interface through find_package(transys) (c/) and through
# pkg-config, the table class (C++) through pkg-config; and runs them as a
# user would: no LD_LIBRARY_PATH, the library found through the program's
# run path, the host stand-ins through the library's own ($ORIGIN).
#
#   check.sh BUILD_DIR WORK_DIR
#
# WORK_DIR is emptied first.  The environment describes the target:
#   TRANSYS_LIBDIR     the library folder below the prefix (lib/x86_64-linux-gnu)
#   TRANSYS_CC, TRANSYS_CXX, TRANSYS_FLAGS   compilers and target flags (-m32)
#   TRANSYS_TOOLCHAIN  toolchain file for the consumers' CMake builds, or empty
#   TRANSYS_EMULATOR   command that runs a target program (qemu-i386 -L /), or empty
#   TRANSYS_ARCH       Debian architecture of the packages (amd64, i386)
set -euo pipefail
build=$1 work=$2
here=$(cd "$(dirname "$0")" && pwd)
read -r -a emulator <<<"${TRANSYS_EMULATOR:-}"
read -r -a flags <<<"${TRANSYS_FLAGS:-}"
# A user's shell does not point the loader at the tree.
unset LD_LIBRARY_PATH
rm -rf "$work"
mkdir -p "$work"
log=$work/log

# Runs a command with its output in the log, shown when it fails.
quietly() {
    "$@" >>"$log" 2>&1 || { echo "failed: $*"; cat "$log"; exit 1; }
}

# Fails unless `actual` equals `expected`, naming `what`.
same() {
    [ "$2" = "$3" ] || { printf '%s differs.\nexpected:\n%s\nactual:\n%s\n' "$1" "$3" "$2"; exit 1; }
}

# The control fields of a package, then its files that are not directories
# or headers, as "path" or "path -> target".
package_contents() {
    dpkg-deb -f "$1" Package Version Architecture Multi-Arch Depends Section
    dpkg-deb -c "$1" |
        awk '$1 !~ /^d/ && $6 !~ "^./usr/include/transys/" {
                 $1 = $2 = $3 = $4 = $5 = ""; sub(/^ +/, ""); print }' | sort
}

# The soname, the libraries of this project needed and the run path.
dynamic_section() {
    readelf -d "$1" | awk '
        { value = $NF; gsub(/^\[|\]$/, "", value) }
        /\(SONAME\)/ { print "soname " value }
        /\(NEEDED\)/ && value ~ /^lib(transys|trc|message)\./ { print "needs " value }
        /\((RUNPATH|RPATH)\)/ { print tolower(substr($2, 2, length($2) - 2)) " " value }'
}

# The program must succeed, and the loader must have taken the library and
# the stand-ins from the tree under test.
run() {
    local interpreter library found
    "${emulator[@]}" "$1" >>"$log" 2>&1 || { echo "failed: $1"; cat "$log"; exit 1; }
    interpreter=$(readelf -l "$1" | sed -n 's/.*Requesting program interpreter: \(.*\)]$/\1/p')
    for library in libtransys.so.1 libtrc.so.1 libmessage.so.1; do
        found=$("${emulator[@]}" "$interpreter" --list "$1" | awk -v name="$library" '$1 == name { print $3 }')
        same "the folder $1 finds $library in" "$(realpath -m "$(dirname "$found")")" "$(realpath "$libdir")"
    done
    echo "passed: $1"
}

quietly cmake -D OUTPUT_DIR="$work/debs" -P "$build/debian_packages.cmake"
version=1.0-1 lib=./usr/$TRANSYS_LIBDIR libraries=(message transys trc)
runtime=$work/debs/libtransys1_${version}_$TRANSYS_ARCH.deb
development=$work/debs/libtransys-dev_${version}_$TRANSYS_ARCH.deb
same "libtransys1" "$(package_contents "$runtime"; dpkg-deb --info "$runtime" shlibs)" \
    "Package: libtransys1
Version: $version
Architecture: $TRANSYS_ARCH
Multi-Arch: same
Depends: libc6 (>= 2.34), libgcc-s1 (>= 3.0), libstdc++6 (>= 5.2)
Section: libs
$(for l in "${libraries[@]}"; do printf '%s\n' "$lib/lib$l.so.1 -> lib$l.so.1.0" "$lib/lib$l.so.1.0"; done)
$(for l in transys trc message; do echo "lib$l 1 libtransys1 (>= $version)"; done)"
same "libtransys-dev" "$(package_contents "$development")" \
    "Package: libtransys-dev
Version: $version
Architecture: $TRANSYS_ARCH
Multi-Arch: same
Depends: libtransys1 (= $version)
Section: libdevel
$(for f in Config ConfigVersion Targets-relwithdebinfo Targets; do echo "$lib/cmake/transys/transys$f.cmake"; done)
$(for l in "${libraries[@]}"; do echo "$lib/lib$l.so -> lib$l.so.1"; done)
$lib/pkgconfig/transys.pc"
for deb in "$runtime" "$development"; do quietly dpkg -x "$deb" "$work/root"; done
prefix=$work/root/usr libdir=$work/root/usr/$TRANSYS_LIBDIR

same "the dynamic sections" \
    "$(for l in "${libraries[@]}"; do dynamic_section "$libdir/lib$l.so.1"; done)" \
    "soname libmessage.so.1
needs libtrc.so.1
needs libmessage.so.1
soname libtransys.so.1
runpath \$ORIGIN
soname libtrc.so.1"

# Every installed header compiles on its own: what it includes is installed.
# Each is the only include of a unit that declares one thing more, since a
# header of macros alone would leave the unit empty, which ISO C forbids.
# The .inc files are parts of class bodies, compiled with the headers that
# include them.
includes=$prefix/include/transys
warnings=(-Wall -Wextra -Werror -pedantic)
while read -r header; do
    unit=$(printf '#include "%s"\nextern int transys_header_unit;\n' "$header")
    quietly "$TRANSYS_CXX" -std=c++17 "${flags[@]}" "${warnings[@]}" -fsyntax-only -I "$includes" \
        -x c++ - <<<"$unit"
    [[ $header != *.h ]] || quietly "$TRANSYS_CC" -std=c99 "${flags[@]}" "${warnings[@]}" \
        -fsyntax-only -I "$includes" -x c - <<<"$unit"
done < <(find "$includes" -type f \( -name '*.h' -o -name '*.hpp' \))

toolchain=(${TRANSYS_TOOLCHAIN:+"-DCMAKE_TOOLCHAIN_FILE=$TRANSYS_TOOLCHAIN"})
# find_package(transys), with CMake's default run path.
quietly cmake -S "$here/c" -B "$work/cmake" -G Ninja -DCMAKE_C_COMPILER="$TRANSYS_CC" "${toolchain[@]}" \
    -DCMAKE_PREFIX_PATH="$prefix"
quietly cmake --build "$work/cmake"
run "$work/cmake/consumer_c"
# pkg-config, looking at this prefix only, with the run path of its library
# folder.
export PKG_CONFIG_LIBDIR=$libdir/pkgconfig
read -r -a transys_flags <<<"$(pkg-config --cflags --libs transys)"
quietly "$TRANSYS_CC" -std=c99 -UNDEBUG "$here/../../docs/examples/c_interface.c" "${flags[@]}" "${warnings[@]}" "${transys_flags[@]}" \
    -Wl,-rpath,"$(pkg-config --variable=libdir transys)" -o "$work/consumer_c-pkgconfig"
run "$work/consumer_c-pkgconfig"
# A C++ host: the table class's exported members, through pkg-config.
quietly "$TRANSYS_CXX" -std=c++17 -UNDEBUG "$here/../../docs/examples/table_class.cpp" "${flags[@]}" "${warnings[@]}" \
    "${transys_flags[@]}" -Wl,-rpath,"$(pkg-config --variable=libdir transys)" -o "$work/consumer_cxx-pkgconfig"
run "$work/consumer_cxx-pkgconfig"
