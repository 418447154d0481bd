# Quick looks of converted tables; run by tools/plots.sh, or by hand with
# gnuplot -e "dir='out'" -e "prd='...'" tools/plots.gp.  Variables:
#   dir  the folder the PNGs go to (default: the current folder)
#   prd  an SST_PRD_2 table: epoch, X, Y, Z (m), clock, VX, VY, VZ (m/s), rate
#   egg  an EGG_NOM_2 table: GPS time, XX, YY, ZZ, XY, XZ, YZ, ...
#   prm  an SST_PRM_2 table: time, Q1, Q2, Q3, Q4
# Each of orbit.png, gradients.png and quaternion.png is drawn when its table
# is given.  Time axes are minutes since each table's first line.
if (!exists("dir")) dir = "."
set terminal pngcairo size 800,520 font "DejaVu Sans,9" noenhanced
set grid
set key off
set xlabel "minutes since first record"
set format y "%g"

minutes(t) = (t - t0) / 60.0

# Orbit radius and speed ---------------------------------------------------
if (exists("prd")) {
    stats prd using 1 nooutput
    t0 = STATS_min
    set output dir."/orbit.png"
    set multiplot layout 2,1 title "SST_PRD_2 reduced-dynamic orbit"
    set xlabel "minutes since first record"
    set ylabel "radius sqrt(x²+y²+z²) [km]"
    plot prd using (minutes($1)):(sqrt($2**2 + $3**2 + $4**2) / 1000.0) with lines lw 1.5 lc rgb "#1f77b4"
    set ylabel "speed [m/s]"
    plot prd using (minutes($1)):(sqrt($6**2 + $7**2 + $8**2)) with lines lw 1.5 lc rgb "#d62728"
    unset multiplot
}

# Gravity gradients ---------------------------------------------------------
if (exists("egg")) {
    stats egg using 1 nooutput
    t0 = STATS_min
    set output dir."/gradients.png"
    set multiplot layout 3,2 title "EGG_NOM_2 gravity gradients (values as in the product)"
    array names[6] = ["XX", "YY", "ZZ", "XY", "XZ", "YZ"]
    unset xlabel
    do for [i = 1:6] {
        if (i >= 5) { set xlabel "minutes since first record" }
        set ylabel names[i]
        plot egg using (minutes($1)):(column(i + 1)) with lines lc rgb "#2ca02c"
    }
    unset multiplot
}

# Quaternion norm -------------------------------------------------------------
if (exists("prm")) {
    stats prm using 1 nooutput
    t0 = STATS_min
    set output dir."/quaternion.png"
    set multiplot layout 2,1 title "SST_PRM_2 rotation quaternions"
    set xlabel "minutes since first record"
    set ylabel "|q| = sqrt(q1²+q2²+q3²+q4²)"
    set yrange [0.99:1.01]
    plot prm using (minutes($1)):(sqrt($2**2 + $3**2 + $4**2 + $5**2)) with lines lw 1.5 lc rgb "#9467bd"
    set autoscale y
    set ylabel "(|q| - 1) x 1e15"
    plot prm using (minutes($1)):((sqrt($2**2 + $3**2 + $4**2 + $5**2) - 1) * 1e15) with dots lc rgb "#9467bd"
    unset multiplot
}
