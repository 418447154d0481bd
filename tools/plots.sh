#!/bin/sh
# Quick looks of converted products.  Writes sample SST_PRD_2, EGG_NOM_2 and
# SST_PRM_2 products (and the header) with l2gen.py into a folder, converts
# them with l2xml2ascii and draws with gnuplot (tools/plots.gp):
#   orbit.png       orbit radius in km and speed in m/s over time
#   gradients.png   the six gravity-gradient components over time
#   quaternion.png  the norm of the rotation quaternions (1 up to rounding)
# Usage: plots.sh PROGRAM FOLDER [RECORDS]   (RECORDS at 1 Hz, default 5400:
# about one orbit)
set -eu
[ $# -ge 2 ] || { echo "usage: $0 PROGRAM FOLDER [RECORDS]" >&2; exit 2; }
program=$1
out=$2
records=${3:-5400}
tools=$(cd "$(dirname "$0")" && pwd)

span=20091101T000000_20091101T235959
prd=L2SAMPLESST_PSO_2_${span}_PRD1.xml
egg=L2SAMPLEEGG_NOM_2_${span}_0001.xml
prm=L2SAMPLESST_PSO_2_${span}_PRM1.xml
hdr=L2SAMPLESST_PSO_2_${span}_PRM1.HDR

mkdir -p "$out"
python3 "$tools/l2gen.py" prd --records "$records" --seed 1 --out "$out/$prd" >/dev/null
python3 "$tools/l2gen.py" egg --records "$records" --seed 1 --out "$out/$egg" >/dev/null
python3 "$tools/l2gen.py" prm --records "$records" --seed 1 --out "$out/$prm" >/dev/null
python3 "$tools/l2gen.py" hdr --seed 1 --out "$out/$hdr" >/dev/null

for product in "$prd" "$egg" "$prm"; do
    "$program" --dir "$out/" --hdr "$hdr" --if "$product" >/dev/null
done

# Each table that was written, to the plot it feeds (plots.gp draws only
# those it is given).
set -- -e "dir='$out'"
drawn=""
for plot in prd:orbit:L2SAMPLESST_PRD_2_${span}_PRD1 egg:gradients:L2SAMPLEEGG_NOM_2_${span}_0001 \
            prm:quaternion:L2SAMPLESST_PRM_2_${span}_PRM1; do
    var=${plot%%:*}; rest=${plot#*:}; png=${rest%%:*}; table=$out/${rest#*:}.ascii
    [ -f "$table" ] || continue
    set -- "$@" -e "$var='$table'"
    drawn="$drawn $png"
done
gnuplot "$@" "$tools/plots.gp"
for png in $drawn; do
    echo "$out/$png.png"
done
