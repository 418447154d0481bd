#!/bin/sh
# Fails one allocation at a time, every one in turn, over a small conversion
# of a plain and a gzip product with a header file: every run must end
# normally, say "out of memory" when it fails, and keep what it wrote.
#
# Usage: sh test_allocation_failures.sh PROGRAM PRELOAD-LIBRARY
set -u
program=${1:?usage: $0 PROGRAM PRELOAD-LIBRARY}
library=${2:?usage: $0 PROGRAM PRELOAD-LIBRARY}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

printf '%s\n' '<Data_Block><SST_PSO_2><SST_PRM_2><List_of_Rotation_Records>' \
    '<Rotation_Record><GPS_Time>0.5</GPS_Time><q1>0.25</q1><q2>0.5</q2><q3>0.75</q3><q4>1</q4></Rotation_Record>' \
    '</List_of_Rotation_Records></SST_PRM_2></SST_PSO_2></Data_Block>' >L2SAMPLESST_PSO_2_a.xml
printf '%s\n' '<Data_Block><SST_PSO_2><SST_PCV_2><List_of_Covariance_Records>' \
    '<Covariance_Record row="1" column="2">3.5</Covariance_Record>' \
    '</List_of_Covariance_Records></SST_PCV_2></SST_PSO_2></Data_Block>' | gzip -c -n >L2SAMPLESST_PSO_2_b.xml
printf '%s' '<Earth_Explorer_Header><Variable_Header><SPH><SST_PSO_2><SST_PRM_2><Epoch_Information>' \
    '<Reference>2009-11-01 00:00:00 GPS</Reference></Epoch_Information></SST_PRM_2></SST_PSO_2></SPH>' \
    '</Variable_Header></Earth_Explorer_Header>' >H.HDR
outputs="L2SAMPLESST_PRM_2_a.ascii L2SAMPLESST_PCV_2_b.ascii"

convert() {
    rm -f $outputs
    LD_PRELOAD=$library timeout 20 "$program" --hdr H.HDR L2SAMPLESST_PSO_2_a.xml L2SAMPLESST_PSO_2_b.xml \
        >out.txt 2>err.txt
}

L2_FAIL_ALLOCATION=0 L2_COUNT_ALLOCATIONS=1 convert
rc=$?
count=$(sed -n 's/^allocations: \([0-9][0-9]*\)$/\1/p' err.txt)
if [ "$rc" != 0 ] || [ -z "$count" ] || [ "$count" -lt 20 ]; then
    echo "not ok - the conversion without failures: status $rc, allocations '${count}'"
    cat err.txt
    exit 1
fi
mkdir expected && cp $outputs expected/

failures=0
n=1
while [ "$n" -le "$count" ]; do
    L2_FAIL_ALLOCATION=$n convert
    rc=$?
    problem=""
    case $rc in
        0) grep -q '^TAIHEN:' err.txt && problem="status 0 after a failure line" ;;
        1) grep -q -e '^TAIHEN: out of memory' -e '^TAIHEN: .*Cannot allocate memory' err.txt ||
               problem="status 1 without an out-of-memory line" ;;
        *) problem="status $rc" ;;
    esac
    # What was written stays: a table is whole or, cut by the failure, the
    # start of the whole one; a run that succeeded wrote every table whole.
    for f in $outputs; do
        [ -f "$f" ] || { [ "$rc" = 0 ] && problem="$problem; $f missing"; continue; }
        size=$(wc -c <"$f")
        head -c "$size" "expected/$f" | cmp -s - "$f" || problem="$problem; $f differs"
        [ "$rc" = 0 ] && ! cmp -s "expected/$f" "$f" && problem="$problem; $f incomplete"
    done
    if [ -n "$problem" ]; then
        echo "not ok - allocation $n of $count failing: $problem"
        sed 's/^/    /' err.txt
        failures=$((failures + 1))
    fi
    n=$((n + 1))
done
echo "allocation failures: $count runs, $failures wrong"
[ "$failures" = 0 ]
