#!/bin/sh
# Builds the newest libxml2 release from Debian's unstable package
# libxml2-source (a package holding the upstream source tarball) and runs the
# project's test suite against it.
#
#   tools/newest-libxml2.sh [LIBXML2_DIR [BUILD_DIR]]
#
# LIBXML2_DIR (default build-libxml2-new) holds the private apt state, the
# downloaded package, the unpacked source, libxml2's own build and its install
# under LIBXML2_DIR/install; BUILD_DIR (default build-newest-libxml2) is the
# project's Release build against it.  The download and the libxml2 build are
# done once (LIBXML2_DIR/.built names what was built); later runs only build
# the project and run ctest.  Remove LIBXML2_DIR to fetch anew.
#
# The package comes from the same Debian mirror the system's apt sources name,
# read from /etc/apt at run time; apt runs with its own sources list, state and
# cache under LIBXML2_DIR, so the system's apt configuration and lists are
# never touched.  Needs apt-get, dpkg-deb, tar with xz, cmake and a C compiler
# (`sh tools/ensure-deps.sh newest-libxml2` installs what is missing).
set -eu

top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
dir=${1:-build-libxml2-new}
build=${2:-build-newest-libxml2}
jobs=${JOBS:-2}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
prefix=$dir/install
stamp=$dir/.built

fail() {
    echo "newest-libxml2: $*" >&2
    exit 1
}

