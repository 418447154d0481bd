#!/bin/sh
# Makes sure the build and test prerequisites are installed.  As root it
# installs what is missing from Debian's packages; otherwise it prints the one
# command to run and fails.  Extra package names may be given as arguments.
set -eu

missing=""
need() {  # need PACKAGE TEST-COMMAND...
    pkg=$1; shift
    if ! "$@" >/dev/null 2>&1; then missing="$missing $pkg"; fi
}

need g++ command -v g++
need cmake command -v cmake
need make command -v make
need pkg-config command -v pkg-config
need libxml2-dev pkg-config --exists libxml-2.0
need libarchive-dev pkg-config --exists libarchive
# The compressors the tests make compressed products with.
need gzip command -v gzip
need xz-utils command -v xz
need bzip2 command -v bzip2
need zstd command -v zstd
need libgtest-dev test -f /usr/include/gtest/gtest.h
for extra in "$@"; do
    case "$extra" in
        clang) need clang command -v clang++ ;;
        libclang-rt-dev) need libclang-rt-dev sh -c 'ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a' ;;
        valgrind) need valgrind command -v valgrind ;;
        libxml2-utils) need libxml2-utils command -v xmllint ;;
        python3) need python3 command -v python3 ;;
        xz-utils) need xz-utils command -v xz ;;
        time) need time test -x /usr/bin/time ;;
        gnuplot) need gnuplot-nox command -v gnuplot ;;
        *) need "$extra" dpkg -s "$extra" ;;
    esac
done

[ -z "$missing" ] && exit 0
if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "installing:$missing"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
else
    echo "missing packages:$missing" >&2
    echo "run: sudo apt-get install$missing" >&2
    exit 1
fi
