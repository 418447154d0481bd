#!/bin/sh
# Converts every product file of an examples folder into a demo folder and
# lists what was written.  Usage: demo.sh PROGRAM EXAMPLES-DIR DEMO-DIR
set -eu
program=$1
examples=$2
demo=$3

rm -rf "$demo"
mkdir -p "$demo"
cp "$examples"/*.xml "$demo"/
header=""
for h in "$examples"/*.HDR; do
    [ -f "$h" ] || continue
    cp "$h" "$demo"/
    header=$(basename "$h")
done

failed=0
for product in "$demo"/*.xml; do
    name=$(basename "$product")
    echo "== $name"
    if [ -n "$header" ]; then
        "$program" --if "$name" --hdr "$header" --dir "$demo/" || failed=1
    else
        "$program" --if "$name" --dir "$demo/" || failed=1
    fi
done

echo
echo "== written to $demo/:"
for f in "$demo"/*; do
    case "$f" in *.xml|*.HDR) continue ;; esac
    lines=$(wc -l < "$f")
    bytes=$(wc -c < "$f")
    printf '%-72s %8s lines %10s bytes\n' "$(basename "$f")" "$lines" "$bytes"
done
exit $failed