# The URI of the system's Debian archive: the first enabled apt source that
# carries the system's own release (bookworm, not bookworm-security), in the
# one-line format or the deb822 format.  Prints "URI KEYRING" (KEYRING may be
# empty when the source names none).
system_mirror() {
    codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
    [ -n "$codename" ] || return 1
    for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
        [ -f "$f" ] || continue
        awk -v suite="$codename" '
            /^[ \t]*deb[ \t]/ {
                key = ""; i = 2
                if ($2 ~ /^\[/) {
                    for (; i <= NF; i++) {
                        if ($i ~ /signed-by=/) { key = $i; sub(/.*signed-by=/, "", key); sub(/\]$/, "", key) }
                        if ($i ~ /\]$/) { i++; break }
                    }
                }
                if ($(i + 1) == suite) { print $i, key; exit }
            }' "$f"
    done
    for f in /etc/apt/sources.list.d/*.sources; do
        [ -f "$f" ] || continue
        # deb822 stanzas are separated by blank lines.
        awk -v suite="$codename" '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && enabled != "no" && (" " suites " ") ~ (" " suite " "))
                    { split(uris, u, " "); print u[1], key; found = 1; exit }
                types = ""; uris = ""; suites = ""; key = ""; enabled = ""
            }
            /^[ \t]*#/ { next }
            /^[ \t]*$/ { flush(); next }
            { field = tolower($1); sub(/:$/, "", field); $1 = ""; sub(/^ +/, "")
              if (field == "types") types = $0
              else if (field == "uris") uris = $0
              else if (field == "suites") suites = $0
              else if (field == "signed-by") key = $0
              else if (field == "enabled") enabled = tolower($0) }
            END { if (!found) flush() }' "$f"
    done
}

fetch_and_build() {
    for tool in apt-get dpkg-deb tar xz cmake; do
        command -v "$tool" >/dev/null 2>&1 || fail "$tool is missing (sh tools/ensure-deps.sh newest-libxml2 installs it)"
    done
    mirror=$(system_mirror | head -n 1)
    [ -n "$mirror" ] || fail "no Debian mirror found in the system's apt sources"
    uri=${mirror%% *}
    keyring=${mirror#* }
    [ -f "$keyring" ] || keyring=/usr/share/keyrings/debian-archive-keyring.gpg
    echo "== libxml2-source from unstable at $uri"

    apt_dir=$dir/apt
    rm -rf "$apt_dir" "$dir/deb" "$dir/src" "$dir/libxml2-build" "$prefix"
    mkdir -p "$apt_dir/state/lists/partial" "$apt_dir/cache/archives/partial" "$dir/deb" "$dir/src"
    echo "deb [signed-by=$keyring] $uri sid main" >"$apt_dir/sources.list"
    # Only the package list itself: no translations, no contents indexes.
    # Unstable's Release file is valid for a week only; a mirror that is a
    # dated snapshot serves one already expired, which apt refuses unless told
    # otherwise (its signature is still checked).
    set -- -o Dir::Etc::SourceList="$apt_dir/sources.list" -o Dir::Etc::SourceParts=- \
        -o Dir::State="$apt_dir/state" -o Dir::Cache="$apt_dir/cache" \
        -o Dir::State::status=/var/lib/dpkg/status -o Debug::NoLocking=1 \
        -o Acquire::Languages=none -o APT::Sandbox::User="$(id -un)" \
        -o Acquire::Retries=2 -o Acquire::http::Timeout=60 -o Acquire::Check-Valid-Until=false \
        -o Acquire::IndexTargets::deb::Contents-deb::DefaultEnabled=false
    apt-get -q "$@" update >"$apt_dir/update.log" 2>&1 \
        || { cat "$apt_dir/update.log" >&2; fail "cannot read Debian unstable's package list from $uri"; }
    (cd "$dir/deb" && apt-get -q "$@" download libxml2-source) >"$apt_dir/download.log" 2>&1 \
        || { cat "$apt_dir/download.log" >&2; fail "cannot download libxml2-source from $uri"; }
    rm -rf "$apt_dir/state/lists"  # the unstable package list is not needed again
    deb=$(ls "$dir"/deb/libxml2-source_*.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || fail "apt-get download left no libxml2-source package"
    echo "== $(basename "$deb")"

    dpkg-deb -x "$deb" "$dir/deb/root"
    tarball=$(find "$dir/deb/root" -name 'libxml2*.tar.*' | head -n 1)
    [ -n "$tarball" ] || fail "no source tarball inside $(basename "$deb")"
    tar -xf "$tarball" -C "$dir/src"
    source=$(find "$dir/src" -mindepth 1 -maxdepth 2 -name CMakeLists.txt | head -n 1)
    [ -n "$source" ] || fail "no CMakeLists.txt in the unpacked source"
    source=$(dirname "$source")

    echo "== building libxml2 in $dir/libxml2-build"
    # zlib on; ICU, Python, lzma and HTTP off; library only.
    cmake -S "$source" -B "$dir/libxml2-build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib -DBUILD_SHARED_LIBS=ON \
        -DLIBXML2_WITH_ZLIB=ON -DLIBXML2_WITH_ICU=OFF -DLIBXML2_WITH_PYTHON=OFF \
        -DLIBXML2_WITH_LZMA=OFF -DLIBXML2_WITH_HTTP=OFF -DLIBXML2_WITH_TESTS=OFF \
        -DLIBXML2_WITH_PROGRAMS=OFF -DLIBXML2_WITH_DOCS=OFF \
        >"$dir/libxml2-configure.log" 2>&1 \
        || { tail -n 40 "$dir/libxml2-configure.log" >&2; fail "libxml2 does not configure"; }
    cmake --build "$dir/libxml2-build" -j "$jobs" >"$dir/libxml2-build.log" 2>&1 \
        || { tail -n 40 "$dir/libxml2-build.log" >&2; fail "libxml2 does not build"; }
    cmake --install "$dir/libxml2-build" >/dev/null
    version=$(sed -n 's/^#define LIBXML_DOTTED_VERSION "\(.*\)"/\1/p' "$prefix/include/libxml2/libxml/xmlversion.h")
    [ -n "$version" ] || fail "no version in the installed xmlversion.h"
    echo "$version $(basename "$deb")" >"$stamp"
}

if [ -f "$stamp" ] && [ -f "$prefix/include/libxml2/libxml/xmlversion.h" ]; then
    echo "== libxml2 $(cat "$stamp") (already built in $dir)"
else
    fetch_and_build
fi
version=$(cut -d' ' -f1 "$stamp")

# The project against it.  The tests learn which libxml2 they must find at run
# time from L2_EXPECT_LIBXML2_VERSION; the libraries' own run paths point at
# $prefix/lib, so no LD_LIBRARY_PATH is needed (nor set).
# The XML files of its source (Debian's repacked source leaves out the test
# folder; its documentation, examples and Python tests remain) are inputs on
# which the project's two event sources must agree (L2_XML_CORPUS).
corpus=$(find "$dir/src" -mindepth 1 -maxdepth 2 -name CMakeLists.txt | head -n 1)
corpus=${corpus%/CMakeLists.txt}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
    -DL2_EXPECT_LIBXML2_VERSION="$version" -DL2_XML_CORPUS="$corpus" >/dev/null
cmake --build "$build" -j "$jobs"

# Each binary must resolve libxml2 to the one built here, not the system's.
for binary in "$build/l2xml2ascii" "$build/tests/unit_tests" "$build/tests/e2e_tests"; do
    found=$(ldd "$binary" | awk '$1 ~ /^libxml2\.so/ { print $3 }')
    case "$found" in
        "$prefix"/lib/*) echo "== $(basename "$binary") loads $found" ;;
        *) fail "$binary loads libxml2 from '${found:-nowhere}', not from $prefix/lib" ;;
    esac
done

# And the version the library itself reports once loaded (the suite's
# Libxml2Runtime test asserts it).
"$build/tests/unit_tests" --gtest_filter='Libxml2Runtime.*' | grep '^libxml2 at run time' \
    || fail "the unit tests do not run against libxml2 $version"

cd "$build" && rm -f ctest.log && ctest --output-on-failure -j "$jobs" -O ctest.log
