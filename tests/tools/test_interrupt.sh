#!/bin/sh
# A run ended by SIGINT, SIGTERM or SIGHUP while it converts its second
# input: that input's partial outputs are removed, the first input's table
# stays whole, standard output is flushed, the last line says so, and the
# exit status is 128 + the signal's number.
#
# Usage: sh test_interrupt.sh SOURCE-DIR PROGRAM
set -u
source=$(cd "${1:?usage: $0 SOURCE-DIR PROGRAM}" && pwd)
program=${2:?usage: $0 SOURCE-DIR PROGRAM}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

stem=L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_
python3 "$source/tools/l2gen.py" pki --records 20 --out "$work/${stem}PKI1.xml" || exit 1
# Big enough that the run is still converting it when the signal comes.
python3 "$source/tools/l2gen.py" pki --size-mb 150 --out "$work/${stem}PKI2.xml" || exit 1
first_table=L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKI1.ascii
second_table=L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKI2.ascii
(cd "$work" && "$program" "${stem}PKI1.xml" >/dev/null 2>&1 && mv "$first_table" whole.ascii)

fail() { echo "not ok - $L2XML2ASCII_PATH: $1"; failures=$((failures + 1)); }

# Both event sources: the push parser's outputs have names of their own
# until its pass is kept.
for L2XML2ASCII_PATH in fast reader; do
export L2XML2ASCII_PATH
for signal in INT TERM HUP; do
    rm -f "$work/$first_table" "$work/$second_table" "$work/$second_table.l2part"
    (cd "$work" && exec "$program" "${stem}PKI1.xml" "${stem}PKI2.xml" >out 2>err) &
    pid=$!
    # Until the second table has begun to fill (at most 60 s), under its
    # own name or the one it has while the conversion may still be made
    # again.
    tries=0
    while [ ! -s "$work/$second_table" ] && [ ! -s "$work/$second_table.l2part" ] &&
          [ $tries -lt 600 ]; do
        sleep 0.05
        tries=$((tries + 1))
    done
    [ -s "$work/$second_table" ] || [ -s "$work/$second_table.l2part" ] ||
        fail "$signal: the second table never began"
    kill -s "$signal" "$pid"
    wait "$pid"
    rc=$?
    case $signal in INT) want=130 ;; TERM) want=143 ;; HUP) want=129 ;; esac
    [ "$rc" -eq "$want" ] || fail "$signal: exit status $rc, not $want"
    [ ! -e "$work/$second_table" ] && [ ! -e "$work/$second_table.l2part" ] ||
        fail "$signal: the partial table is still there"
    cmp -s "$work/$first_table" "$work/whole.ascii" || fail "$signal: the first table is not whole"
    last=$(tail -n 1 "$work/err")
    [ "$last" = "TAIHEN: interrupted by SIG$signal: partial outputs of ${stem}PKI2.xml removed" ] ||
        fail "$signal: last line of standard error: $last"
    grep -q "output to: $second_table" "$work/out" || fail "$signal: standard output was not flushed"
done
done

if [ $failures -gt 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "interrupted runs: all checks passed"
