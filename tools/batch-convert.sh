#!/bin/sh
# Converts every product file of a folder (*.xml, plain or compressed as
# *.xml.gz, .xz, .bz2, .zst) with l2xml2ascii, several files at a time; the
# tables are written next to the products.  Prints "FAILED name" for every
# file whose conversion did not end with exit status 0 (and on standard error
# that run's "TAIHEN: " lines), and exits with status 1 when any file failed.
#
# Usage: batch-convert.sh [-j JOBS] [-p PROGRAM] [-H HEADER] FOLDER
#   -j JOBS     conversions run at the same time (default: number of CPUs)
#   -p PROGRAM  the converter (default: $L2XML2ASCII, else l2xml2ascii on PATH)
#   -H HEADER   header file in FOLDER, given to every conversion with --hdr
set -u

usage() {
    echo "usage: $0 [-j JOBS] [-p PROGRAM] [-H HEADER] FOLDER" >&2
    exit 2
}

jobs=$(nproc 2>/dev/null || echo 4)
program=${L2XML2ASCII:-l2xml2ascii}
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
[ -d "$folder" ] || { echo "$0: $folder is not a folder" >&2; exit 2; }
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

for f in "$folder"*.xml "$folder"*.xml.gz "$folder"*.xml.xz "$folder"*.xml.bz2 "$folder"*.xml.zst; do
    [ -f "$f" ] || continue
    printf '%s\0' "${f##*/}"
done | xargs -0 -n 1 -P "$jobs" sh -c "$convert" sh "$program" "$folder" "$header"
case $? in
    0) exit 0 ;;
    123) exit 1 ;;  # at least one conversion failed
    *) echo "$0: xargs failed" >&2; exit 2 ;;
esac
