#!/bin/sh
# The decisions of tools/ensure-deps.sh, each in a made-up system: a PATH
# holding only fake tools (compilers, pkg-config, apt-get, id, sudo) and the
# few basic commands the installer itself runs.  The fake apt-get logs its
# calls and "installs" a package by adding the fake tools it brings.
#
# Usage: sh test_ensure_deps.sh SOURCE-DIR
set -u
installer=$(cd "${1:?usage: $0 SOURCE-DIR}" && pwd)/tools/ensure-deps.sh
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
count=0

PROGRAM_PKGS="g++ cmake make pkg-config libxml2-dev zlib1g-dev liblzma-dev libbz2-dev libzstd-dev"
TESTS_PKGS="$PROGRAM_PKGS libgtest-dev python3 gzip xz-utils bzip2 zstd"
PYTHON_PKGS="python3-dev pybind11-dev python3-numpy"
CHECK_PKGS="$TESTS_PKGS clang libclang-rt-dev valgrind gcc openssh-server parallel $PYTHON_PKGS python3-pytest"

# A new made-up system in $fake: apt-get and root unless said otherwise.
new_system() {
    fake=$work/system$count
    rm -rf "$fake"
    mkdir -p "$fake/bin" "$fake/has" "$fake/templates"
    for tool in mkdir rm chmod cat; do ln -s "$(command -v $tool)" "$fake/bin/$tool"; done
    # A compiler: preprocessing finds an included header (gtest/gtest.h,
    # bzlib.h) only once it is there, and linking with libFuzzer works only
    # once the fuzzer runtime is there.
    cat >"$fake/templates/compiler" <<'EOF'
#!/bin/sh
for a; do
    case $a in
        -E) while IFS= read -r line; do
                case $line in
                    *"<"*">"*) h=${line#*<}; h=${h%>*}; [ -f "$FAKE/has/${h##*/}" ] || exit 1 ;;
                esac
            done ;;
        -fsanitize=fuzzer) [ -f "$FAKE/has/libfuzzer" ] || exit 1 ;;
    esac
done
exit 0
EOF
    cat >"$fake/templates/pkg-config" <<'EOF'
#!/bin/sh
[ "$1" = --exists ] && [ -f "$FAKE/has/$2.pc" ]
EOF
    # An interpreter whose imports (and headers) are there once installed.
    cat >"$fake/templates/python3" <<'EOF'
#!/bin/sh
case $2 in
    *Python.h*) [ -f "$FAKE/has/Python.h" ] ;;
    "import "*) [ -f "$FAKE/has/${2#import }" ] ;;
esac
EOF
    cat >"$fake/templates/id" <<'EOF'
#!/bin/sh
echo "$FAKE_UID"
EOF
    cat >"$fake/provide" <<'EOF'
#!/bin/sh
# provide PACKAGE...: what each Debian package adds to the system.
bin() {
    template=$FAKE/templates/$1
    [ -f "$template" ] || template=$FAKE/templates/compiler
    cat "$template" >"$FAKE/bin/$1" && chmod +x "$FAKE/bin/$1"
}
for p; do
    case $p in
        xz-utils) bin xz ;;
        libxml2-dev) : >"$FAKE/has/libxml-2.0.pc" ;;
        zlib1g-dev) : >"$FAKE/has/zlib.pc" ;;
        liblzma-dev) : >"$FAKE/has/liblzma.pc" ;;
        libbz2-dev) : >"$FAKE/has/bzlib.h" ;;
        libzstd-dev) : >"$FAKE/has/libzstd.pc" ;;
        libgtest-dev) : >"$FAKE/has/gtest.h" ;;
        python3-dev) : >"$FAKE/has/Python.h" ;;
        pybind11-dev) : >"$FAKE/has/pybind11.pc" ;;
        python3-numpy) : >"$FAKE/has/numpy" ;;
        python3-pytest) : >"$FAKE/has/pytest" ;;
        python3-lxml) : >"$FAKE/has/lxml.etree" ;;
        gtest-pc) : >"$FAKE/has/gtest.pc" ;;
        clang) bin clang++; bin clang ;;
        libclang-rt-dev) : >"$FAKE/has/libfuzzer" ;;
        openssh-server) bin sshd ;;
        dpkg) bin dpkg-deb ;;
        apt) bin apt-get ;;
        *) bin "$p" ;;
    esac
done
EOF
    cat >"$fake/templates/apt-get" <<'EOF'
#!/bin/sh
echo "apt-get $*" >>"$FAKE/apt.log"
[ "$1" = update ] && exit 0
[ -f "$FAKE/apt-installs-nothing" ] && exit 0
if [ -f "$FAKE/apt-fails" ]; then echo "E: Unable to locate package $4" >&2; exit 100; fi
for p; do
    case $p in install|-*) ;; *) /bin/sh "$FAKE/provide" "$p" ;; esac
