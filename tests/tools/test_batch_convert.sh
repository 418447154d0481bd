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
for tool in sh xargs nproc basename dirname grep cat mktemp rm find sort awk tr wc touch; do
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
check "only the summary" [ "$out" = "6 converted, 0 failed" ] && [ -z "$err" ]
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
check "the damaged one is named, alone, then the counts" \
    [ "$out" = "FAILED ${stem}7.xml.gz
2 converted, 1 failed" ]
check "with the program's reason" sh -c 'printf "%s\n" "$1" | grep -q "^TAIHEN: .*${2}7.xml.gz"' sh "$err" "$stem"
check "the good ones converted" [ -f "$damaged/${table}1.ascii" ] && [ -f "$damaged/${table}2.ascii" ]
check "nothing made from the other files" [ "$(tables "$damaged")" = 2 ]

begin "sub-folders are walked, as deep as -m allows"
tree=$work/tree
mkdir -p "$tree/2009/11/01" "$tree/2009/11/02 (late)" "$tree/empty"
cp "$products/${stem}1.xml" "$tree/"
cp "$products/${stem}2.xml.gz" "$tree/2009/"
cp "$products/${stem}3.xml.xz" "$tree/2009/11/01/"
head -c 300 "$products/${stem}2.xml.gz" >"$tree/2009/11/02 (late)/${stem}7.xml.gz"
run PATH="$NO_PROGRAM_PATH" sh "$script" -m 2 -p "$program" "$tree/"
check "-m 2: status 0" [ "$rc" = 0 ]
check "-m 2: the two upper levels only" [ "$out" = "2 converted, 0 failed" ]
check "-m 2: nothing below" [ ! -f "$tree/2009/11/01/${table}3.ascii" ]
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$tree"
check "every level: status 1" [ "$rc" = 1 ]
check "every level: the failed one named from the folder on, then the counts" \
    [ "$out" = "FAILED 2009/11/02 (late)/${stem}7.xml.gz
3 converted, 1 failed" ]
check "tables beside their products" \
    [ -f "$tree/${table}1.ascii" ] && [ -f "$tree/2009/${table}2.ascii" ] && [ -f "$tree/2009/11/01/${table}3.ascii" ]
check "the deepest one as the plain one" cmp -s "$tree/${table}1.ascii" "$tree/2009/11/01/${table}3.ascii"

begin "nothing to convert: status 1 and the folder named"
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$tree/empty"
check "status 1" [ "$rc" = 1 ]
check "says so" [ "$err" = "batch-convert.sh: no product files found in $tree/empty" ]
check "no summary" [ -z "$out" ]
run PATH="$NO_PROGRAM_PATH" sh "$script" -m 1 -p "$program" "$tree/2009/11"
check "products only deeper than -m: status 1" [ "$rc" = 1 ]
check "products only deeper than -m: says so" \
    [ "$err" = "batch-convert.sh: no product files found in $tree/2009/11" ]

begin "converter options after -- reach every conversion; wrong ones stop it at once"
opts=$work/opts
mkdir -p "$opts/a" "$opts/b"
cp "$source/examples/${stem}1.xml" "$opts/a/"
cp "$source/examples/L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_PRP1.xml" "$opts/b/"
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$opts" -- --column-names --split-documents
check "status 0" [ "$rc" = 0 ]
check "counts" [ "$out" = "2 converted, 0 failed" ]
check "--column-names reached the table" \
    [ "$(head -n 1 "$opts/a/${table}1.ascii")" = "# gps_time[s] X[m] Y[m] Z[m] clock" ]
documents=$opts/b/L2SAMPLESST_PRP_2_20091101T000000_20091101T235959_PRP1
check "--split-documents reached the documents" \
    [ -f "${documents}_1.pdf" ] && [ -f "${documents}_2.pdf" ] && [ ! -e "$documents.pdf" ]
rm -f "$opts"/*/*.ascii "$opts"/*/*.pdf
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$opts" -- --column-names --colour
check "a wrong option: status 2" [ "$rc" = 2 ]
check "a wrong option: the converter's words, once" \
    [ "$(printf '%s\n' "$err" | grep -c "unrecognized option '--colour'")" = 1 ]
check "a wrong option: nothing converted" [ -z "$out" ] && [ "$(tables "$opts/a")" = 0 ]

begin "inputs that would write the same outputs: the first converts, the others fail"
same=$work/same
mkdir -p "$same/x" "$same/y" "$same/tables"
cp "$products/${stem}1.xml" "$products/${stem}2.xml.gz" "$same/x/"
gzip -c "$products/${stem}1.xml" >"$same/x/${stem}1.xml.gz"
cp "$products/${stem}2.xml.gz" "$same/y/"
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$same"
check "one folder: status 1" [ "$rc" = 1 ]
check "one folder: the compressed twin fails" [ "$out" = "FAILED x/${stem}1.xml.gz
3 converted, 1 failed" ]
check "one folder: and why" \
    [ "$err" = "batch-convert.sh: x/${stem}1.xml.gz: same output names as x/${stem}1.xml, not converted" ]
check "one folder: the table is the plain one's, once" cmp -s "$products/${table}1.ascii" "$same/x/${table}1.ascii"
rm -f "$same"/*/*.ascii
run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" "$same" -- --out-dir "$same/tables"
check "--out-dir: status 1" [ "$rc" = 1 ]
check "--out-dir: the same name in two folders fails too" [ "$out" = "FAILED x/${stem}1.xml.gz
FAILED y/${stem}2.xml.gz
2 converted, 2 failed" ]
check "--out-dir: one table each" [ "$(tables "$same/tables")" = 2 ] && [ "$(tables "$same/x")" = 0 ]
check "--out-dir: the table is the plain one's, once" cmp -s "$products/${table}2.ascii" "$same/tables/${table}2.ascii"

begin "help and wrong use"
run PATH="$NO_PROGRAM_PATH" sh "$script" --help
check "--help: status 0" [ "$rc" = 0 ]
check "--help: the usage on standard output" \
    [ "$(printf '%s\n' "$out" | head -n 1)" = "usage: batch-convert.sh [-j JOBS] [-m DEPTH] [-p PROGRAM] [-H HEADER] FOLDER [-- OPTION...]" ]
run PATH="$NO_PROGRAM_PATH" sh "$script" -h
check "-h: the same" [ "$rc" = 0 ] && [ -n "$out" ] && [ -z "$err" ]
for wrong in "-x $tree" "-j 0 $tree" "-m two $tree" "$tree $products" "-j"; do
    # shellcheck disable=SC2086  # the words of the case
    run PATH="$NO_PROGRAM_PATH" sh "$script" -p "$program" $wrong
    check "'$wrong': status 2" [ "$rc" = 2 ]
    check "'$wrong': nothing on standard output" [ -z "$out" ]
done

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
