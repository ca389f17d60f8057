#!/usr/bin/env bash
# Checks the dynamic symbol table of libtransys.so: it defines only the
# library's documented interface, and it reaches every host service symbol
# as an undefined symbol, so that a host defining them replaces the
# stand-ins.  Usage: check_exports.sh path/to/libtransys.so
set -uo pipefail
library=$1
status=0

# Demangled names of the interface: the C functions and objects, the
# classes and free functions of the trace front-ends and the support
# library, and the type information and virtual tables of those classes.
interface='^(tran_api_[a-z_]+|sys|transys)$'
interface+='|^(typeinfo for |typeinfo name for |vtable for )?(ldtr_|cstr_|csgl_|exc_)'
interface+='|^operator(<<|\+)\((csgl_output|char const\*)'

extra=$(nm -D --defined-only "$library" | awk '{ $1 = ""; $2 = ""; sub(/^  /, ""); print }' |
        c++filt | grep -v -E "$interface" | grep -v -E '^(_init|_fini|_edata|_end|__bss_start|__odr_asan.*)$')
if [ -n "$extra" ]; then
    echo "symbols exported beyond the interface:"
    echo "$extra"
    status=1
fi

undefined=$(nm -D --undefined-only "$library" | awk '{ print $NF }')
for symbol in trcEvents trcInit trcWriteRec PrintMessage getPrintedMessage PrintDebugVa; do
    if ! grep -qx "$symbol" <<<"$undefined"; then
        echo "host symbol not referenced as undefined: $symbol"
        status=1
    fi
done

soname=$(readelf -d "$library" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "libtransys.so.1" ]; then
    echo "soname is '$soname', not libtransys.so.1"
    status=1
fi

[ $status -eq 0 ] && echo "exports, host references and soname as documented"
exit $status
