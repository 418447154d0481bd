#!/bin/sh
# Converts every product file of a folder and of its sub-folders (*.xml,
# plain or compressed as *.xml.gz, .xz, .bz2, .zst or .zstd) with
# l2xml2ascii, several files at a time, one conversion per file.
# Run with --help for the options; the exit status is 0 when every file
# converted, 1 when any failed or there was none, 2 when it cannot run.
set -u
me=$(basename "$0")

usage() {
    cat <<EOF
usage: $me [-j JOBS] [-m DEPTH] [-p PROGRAM] [-H HEADER] FOLDER [-- OPTION...]

Converts every product file (*.xml, *.xml.gz, .xz, .bz2, .zst, .zstd) in
FOLDER and its sub-folders with l2xml2ascii, one conversion per file, JOBS at
a time.  The outputs go beside each product, or where the converter options
say (--out-dir).

  -j JOBS     conversions at the same time (default: the number of CPUs)
  -m DEPTH    look at most DEPTH folder levels down: 1 is FOLDER's own files
              only, 2 also those of its sub-folders (default: every level)
  -p PROGRAM  the converter (default: \$L2XML2ASCII, else the l2xml2ascii in
              this script's own folder, as installed, else l2xml2ascii on
              the PATH)
  -H HEADER   header file given to every conversion with --hdr; a relative
              name is taken in FOLDER
  -h, --help  this text
  -- OPTION...  every word after -- goes to each conversion, before the
              file's name (--column-names, --split-documents, --out-dir DIR)

Prints "FAILED PATH" (PATH from FOLDER on) for every file that did not
convert with exit status 0, and that conversion's "TAIHEN: " lines on
standard error, then one line "N converted, M failed".  Files whose names
agree up to the first "." would write the same outputs (X.xml and X.xml.gz,
or with --out-dir the same name in two folders): the first in name order is
converted, the others count as failed.
EOF
}
die() { echo "$me: $*" >&2; exit 2; }
is_count() { case $1 in ''|*[!0-9]*|0*) return 1 ;; esac; }

jobs=$(nproc 2>/dev/null || echo 4)
depth=""
program=${L2XML2ASCII:-}
if [ -z "$program" ]; then
    program=l2xml2ascii
    own=$(dirname "$0")/l2xml2ascii
    [ -f "$own" ] && [ -x "$own" ] && program=$own
fi
header=""
folder=""
# Options and FOLDER in any order; what follows -- is the converter's.
while [ $# -gt 0 ]; do
    case $1 in
        -h|--help) usage; exit 0 ;;
        -j|-m|-p|-H)
            [ $# -ge 2 ] || { usage >&2; die "option $1 needs a value"; }
            case $1 in
                -j) jobs=$2 ;;
                -m) depth=$2 ;;
                -p) program=$2 ;;
                -H) header=$2 ;;
            esac
            shift 2 ;;
        --) shift; break ;;
        -?*) usage >&2; die "unknown option $1" ;;
        *)
            [ -z "$folder" ] || { usage >&2; die "one FOLDER only: $folder and $1"; }
            folder=$1; shift ;;
    esac
done
[ -n "$folder" ] || { usage >&2; die "no FOLDER given"; }
is_count "$jobs" || die "-j wants a number of jobs from 1 on, not '$jobs'"
[ -z "$depth" ] || is_count "$depth" || die "-m wants a depth from 1 on, not '$depth'"
[ -d "$folder" ] || die "$folder is not a folder"
# The program is looked up once here, so that a missing one is said once
# rather than found out by every conversion.
case $program in
    */*) [ -f "$program" ] && [ -x "$program" ] ;;
    *) command -v "$program" >/dev/null 2>&1 ;;
esac || die "$program not found: put it on the PATH or give -p PROGRAM"
given=$folder
while :; do
    case $folder in /) break ;; */) folder=${folder%/} ;; *) break ;; esac
