#!/bin/sh
# tools/batch-convert.sh on a folder of plain and compressed products, with
# the program missing, and installed next to the program.
#
# Usage: sh test_batch_convert.sh SOURCE-DIR PROGRAM
set -u
source=$(cd "${1:?usage: $0 SOURCE-DIR PROGRAM}" && pwd)
program=${2:?usage: $0 SOURCE-DIR PROGRAM}
script=$source/tools/batch-convert.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
count=0

# A PATH with the system's tools but without the program.
mkdir "$work/bin"
for tool in sh xargs nproc basename dirname grep cat; do
    ln -s "$(command -v $tool)" "$work/bin/$tool"
done
NO_PROGRAM_PATH=$work/bin

check() {  # check NAME CONDITION...
    name=$1; shift
    if ! "$@"; then
        echo "not ok - $case_name: $name"
        echo "    status $rc; stdout: $out"
        echo "    stderr: $err"
        failures=$((failures + 1))
    fi
}
begin() { case_name=$1; count=$((count + 1)); }
# run [VAR=VALUE...] -- ARGUMENTS...: the script; sets $rc, $out, $err.
run() {
    env -i "$@" >"$work/out" 2>"$work/err"
    rc=$?
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}
tables() { ls "$1" | grep -c '\.ascii$'; }

stem=L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PKI
table=L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKI
products=$work/products
mkdir "$products"
cp "$source/examples/${stem}1.xml" "$products/"
gzip -c "$products/${stem}1.xml" >"$products/${stem}2.xml.gz"
xz -c "$products/${stem}1.xml" >"$products/${stem}3.xml.xz"
bzip2 -c "$products/${stem}1.xml" >"$products/${stem}4.xml.bz2"
zstd -q -c "$products/${stem}1.xml" >"$products/${stem}5.xml.zst"
zstd -q -c "$products/${stem}1.xml" >"$products/${stem}6.xml.zstd"

begin "without the program: one reason, nothing converted"
run PATH="$NO_PROGRAM_PATH" sh "$script" "$products"
check "status 2" [ "$rc" = 2 ]
check "one line saying why" \
    [ "$err" = "batch-convert.sh: l2xml2ascii not found: put it on the PATH or give -p PROGRAM" ]
check "no file reported as failed" [ -z "$out" ]
check "no table written" [ "$(tables "$products")" = 0 ]
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$work/nowhere/l2xml2ascii" "$products"
check "-p naming no file: status 2" [ "$rc" = 2 ]
check "-p naming no file: says so" \
    [ "$err" = "batch-convert.sh: $work/nowhere/l2xml2ascii not found: put it on the PATH or give -p PROGRAM" ]

begin "every compressed form converts as the plain file does"
run PATH="$NO_PROGRAM_PATH" sh "$script" -j 2 -p "$program" "$products"
check "status 0" [ "$rc" = 0 ]
check "nothing reported" [ -z "$out$err" ]
check "one table per product" [ "$(tables "$products")" = 6 ]
for n in 2 3 4 5 6; do
    check "table $n as the plain one's" cmp -s "$products/${table}1.ascii" "$products/${table}$n.ascii"
done

begin "a damaged product is named, the others still convert, other files are left alone"
damaged=$work/damaged
mkdir "$damaged"
cp "$products/${stem}1.xml" "$products/${stem}2.xml.gz" "$damaged/"
head -c 20 "$products/${stem}2.xml.gz" >"$damaged/${stem}7.xml.gz"
echo "not a product" >"$damaged/notes.txt"
echo "not a product" >"$damaged/${stem}8.xml.log"
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$damaged"
check "status 1" [ "$rc" = 1 ]
check "the damaged one is named, alone" [ "$out" = "FAILED ${stem}7.xml.gz" ]
check "with the program's reason" sh -c 'printf "%s\n" "$1" | grep -q "^TAIHEN: .*${2}7.xml.gz"' sh "$err" "$stem"
check "the good ones converted" [ -f "$damaged/${table}1.ascii" ] && [ -f "$damaged/${table}2.ascii" ]
check "nothing made from the other files" [ "$(tables "$damaged")" = 2 ]

begin "installed next to the program, it uses that one"
installed=$work/installed/bin
mkdir -p "$installed" "$work/own"
cp "$script" "$installed/batch-convert.sh"
ln -s "$program" "$installed/l2xml2ascii"
cp "$products/${stem}1.xml" "$work/own/"
run PATH="$NO_PROGRAM_PATH" sh "$installed/batch-convert.sh" "$work/own"
check "status 0" [ "$rc" = 0 ]
check "converted" [ -f "$work/own/${table}1.ascii" ]

echo "batch-convert: $count cases, $failures failed checks"
[ "$failures" = 0 ]
