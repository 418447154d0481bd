#!/bin/sh
# Writes the seed corpora of the fuzz harnesses into OUT (default
# fuzz/corpus-work/seeds): OUT/product (every product file of examples/,
# plain and compressed, and of the "--- file" sections of
# tests/cases/*.cases), OUT/header (the header
# files among them), OUT/command_line (the "--- args" sections, one word a
# line) and OUT/base64 (a few encoded texts).
#
# Usage: sh fuzz/make_seeds.sh [OUT]      (from the top of the source tree)
set -eu
OUT=${1:-fuzz/corpus-work/seeds}
rm -rf "$OUT"
mkdir -p "$OUT/product" "$OUT/header" "$OUT/command_line" "$OUT/base64"

for f in examples/*.xml; do cp "$f" "$OUT/product/"; done
# Every example again in each compressed form whose tool is at hand, so
# that fuzzing reaches the decoders and what follows their streams.
for tool in gzip xz bzip2 zstd; do
    command -v "$tool" >/dev/null 2>&1 || continue
    for f in examples/*.xml; do "$tool" -q -c <"$f" >"$OUT/product/$(basename "$f").$tool"; done
done
for f in examples/*.HDR; do cp "$f" "$OUT/header/"; done

# Sections of the case files.  A section runs from its "--- " line to the next
# "---"/"===" line; "noeol" drops the newline of its last line.
for cases in tests/cases/*.cases; do
    stem=$(basename "$cases" .cases)
    awk -v out="$OUT" -v stem="$stem" '
        function flush(   path) {
            if (kind == "") return
            if (noeol) sub(/\n$/, "", body)
            n++
            if (kind == "args") {
                path = out "/command_line/" stem "-" n
            } else if (name ~ /\.(HDR|hdr)$/) {
                path = out "/header/" stem "-" n
            } else {
                path = out "/product/" stem "-" n
            }
            printf "%s", body > path
            close(path)
            kind = ""
        }
        /^(===|---)/ {
            flush()
            if ($1 == "---" && $2 == "args") { kind = "args"; body = ""; noeol = 0 }
            else if ($1 == "---" && $2 == "file") {
                kind = "file"; name = $3; body = ""; noeol = ($4 == "noeol")
            }
            next
        }
        kind != "" { body = body $0 "\n" }
        END { flush() }
    ' "$cases"
done

# Command lines that name the files the command-line harness provides.
printf -- '--if\nL2FUZZINSST_PSO_2_20091101T000000_CMDL.xml\n' > "$OUT/command_line/plain"
printf -- '-i\nL2FUZZINSST_PSO_2_20091101T000000_CMDL.xml\n--hdr\nH.HDR\n' > "$OUT/command_line/header"
printf -- '--di=sub/\n--if=L2FUZZINSST_PSO_2_20091101T000000_CMDL.xml\n' > "$OUT/command_line/dir"
printf -- '--column-names\n--split-documents\n--progress\nL2FUZZINSST_PSO_2_20091101T000000_CMDL.xml\n' > "$OUT/command_line/extras"
printf -- '--max-memory=1\nL2FUZZINSST_PSO_2_20091101T000000_CMDL.xml\n' > "$OUT/command_line/memory"

printf 'TWFu' > "$OUT/base64/man"
printf 'TWE=\n' > "$OUT/base64/pad1"
printf 'TQ==' > "$OUT/base64/pad2"
printf 'JVBE\r\n  Ri0x\tLjQK' > "$OUT/base64/wrapped"
printf 'A=B=C' > "$OUT/base64/stray_pads"

for d in product header command_line base64; do
    printf '%-13s %4d files\n' "$d" "$(ls "$OUT/$d" | wc -l)"
done