done
case $folder in -*) folder=./$folder ;; esac  # not an option of find
# What is cut from the front of a path to show it from FOLDER on.
case $folder in /) strip=/ ;; *) strip=$folder/ ;; esac
if [ -n "$header" ]; then
    case $header in /*) ;; *) header=$folder/$header ;; esac
    [ -f "$header" ] || die "header file $header not found"
fi
# Converter options are tried once without a file: a wrong one is then
# refused here, with the converter's own words, and not by every conversion.
# Without an input the converter ends with status 255 and touches nothing.
if [ $# -gt 0 ]; then
    said=$("$program" "$@" </dev/null 2>&1 >/dev/null)
    if [ $? -ne 255 ]; then
        [ -z "$said" ] || printf '%s\n' "$said" >&2
        die "these converter options do not convert files: $*"
    fi
fi
# With --out-dir (any unambiguous prefix of it) every output lands in one
# folder, so names that agree in two folders collide as well.
shared_out=0
for option; do
    case $option in --o|--o=*|--ou*) shared_out=1 ;; esac
done

work=$(mktemp -d) || die "cannot make a temporary folder"
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

newline='
'
find_products() {  # find_products TEST...: product files, symbolic links to files included
    find "$folder" ${depth:+-maxdepth "$depth"} \( -type f -o \( -type l -xtype f \) \) \
        \( -name '*.xml' -o -name '*.xml.gz' -o -name '*.xml.xz' -o -name '*.xml.bz2' \
           -o -name '*.xml.zst' -o -name '*.xml.zstd' \) "$@"
}
find_products ! -path "*$newline*" -print | LC_ALL=C sort >"$work/found"
odd=$(find_products -path "*$newline*" -print0 | tr -cd '\0' | wc -c)
found=$(wc -l <"$work/found")
if [ "$found" -eq 0 ] && [ "$odd" -eq 0 ]; then
    echo "$me: no product files found in $given" >&2
    exit 1
fi

# The first file of every output stem is converted; a later one is listed
# after the file it collides with, and not converted.
awk -v shared="$shared_out" -v todo="$work/todo" -v clash="$work/clash" '
    {
        n = split($0, part, "/")
        stem = part[n]
        sub(/\..*/, "", stem)
        key = (shared ? "" : substr($0, 1, length($0) - length(part[n]))) stem
        if (key in first) { print $0 >clash; print first[key] >clash }
        else { first[key] = $0; print $0 >todo }
    }' "$work/found"
touch "$work/todo" "$work/clash"

# One conversion; its arguments: the program, the header (may be empty),
# what to cut from the file's path to show it, the converter options, and
# last, as xargs puts it, the file.
# shellcheck disable=SC2016  # expanded by the sh that xargs starts
convert='
    program=$1 header=$2 strip=$3
    shift 3
    n=$# i=0
    for word; do
        i=$((i + 1))
        [ $i -eq 1 ] && set --
        if [ $i -lt $n ]; then set -- "$@" "$word"; else path=$word; fi
    done
    if [ -n "$header" ]; then
        errors=$("$program" "$@" --hdr "$header" --if "$path" 2>&1 >/dev/null)
    else
        errors=$("$program" "$@" --if "$path" 2>&1 >/dev/null)
    fi
    [ $? -eq 0 ] && exit 0
    echo "FAILED ${path#"$strip"}"
    printf "%s\n" "$errors" | grep "^TAIHEN: " >&2
    exit 1
'

failed=0
shown() { printf '%s' "${1#"$strip"}"; }
while IFS= read -r path && IFS= read -r earlier; do
    echo "FAILED $(shown "$path")"
    echo "$me: $(shown "$path"): same output names as $(shown "$earlier"), not converted" >&2
    failed=$((failed + 1))
done <"$work/clash"
if [ "$odd" -gt 0 ]; then
    echo "$me: $odd product file(s) with a line break in the name, not converted" >&2
    failed=$((failed + odd))
fi

# The FAILED lines pass through here as they come, and are counted.
tr '\n' '\0' <"$work/todo" |
    { xargs -0 -r -n 1 -P "$jobs" sh -c "$convert" sh "$program" "$header" "$strip" "$@"
      echo $? >"$work/status"; } |
    { n=0
      while IFS= read -r line; do
          printf '%s\n' "$line"
          case $line in "FAILED "*) n=$((n + 1)) ;; esac
      done
      echo "$n" >"$work/failed"; }
status=$(cat "$work/status")
case $status in
    0|123) ;;  # 123: at least one conversion failed
    *) echo "$me: xargs failed (status $status)" >&2; exit 2 ;;
esac
failed=$((failed + $(cat "$work/failed")))
echo "$((found + odd - failed)) converted, $failed failed"
[ "$failed" -eq 0 ]