done
EOF
    FAKE=$fake sh "$fake/provide" id apt dpkg
    uid=0
}
has() { FAKE=$fake sh "$fake/provide" "$@"; }
drop() { for t; do rm -f "$fake/bin/$t"; done; }

# run SET...: the installer in the made-up system; sets $rc, $out, $err.
run() {
    env -i PATH="$fake/bin" L2_SBIN="$fake/sbin" FAKE="$fake" FAKE_UID="$uid" TMPDIR="$work" \
        ${no_deps:+L2_NO_DEPS=1} ${python_env:+"$python_env"} \
        /bin/sh "$installer" "$@" >"$fake/out" 2>"$fake/err"
    rc=$?
    out=$(cat "$fake/out")
    err=$(cat "$fake/err")
}

apt_calls() { cat "$fake/apt.log" 2>/dev/null; }
# The packages of the one install call, sorted, one line.
installed_packages() {
    grep '^apt-get install' "$fake/apt.log" | tr ' ' '\n' | grep -v -e '^-' -e '^apt-get$' -e '^install$' | sort | tr '\n' ' '
}
sorted() { printf '%s\n' $* | sort | tr '\n' ' '; }

check() {  # check NAME CONDITION...: one assertion of the current case
    name=$1; shift
    if ! "$@"; then
        echo "not ok - $case_name: $name"
        echo "    status $rc; stdout: $out"
        echo "    stderr: $err"
        echo "    apt-get calls: $(apt_calls)"
        failures=$((failures + 1))
    fi
}
begin() { case_name=$1; count=$((count + 1)); new_system; no_deps=""; python_env=""; }

# --- Nothing missing, or nothing asked ----------------------------------------

begin "a complete system is left alone, silently"
has $CHECK_PKGS
for set in program tests fuzz memcheck newest-libxml2 python python-tests check; do
    run "$set"
    check "$set: status 0" [ "$rc" = 0 ]
    check "$set: prints nothing" [ -z "$out$err" ]
done
check "apt-get is never called" [ -z "$(apt_calls)" ]

begin "L2_NO_DEPS=1 skips the check"
no_deps=1
run check
check "status 0" [ "$rc" = 0 ]
check "prints nothing" [ -z "$out$err" ]
check "apt-get is never called" [ -z "$(apt_calls)" ]

begin "any of g++, clang++ or c++ is the C++ compiler"
has $PROGRAM_PKGS
for compiler in clang++ c++; do
    drop g++ clang++ c++
    has "$compiler"
    run program
    check "$compiler alone: status 0" [ "$rc" = 0 ]
    check "$compiler alone: nothing installed" [ -z "$(apt_calls)" ]
done

begin "GoogleTest is found by its pkg-config file or by its header"
has $TESTS_PKGS
rm -f "$fake/has/gtest.h"
has gtest-pc
run tests
check "pkg-config file alone: status 0" [ "$rc" = 0 ]
rm -f "$fake/has/gtest.pc"
has libgtest-dev
run tests
check "header alone: status 0" [ "$rc" = 0 ]
check "nothing installed" [ -z "$(apt_calls)" ]
rm -f "$fake/has/gtest.h"
run tests
check "neither: GoogleTest installed" [ "$(installed_packages)" = "libgtest-dev " ]

begin "sshd counts where a user's PATH does not reach (/usr/sbin), and only for check"
has $CHECK_PKGS
mkdir -p "$fake/sbin"
mv "$fake/bin/sshd" "$fake/sbin/sshd"
uid=1000
run check
check "in an sbin folder: status 0" [ "$rc" = 0 ]
check "in an sbin folder: nothing said" [ -z "$out$err" ]
rm -f "$fake/sbin/sshd" "$fake/bin/parallel"
run tests
check "tests without them: status 0" [ "$rc" = 0 ]
run check
check "check without them: status 1" [ "$rc" = 1 ]
check "check without them: the two packages" \
    [ "$(printf '%s\n' "$err" | grep -c '^    apt-get update && apt-get install -y --no-install-recommends openssh-server parallel$')" = 1 ]

# --- Root with apt: one update, one install -------------------------------------

begin "root on a bare system: make demo's set asks only for the program's needs"
run program
check "status 0" [ "$rc" = 0 ]
check "apt-get update comes first" [ "$(apt_calls | head -n 1)" = "apt-get update -qq" ]
check "one install" [ "$(apt_calls | grep -c '^apt-get install')" = 1 ]
check "without recommended packages" grep -q -- '--no-install-recommends' "$fake/apt.log"
check "exactly the program's packages" [ "$(installed_packages)" = "$(sorted $PROGRAM_PKGS)" ]
check "says what it installs" [ "$out" = "ensure-deps: installing $PROGRAM_PKGS" ]

