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

gnuplot -e "dir='$out'" \
        -e "prd='$out/L2SAMPLESST_PRD_2_${span}_PRD1.ascii'" \
        -e "egg='$out/L2SAMPLEEGG_NOM_2_${span}_0001.ascii'" \
        -e "prm='$out/L2SAMPLESST_PRM_2_${span}_PRM1.ascii'" \
        "$tools/plots.gp"
for png in orbit gradients quaternion; do
    echo "$out/$png.png"
done
