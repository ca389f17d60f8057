#!/usr/bin/env bash
# Compares the ABI of libtransys.so.1, as libabigail reads it from the
# library's debug information (every exported function and variable, the
# layout of every type they reach, virtual tables, parameter types, the
# soname and the libraries it needs), with the committed baseline of its
# target.  Any difference fails, an added interface included: a deliberate
# change rewrites the baseline in the same commit, whose message says why.
# Usage: check_abi.sh path/to/libtransys.so.1 path/to/baseline.abi [--update]
set -uo pipefail
library=$1 baseline=$2
[ "${3:-}" != --update ] ||
    abidw --no-show-locs --no-corpus-path --no-comp-dir-path --out-file "$baseline" "$library" || exit 1
abidiff --no-show-locs "$baseline" "$library" && echo "ABI as in $baseline" && exit 0
echo "the ABI differs from $baseline (abidiff status $?); after a deliberate change:"
echo "  $0 $library $baseline --update"
exit 1
