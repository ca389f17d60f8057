#!/usr/bin/env bash
# Checks the dynamic symbol table of libtransys.so: it defines exactly the
# interface listed (demangled, sorted) in the committed symbol list, every
# one of them named as the interface is named, and it reaches every host
# service symbol as an undefined symbol, so that a host defining them
# replaces the stand-ins.
# Usage: check_exports.sh path/to/libtransys.so path/to/symbol-list [--update]
# --update rewrites the list from the library; review the difference.
set -uo pipefail
library=$1 list=$2 status=0

# Prints the heading and the lines when there are lines, and fails the check.
report() { [ -z "$2" ] || { printf '%s\n%s\n' "$1" "$2"; status=1; }; }

defined=$(nm -D --defined-only "$library" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
          grep -v -E '^(_init|_fini|_edata|_end|__bss_start|__odr_asan.*)$' | c++filt |
          LC_ALL=C sort -u)
[ "${3:-}" != --update ] || printf '%s\n' "$defined" >"$list"
report "symbols exported but not in $list:" "$(LC_ALL=C comm -13 "$list" <(printf '%s\n' "$defined"))"
report "symbols in $list but not exported:" "$(LC_ALL=C comm -23 "$list" <(printf '%s\n' "$defined"))"

# Demangled names of the interface: the C functions and objects, the
# members of the table class, the classes and free functions of the trace
# front-ends and the support library, and the type information and virtual
# tables of those classes.
interface='^(tran_api_[a-z_]+|sys|transys)$|^tran_system::'
interface+='|^(typeinfo for |typeinfo name for |vtable for )?(ldtr_|cstr_|csgl_|exc_)'
interface+='|^operator(<<|\+)\((csgl_output|char const\*)'
report "symbols exported that are not named as the interface is:" \
    "$(printf '%s\n' "$defined" | grep -v -E "$interface")"

report "host symbols not referenced as undefined:" \
    "$(printf '%s\n' trcEvents trcInit trcWriteRec PrintMessage getPrintedMessage PrintDebugVa |
       grep -vxF -f <(nm -D --undefined-only "$library" | awk '{ print $NF }'))"
soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
[ "$soname" = libtransys.so.1 ] || report "the soname is not libtransys.so.1:" "'$soname'"

[ $status -eq 0 ] && echo "$(wc -l <"$list") exported symbols, host references and soname as documented"
exit $status
