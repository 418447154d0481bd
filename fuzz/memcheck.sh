#!/bin/sh
# valgrind memcheck on converting every product file of EXAMPLES (the rotation
# product with its header), plus a truncated copy of each and a missing file,
# so that the failure paths are checked as well.  Each run happens in a fresh
# scratch folder.  Fails unless every run shows "ERROR SUMMARY: 0 errors" and
# no definitely lost bytes, and prints and writes what the same run without
# valgrind does (valgrind computes long double in double precision: the exact
# fast paths must notice and step aside).
#
# Usage: sh fuzz/memcheck.sh PROGRAM EXAMPLES
set -eu
program=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
examples=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
runs=0

check() {  # check LABEL ARGS...: one run under valgrind in $scratch/run
    label=$1; shift
    log=$scratch/valgrind.log
    # The same run without valgrind: both must print and write the same.
    rm -rf "$scratch/native"; cp -R "$scratch/run" "$scratch/native"
    (cd "$scratch/native" && "$program" "$@" >"$scratch/native.out" 2>&1) || true
    (cd "$scratch/run" && valgrind --tool=memcheck --leak-check=full \
        --show-leak-kinds=definite --track-origins=yes --log-file="$log" \
        "$program" "$@" >"$scratch/run.out" 2>&1) || true
    if ! diff -r "$scratch/native" "$scratch/run" >/dev/null ||
       ! cmp -s "$scratch/native.out" "$scratch/run.out"; then
        echo "$label: output under valgrind differs from the native run"
        diff -r "$scratch/native" "$scratch/run" | head -n 5
        failed=1
    fi
    runs=$((runs + 1))
    errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9]*\) errors.*/\1/p' "$log" | tail -n 1)
    lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tail -n 1)
    if grep -q 'All heap blocks were freed' "$log"; then lost=${lost:-0}; fi
    printf '%-70s errors %s, definitely lost %s bytes\n' "$label" "${errors:-?}" "${lost:-?}"
    if [ "${errors:-x}" != 0 ] || [ "${lost:-x}" != 0 ]; then
        failed=1
        cat "$log"
    fi
}

for xml in "$examples"/*.xml; do
    name=$(basename "$xml")
    rm -rf "$scratch/run"; mkdir "$scratch/run"
    cp "$xml" "$scratch/run/"
    set -- --if "$name"
    hdr=${xml%.xml}.HDR
    if [ -f "$hdr" ]; then cp "$hdr" "$scratch/run/"; set -- "$@" --hdr "$(basename "$hdr")"; fi
    check "$name" "$@"
    # The same file cut in the middle: a parse failure after some records.
    size=$(wc -c <"$xml")
    head -c $((size / 2)) "$xml" >"$scratch/run/$name"
    check "$name (cut at byte $((size / 2)))" "$@"
done
rm -rf "$scratch/run"; mkdir "$scratch/run"
check "missing product file" --if L2SAMPLESST_PSO_2_MISSING.xml --hdr MISSING.HDR

echo "memcheck: $runs runs"
exit $failed
