#!/bin/sh
# Works out, in one pass, which prerequisites of the named requirement sets
# are missing, and gets them all in one step.
#
#   sh tools/ensure-deps.sh SET...
#
# Sets:
#   program         a C++ compiler (g++, clang++ or c++), cmake, make,
#                   pkg-config, libxml2, zlib, liblzma, libbz2 and libzstd
#                   headers
#   tests           program + GoogleTest, Python 3, gzip, xz, bzip2, zstd
#   fuzz            program + clang++ with libFuzzer for this machine
#   memcheck        program + valgrind
#   newest-libxml2  tests + a C compiler, apt-get, dpkg-deb
#   python          program + the Python module's needs: pybind11, and for
#                   the interpreter $PYTHON (default: python3 on the PATH)
#                   its headers and numpy
#   python-tests    python + pytest for that interpreter
#   check           tests, fuzz, memcheck and newest-libxml2 together, and
#                   sshd and GNU parallel (the run over several hosts), and
#                   python-tests
#   bench           program + python + Python 3, xmllint, GNU time, lxml
#   plots           program + Python 3, gnuplot
#
# What it does when something is missing:
#   root, apt-get on the PATH   apt-get update, then one apt-get install
#                               --no-install-recommends of every missing
#                               package, then checks again
#   apt-get but not root        prints the one command to run, exits 1
#   no apt-get                  names what is missing, exits 1
# Nothing is printed when nothing is missing; L2_NO_DEPS=1 skips the check.
# Everything is looked up on the PATH (the user id with `id -u`); sshd also
# in the folders of L2_SBIN (default /usr/sbin /sbin), which a user's PATH
# often lacks.
set -u

me=ensure-deps

[ "${L2_NO_DEPS:-0}" = 1 ] && exit 0
[ $# -gt 0 ] || { echo "usage: $0 SET..." >&2; exit 2; }

# The requirements of the sets, in order, each once.
wanted=""
want() {
    for r in "$@"; do
        case " $wanted " in *" $r "*) ;; *) wanted="$wanted $r" ;; esac
    done
}
add_set() {
    case $1 in
        program) want cxx cmake make pkg-config libxml2 zlib liblzma libbz2 libzstd ;;
        tests) add_set program; want gtest python3 gzip xz bzip2 zstd ;;
        fuzz) add_set program; want libfuzzer ;;
        memcheck) add_set program; want valgrind ;;
        newest-libxml2) add_set tests; want cc apt-get dpkg-deb ;;
        python) add_set program; want python3 python-headers pybind11 numpy ;;
        python-tests) add_set python; want pytest ;;
        check) add_set tests; add_set fuzz; add_set memcheck; add_set newest-libxml2
               want sshd parallel; add_set python-tests ;;
        bench) add_set program; add_set python; want xmllint time lxml ;;
        plots) add_set program; want python3 gnuplot ;;
        *) echo "$me: unknown requirement set '$1'" >&2; exit 2 ;;
    esac
}
for s in "$@"; do add_set "$s"; done

have() { command -v "$1" >/dev/null 2>&1; }

# The interpreter the Python module is built for (the Makefile names it).
python=${PYTHON:-python3}
# python_can CODE: the interpreter runs CODE without an error.
python_can() { "$python" -c "$1" >/dev/null 2>&1; }

cxx() {
    for c in g++ clang++ c++; do have "$c" && { echo "$c"; return 0; }; done
    return 1
}

# have_header HEADER: the compiler finds it.
have_header() {
    compiler=$(cxx) || return 1
    printf '#include <%s>\n' "$1" | "$compiler" -x c++ -E -o /dev/null - >/dev/null 2>&1
}

# GoogleTest: its pkg-config file, or its header where the compiler looks.
have_gtest() {
    pkg-config --exists gtest >/dev/null 2>&1 && return 0
    have_header gtest/gtest.h
}

# libFuzzer as clang++ links it on this machine, whatever its architecture.
have_libfuzzer() {
    have clang++ || return 1
    probe=${TMPDIR:-/tmp}/l2-ensure-deps.$$
    mkdir -p "$probe" || return 1
    printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
        'extern "C" int LLVMFuzzerTestOneInput(const uint8_t *, size_t) { return 0; }' \
        >"$probe/probe.cpp"
    clang++ -fsanitize=fuzzer "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1
    ok=$?
    rm -rf "$probe"
    return $ok
}

