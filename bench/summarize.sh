#!/usr/bin/env bash
# Turns the runner's results.tsv (scale, metric, repetition, value) into
# OUT/table.md (min / median / max per metric and scale, the ratios to the
# floors computed per repetition, and peak memory against the fetched result
# and the memory goal) and the plot OUT/bench.png.
#   usage: bench/summarize.sh RESULTS_TSV OUT_DIR
# MEM_GOALS: the peak-memory goal per scale, SCALE=MIB[,FACTOR] (at most MIB,
# and at most FACTOR times the fetched result); default "100000=15 1000000=90,3".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
results=$1 out=$2
mkdir -p "$out"
goals=${MEM_GOALS:-100000=15 1000000=90,3}

awk -F'\t' -v plotdata="$out/plot.dat" -v goals="$goals" -f "$here/stats.awk" -f "$here/summarize.awk" \
  "$results" > "$out/table.md"
cat "$out/table.md"

if ! command -v gnuplot > /dev/null; then
  echo "gravados: $out/table.md $results (sem gráfico: gnuplot não instalado)"
  exit 0
fi
gnuplot <<GP
set terminal pngcairo size 1100,450 font "DejaVu Sans,10"
set output "$out/bench.png"
set datafile missing "-"
set multiplot layout 1,2 title "cobrix: normal run against the servers' floors (medians)"
set logscale xy
set xlabel "customers"
set grid
set key top left
set format x "%.0s%c"
set ylabel "seconds"
set title "time"
plot "$out/plot.dat" using 1:3 with linespoints lw 2 title "cobrix, empty table", \
     "" using 1:4 with linespoints lw 2 title "cobrix, full rows", \
     "" using 1:5 with linespoints dt 2 title "F1+F3 (query + literal pages)", \
     "" using 1:6 with linespoints dt 3 title "F1+F2 (query + COPY)", \
     "" using 1:7 with linespoints dt 4 title "F1 (query)"
set ylabel "MiB"
set title "peak memory"
plot "$out/plot.dat" using 1:8 with linespoints lw 2 title "cobrix peak RSS, empty table", \
     "" using 1:10 with linespoints lw 2 title "cobrix peak RSS, full rows", \
     "" using 1:9 with linespoints dt 2 title "fetched result (text)", \
     "" using 1:(3*\$9) with lines dt 3 title "3 x fetched result", \
     "" using 1:11 with points pt 9 ps 2 lc rgb "red" title "goal at the scale"
unset multiplot
GP
echo "gravados: $out/table.md $results $out/bench.png"
