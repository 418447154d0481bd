#!/bin/sh
# Converts every product file of a folder (*.xml, plain or compressed as
# *.xml.gz, .xz, .bz2, .zst or .zstd) with l2xml2ascii, several files at a
# time; the tables are written next to the products.  Prints "FAILED name" for
# every file whose conversion did not end with exit status 0 (and on standard
# error that run's "TAIHEN: " lines), and exits with status 1 when any file
# failed, 2 when it cannot run at all (no such folder, no program).
#
# Usage: batch-convert.sh [-j JOBS] [-p PROGRAM] [-H HEADER] FOLDER
#   -j JOBS     conversions run at the same time (default: number of CPUs)
#   -p PROGRAM  the converter (default: $L2XML2ASCII, else the l2xml2ascii in
#               this script's own folder, as installed, else l2xml2ascii on
#               the PATH)
#   -H HEADER   header file in FOLDER, given to every conversion with --hdr
set -u
me=$(basename "$0")

usage() {
    echo "usage: $me [-j JOBS] [-p PROGRAM] [-H HEADER] FOLDER" >&2
    exit 2
}

jobs=$(nproc 2>/dev/null || echo 4)
program=${L2XML2ASCII:-}
if [ -z "$program" ]; then
    program=l2xml2ascii
    own=$(dirname "$0")/l2xml2ascii
    [ -f "$own" ] && [ -x "$own" ] && program=$own
fi
header=""
while getopts j:p:H: opt; do
    case $opt in
        j) jobs=$OPTARG ;;
        p) program=$OPTARG ;;
        H) header=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[ $# -eq 1 ] || usage
folder=$1
[ -d "$folder" ] || { echo "$me: $folder is not a folder" >&2; exit 2; }
# The program is looked up once here, so that a missing one is said once
# rather than found out by every conversion.
case $program in
    */*) [ -f "$program" ] && [ -x "$program" ] ;;
    *) command -v "$program" >/dev/null 2>&1 ;;
esac || {
    echo "$me: $program not found: put it on the PATH or give -p PROGRAM" >&2
    exit 2
}
case $folder in */) ;; *) folder=$folder/ ;; esac

# One conversion; its arguments: program, folder, header (may be empty), name.
# The folder goes to --dir and the bare name to --if, so that the output names
# derive from the name and the tables land in the folder.
# shellcheck disable=SC2016  # expanded by the sh that xargs starts
convert='
    program=$1 folder=$2 header=$3 name=${4:-}
    [ -n "$name" ] || exit 0  # xargs without input still runs once
    if [ -n "$header" ]; then
        errors=$("$program" --dir "$folder" --hdr "$header" --if "$name" 2>&1 >/dev/null)
    else
        errors=$("$program" --dir "$folder" --if "$name" 2>&1 >/dev/null)
    fi
    status=$?
    [ $status -eq 0 ] && exit 0
    echo "FAILED $name"
    printf "%s\n" "$errors" | grep "^TAIHEN: " >&2
    exit 1
'

for f in "$folder"*.xml "$folder"*.xml.gz "$folder"*.xml.xz "$folder"*.xml.bz2 \
         "$folder"*.xml.zst "$folder"*.xml.zstd; do
    [ -f "$f" ] || continue
    printf '%s\0' "${f##*/}"
done | xargs -0 -n 1 -P "$jobs" sh -c "$convert" sh "$program" "$folder" "$header"
case $? in
    0) exit 0 ;;
    123) exit 1 ;;  # at least one conversion failed
    *) echo "$me: xargs failed" >&2; exit 2 ;;
esac
