#!/bin/sh
# The README's recipe for several machines, run for real: GNU parallel spreads
# a shared folder of products over two hosts (-S, --workdir), keeps every
# file's exit status in its joblog, and after the failed file is mended
# --resume-failed converts that one alone.  The two hosts are two sshd on
# loopback ports, each with its own host key, reached with a client key
# through a private ssh configuration; nothing outside a temporary folder is
# changed (sshd, which wants /run/sshd, gets a private /run when the system
# has none).  Needs root, as sshd does to log users in; skips otherwise.
#
# Usage: sh test_parallel_hosts.sh SOURCE-DIR PROGRAM
set -u
source=$(cd "${1:?usage: $0 SOURCE-DIR PROGRAM}" && pwd)
program=${2:?usage: $0 SOURCE-DIR PROGRAM}
case $program in /*) ;; *) program=$(pwd)/$program ;; esac

skip() { echo "parallel-hosts: SKIPPED: $*"; exit 77; }  # SKIP_RETURN_CODE
[ "$(id -u)" = 0 ] || skip "not root: the two hosts are sshd run as a system runs them, by root (make check runs as root)"
sshd=$(command -v sshd || echo /usr/sbin/sshd)
[ -x "$sshd" ] || skip "no sshd: sh tools/ensure-deps.sh check installs openssh-server"
for tool in ssh ssh-keygen parallel timeout python3; do
    command -v "$tool" >/dev/null 2>&1 ||
        skip "no $tool: sh tools/ensure-deps.sh check installs it"
done
private_run=""
if [ ! -d /run/sshd ]; then
    unshare -m sh -c 'mount -t tmpfs -o mode=755 tmpfs /run' 2>/dev/null ||
        skip "sshd needs /run/sshd: there is none, and no private mount namespace (unshare -m) to make one in"
    private_run=1
fi

work=$(mktemp -d)
pids=""     # the sshd
running=""  # the parallel run under way
cleanup() {
    for pid in $pids $running; do kill "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
failures=0
count=0

fail() { echo "not ok - $case_name: $*"; failures=$((failures + 1)); }
check() {  # check NAME CONDITION...
    name=$1; shift
    "$@" || fail "$name"
}
begin() { case_name=$1; count=$((count + 1)); }
stop() {  # stop MESSAGE: the hosts cannot be set up; the logs say why
    echo "not ok - hosts: $*"
    for log in "$work"/sshd*.log; do [ -f "$log" ] && sed 's/^/    /' "$log"; done
    exit 1
}

# --- Two hosts ------------------------------------------------------------------

# The program as installed on every machine: on the PATH that sshd gives.
mkdir -p "$work/bin" "$work/home"
ln -s "$program" "$work/bin/l2xml2ascii"
ssh-keygen -q -t ed25519 -N '' -C client -f "$work/client_key" || stop "no client key"
cp "$work/client_key.pub" "$work/authorized_keys"
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}
: >"$work/ssh_config"
for node in node1 node2; do
    ssh-keygen -q -t ed25519 -N '' -C "$node" -f "$work/${node}_host_key" || stop "no host key"
    port=$(free_port) || stop "no free port"
    set -- "$sshd" -D -f /dev/null -E "$work/sshd-$node.log" \
        -o "ListenAddress=127.0.0.1" -o "Port=$port" -o "HostKey=$work/${node}_host_key" \
        -o "AuthorizedKeysFile=$work/authorized_keys" -o StrictModes=no -o UsePAM=no \
        -o PasswordAuthentication=no -o KbdInteractiveAuthentication=no -o PidFile=none \
        -o "SetEnv=PATH=$work/bin:/usr/local/bin:/usr/bin:/bin"
    if [ -n "$private_run" ]; then
        # unshare and then sh replace themselves by sshd: $! is sshd's id.
        unshare -m sh -c 'mount -t tmpfs -o mode=755 tmpfs /run && mkdir -m 755 /run/sshd &&
                          exec "$@"' sh "$@" &
    else
        "$@" &
    fi
    pids="$pids $!"
    cat >>"$work/ssh_config" <<EOF
Host $node
    HostName 127.0.0.1
    Port $port
    User $(id -un)
    IdentityFile $work/client_key
    IdentitiesOnly yes
    UserKnownHostsFile $work/known_hosts
    GlobalKnownHostsFile /dev/null
    StrictHostKeyChecking no
    BatchMode yes
    ConnectTimeout 10
    LogLevel ERROR
EOF
done
export PARALLEL_SSH="ssh -F $work/ssh_config"
export HOME="$work/home"  # parallel's own files (~/.parallel) stay in the temporary folder
export PATH="$work/bin:$PATH"  # the local machine (":") is one of the hosts too
# Each host answers, at most 100 tries a tenth of a second apart.
for node in node1 node2; do
    tries=0
    until answer=$($PARALLEL_SSH "$node" 'command -v l2xml2ascii' 2>&1); do
        tries=$((tries + 1))
        [ $tries -lt 100 ] || stop "$node does not answer: $answer"
        sleep 0.1
    done
    [ "$answer" = "$work/bin/l2xml2ascii" ] || stop "$node finds the program at '$answer'"
done

# --- A shared folder with one file that fails -------------------------------------

data=$work/shared/data
reference=$work/reference
mkdir -p "$data" "$reference"
stem=L2SAMPLESST_PSO_2_20091101T000000_20091101T235959_
egg=L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.xml
for name in "$egg" "${stem}PCV1.xml" "${stem}PKI1.xml" "${stem}PRD1.xml"; do
    cp "$source/examples/$name" "$data/"
done
broken=${stem}PRD2.xml
broken_table=L2SAMPLESST_PRD_2_20091101T000000_20091101T235959_PRD2.ascii
cp "$source/examples/${stem}PRD1.xml" "$reference/$broken"
size=$(wc -c <"$reference/$broken")
head -c $((size / 2)) "$reference/$broken" >"$data/$broken"
# What each file gives when converted here, the mended one included.
cp "$data"/*.xml "$reference/" && cp "$source/examples/${stem}PRD1.xml" "$reference/$broken"
(cd "$reference" && for f in *.xml; do "$program" --if "$f" >/dev/null 2>&1; done)

# The README's command, word for word; the test runs it as written there.
command='l2xml2ascii --if {} >{}.log 2>&1 || { echo "FAILED {}"; false; }'
readme_uses=$(grep -c -F -- "'$command' ::: *.xml" "$source/README.md")
readme_resumes=$(grep -c -e '^ *parallel -S [^ ]* --workdir [^ ]* --joblog convert.log --resume-failed \\$' \
    "$source/README.md")

# run [OPTION...]: the recipe in the shared folder, bounded in time; sets
# $rc, $out, $err.  It runs in the background so that a signal to the test
# ends it at once (timeout passes the cleanup's SIGTERM on to parallel).
run() {
    (cd "$data" && exec timeout 300 parallel -S 1/node1,1/node2,: --workdir "$data" \
        --joblog convert.log "$@" "$command" ::: *.xml) >"$work/out" 2>"$work/err" &
    running=$!
    wait "$running"
    rc=$?
    running=""
    out=$(cat "$work/out")
    err=$(cat "$work/err")
}
# joblog_status NAME: the exit value of NAME's last line in the joblog.
joblog_status() {
    awk -F '\t' -v name="$1" 'NR > 1 && index($9, name) { s = $7 } END { print s }' "$data/convert.log"
}
same_table() { cmp -s "$reference/$1" "$data/$1"; }


begin "the README runs this recipe"
check "on one machine and on several, resumed on several" \
    [ "$readme_uses" -ge 4 ] && [ "$readme_resumes" -ge 1 ]

begin "a folder over two hosts: one job per file, each file's status in the joblog"
run
check "status: the number of failed files" [ "$rc" = 1 ]
check "the failed file named, alone" [ "$out" = "FAILED $broken" ]
check "a joblog line per file" [ "$(awk 'NR > 1' "$data/convert.log" | wc -l)" = 5 ]
for name in "$egg" "${stem}PCV1.xml" "${stem}PKI1.xml" "${stem}PRD1.xml"; do
    check "$name: exit value 0" [ "$(joblog_status "$name")" = 0 ]
done
check "the truncated file: exit value 1" [ "$(joblog_status "$broken")" = 1 ]
check "the truncated file's reason in its log" grep -q "^TAIHEN: .*$broken" "$data/$broken.log"
for node in node1 node2; do
    check "$node converted" sh -c 'awk -F "\t" "NR > 1 { print \$2 }" "$1" | grep -qx "$2"' sh "$data/convert.log" "$node"
done
for table in L2SAMPLEEGG_NOM_2_20091101T000000_20091101T235959_0001.ascii \
             L2SAMPLESST_PCV_2_20091101T000000_20091101T235959_PCV1.ascii \
             L2SAMPLESST_PKI_2_20091101T000000_20091101T235959_PKI1.ascii \
             L2SAMPLESST_PRD_2_20091101T000000_20091101T235959_PRD1.ascii; do
    check "$table as converted here" same_table "$table"
done

begin "--resume-failed after mending converts the failed file alone"
cp "$reference/$broken" "$data/$broken"
rm -f "$data"/*.ascii
run --resume-failed
check "status 0" [ "$rc" = 0 ]
check "nothing failed" [ -z "$out" ]
check "one more joblog line" [ "$(awk 'NR > 1' "$data/convert.log" | wc -l)" = 6 ]
check "the mended file's last status: 0" [ "$(joblog_status "$broken")" = 0 ]
check "the mended file's table as converted here" same_table "$broken_table"
check "no other file converted again" [ "$(ls "$data" | grep -c '\.ascii$')" = 1 ]

[ -z "$err" ] || { echo "parallel's standard error:"; printf '%s\n' "$err" | sed 's/^/    /'; }
echo "parallel-hosts: $count cases, $failures failed checks"
[ "$failures" = 0 ]