begin "root: make check's set asks for everything missing in one install"
has $PROGRAM_PKGS valgrind
run check
check "status 0" [ "$rc" = 0 ]
check "update, then one install" [ "$(apt_calls | cut -d' ' -f2 | tr '\n' ' ')" = "update install " ]
check "everything missing and nothing present" \
    [ "$(installed_packages)" = "$(sorted libgtest-dev python3 gzip xz-utils bzip2 zstd clang libclang-rt-dev gcc openssh-server parallel $PYTHON_PKGS python3-pytest)" ]

begin "root: the Python module's needs are asked of the interpreter"
has $PROGRAM_PKGS python3 pybind11-dev
run python-tests
check "status 0" [ "$rc" = 0 ]
check "headers, numpy and pytest installed" \
    [ "$(installed_packages)" = "$(sorted python3-dev python3-numpy python3-pytest)" ]

begin "PYTHON names the interpreter asked"
has $PROGRAM_PKGS $PYTHON_PKGS python3-pytest
python_env="PYTHON=$fake/bin/python3-other"
: >"$fake/apt-installs-nothing"
run python
check "status 1" [ "$rc" = 1 ]
check "that interpreter is missing" \
    [ "$err" = "ensure-deps: still missing after the install: python3, Python headers, numpy" ]

begin "root: clang++ without the libFuzzer runtime"
has $PROGRAM_PKGS clang
rm -f "$fake/has/libfuzzer"
run fuzz
check "status 0" [ "$rc" = 0 ]
check "the fuzzer runtime is installed" grep -q 'libclang-rt-dev' "$fake/apt.log"

begin "root: an install that leaves something missing fails and names it"
: >"$fake/apt-installs-nothing"
has $PROGRAM_PKGS
run tests
check "status 1" [ "$rc" = 1 ]
check "names what is still missing" \
    [ "$err" = "ensure-deps: still missing after the install: GoogleTest, python3, gzip, xz, bzip2, zstd" ]

begin "root: a failing install shows apt's own words, quietly otherwise"
: >"$fake/apt-fails"
has $PROGRAM_PKGS
run tests
check "status 1" [ "$rc" = 1 ]
check "apt's message" sh -c 'printf "%s\n" "$1" | grep -q "^E: Unable to locate package"' sh "$err"
check "then the verdict" [ "$(printf '%s\n' "$err" | tail -n 1)" = "ensure-deps: the install failed" ]
rm -f "$fake/apt-fails"
run tests
check "a good install prints one line" [ "$out" = "ensure-deps: installing libgtest-dev python3 gzip xz-utils bzip2 zstd" ]
check "and nothing on standard error" [ -z "$err" ]

# --- Not root, or no apt: nothing installed, one message --------------------------

begin "not root, with sudo: one complete command, with apt-get update"
uid=1000
has sudo
run check
check "status 1" [ "$rc" = 1 ]
check "apt-get is never called" [ -z "$(apt_calls)" ]
check "one command with every package" \
    [ "$(printf '%s\n' "$err" | grep -c "^    sudo apt-get update && sudo apt-get install -y --no-install-recommends $CHECK_PKGS\$")" = 1 ]
check "the names of what is missing" \
    [ "$(printf '%s\n' "$err" | head -n 1)" = "ensure-deps: missing: C++ compiler (g++ or clang++), cmake, make, pkg-config, libxml2 headers, zlib headers, liblzma headers, libbz2 headers, libzstd headers, GoogleTest, python3, gzip, xz, bzip2, zstd, clang++ with libFuzzer, valgrind, C compiler, sshd, GNU parallel, Python headers, pybind11, numpy, pytest" ]

begin "not root, no sudo: the command to run as root"
uid=1000
has $TESTS_PKGS
run check
check "status 1" [ "$rc" = 1 ]
check "no sudo in the advice" sh -c '! printf "%s" "$1" | grep -q sudo' sh "$err"
check "run as root" \
    [ "$(printf '%s\n' "$err" | grep -c "^    apt-get update && apt-get install -y --no-install-recommends clang libclang-rt-dev valgrind gcc openssh-server parallel $PYTHON_PKGS python3-pytest\$")" = 1 ]

begin "no apt-get: the missing requirements by name"
drop apt-get
has $PROGRAM_PKGS
for uid in 0 1000; do
    run check
    check "uid $uid: status 1" [ "$rc" = 1 ]
    check "uid $uid: names" [ "$(printf '%s\n' "$err" | head -n 1)" = \
        "ensure-deps: missing: GoogleTest, python3, gzip, xz, bzip2, zstd, clang++ with libFuzzer, valgrind, C compiler, apt-get, sshd, GNU parallel, Python headers, pybind11, numpy, pytest" ]
    check "uid $uid: no apt-get advice" sh -c '! printf "%s" "$1" | grep -q "apt-get install"' sh "$err"
done

begin "an unknown set is a usage error"
has $CHECK_PKGS
run check docs
check "status 2" [ "$rc" = 2 ]
check "says which" [ "$err" = "ensure-deps: unknown requirement set 'docs'" ]

echo "ensure-deps: $count cases, $failures failed checks"
[ "$failures" = 0 ]