# probe REQUIREMENT: status 0 when present.  describe REQUIREMENT: its name
# for people, then the Debian packages that bring it.
probe() {
    case $1 in
        cxx) cxx >/dev/null ;;
        cc) have cc || have gcc || have clang ;;
        libxml2) pkg-config --exists libxml-2.0 ;;
        zlib) pkg-config --exists zlib ;;
        liblzma) pkg-config --exists liblzma ;;
        libbz2) have_header bzlib.h ;;  # no pkg-config file on Debian 12
        libzstd) pkg-config --exists libzstd ;;
        gtest) have_gtest ;;
        libfuzzer) have_libfuzzer ;;
        time) [ -x /usr/bin/time ] ;;  # the benchmark runs /usr/bin/time itself
        python3) have "$python" ;;
        python-headers) python_can 'import os, sys, sysconfig
sys.exit(not os.path.exists(os.path.join(sysconfig.get_paths()["include"], "Python.h")))' ;;
        pybind11) pkg-config --exists pybind11 ;;
        numpy) python_can 'import numpy' ;;
        pytest) python_can 'import pytest' ;;
        lxml) python_can 'import lxml.etree' ;;
        sshd) have sshd || {
                  for d in ${L2_SBIN-/usr/sbin /sbin}; do [ -x "$d/sshd" ] && return 0; done
                  false; } ;;
        *) have "$1" ;;
    esac >/dev/null 2>&1
}
describe() {
    case $1 in
        cxx) echo "C++ compiler (g++ or clang++)|g++" ;;
        cc) echo "C compiler|gcc" ;;
        libxml2) echo "libxml2 headers|libxml2-dev" ;;
        zlib) echo "zlib headers|zlib1g-dev" ;;
        liblzma) echo "liblzma headers|liblzma-dev" ;;
        libbz2) echo "libbz2 headers|libbz2-dev" ;;
        libzstd) echo "libzstd headers|libzstd-dev" ;;
        gtest) echo "GoogleTest|libgtest-dev" ;;
        libfuzzer) echo "clang++ with libFuzzer|clang libclang-rt-dev" ;;
        xz) echo "xz|xz-utils" ;;
        xmllint) echo "xmllint|libxml2-utils" ;;
        time) echo "GNU time|time" ;;
        gnuplot) echo "gnuplot|gnuplot-nox" ;;
        apt-get) echo "apt-get|apt" ;;
        python-headers) echo "Python headers|python3-dev" ;;
        pybind11) echo "pybind11|pybind11-dev" ;;
        numpy) echo "numpy|python3-numpy" ;;
        pytest) echo "pytest|python3-pytest" ;;
        lxml) echo "lxml|python3-lxml" ;;
        dpkg-deb) echo "dpkg-deb|dpkg" ;;
        sshd) echo "sshd|openssh-server" ;;
        parallel) echo "GNU parallel|parallel" ;;
        *) echo "$1|$1" ;;
    esac
}

# Sets $names (for people) and $packages (for apt-get) to what is missing.
find_missing() {
    names=""
    packages=""
    for r in $wanted; do
        probe "$r" && continue
        d=$(describe "$r")
        names="$names${names:+, }${d%%|*}"
        for p in ${d#*|}; do
            case " $packages " in *" $p "*) ;; *) packages="$packages${packages:+ }$p" ;; esac
        done
    done
}

find_missing
[ -z "$names" ] && exit 0

if ! have apt-get; then
    echo "$me: missing: $names" >&2
    echo "$me: install these with the system's package manager, then run the same command again" >&2
    exit 1
fi

install="apt-get install -y --no-install-recommends $packages"
if [ "$(id -u 2>/dev/null)" = 0 ]; then
    # apt's and dpkg's chatter goes to a log, shown only when they fail.
    log=${TMPDIR:-/tmp}/l2-ensure-deps-apt.$$.log
    echo "$me: installing $packages"
    if ! { apt-get update -qq &&
           DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends $packages
         } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        echo "$me: the install failed" >&2
        exit 1
    fi
    rm -f "$log"
    find_missing
    [ -z "$names" ] && exit 0
    echo "$me: still missing after the install: $names" >&2
    exit 1
fi

echo "$me: missing: $names" >&2
if have sudo; then
    echo "$me: install them with this command, then run the same command again:" >&2
    echo "    sudo apt-get update && sudo $install" >&2
else
    echo "$me: install them as root with this command, then run the same command again:" >&2
    echo "    apt-get update && $install" >&2
fi
exit 1
