#!/usr/bin/env bash
# Turns the runner's results.tsv (scale, metric, repetition, value) into
# OUT/table.md (min / median / max per metric and scale, and the ratios to
# the floors computed per repetition) and the plot OUT/bench.png.
#   usage: bench/summarize.sh RESULTS_TSV OUT_DIR
set -euo pipefail
results=$1 out=$2

awk -F'\t' -v plotdata="$out/plot.dat" '
function add(s, m, v) { if (!((s, m) in n)) { n[s, m] = 0; if (!(m in known)) { known[m] = 1; order[++nm] = m } }
                        vals[s, m, ++n[s, m]] = v }
function stat(s, m, which,   k, i, j, t, a) {
  k = n[s, m]; if (!k) return ""
  for (i = 1; i <= k; i++) a[i] = vals[s, m, i] + 0
  for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
  if (which == "min") return a[1]
  if (which == "max") return a[k]
  return (k % 2) ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
}
function cell(s, m, fmt,   k) {
  k = n[s, m]; if (!k) return "–"
  if (k == 1) return sprintf(fmt, stat(s, m, "med"))
  return sprintf(fmt " (" fmt "–" fmt ")", stat(s, m, "med"), stat(s, m, "min"), stat(s, m, "max"))
}
{ if (!($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > 0) reps[$1, $3] = 1; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
END {
  # Ratios and per-customer costs, one value per repetition.
  for (i = 1; i <= ns; i++) {
    s = scale[i]; od = v[s, "overdue", 0]; res = v[s, "result_mib", 0]
    for (r = 1; r <= maxrep[s]; r++) {
      f1 = v[s, "F1", r]
      for (run = 0; run < 2; run++) {
        l = run ? "full" : "empty"; w = v[s, l ".wall", r]
        add(s, "ratio." l ".vs_F1+F3", w / (f1 + v[s, "F3." l, r]))
        add(s, "ratio." l ".vs_F1+F2", w / (f1 + v[s, "F2." l, r]))
        add(s, l ".cpu_us_per_overdue", od ? v[s, l ".cpu", r] * 1e6 / od : 0)
        add(s, "ratio." l ".rss_vs_result", res ? v[s, l ".rss_mib", r] / res : 0)
        add(s, "F1+F3." l, f1 + v[s, "F3." l, r]); add(s, "F1+F2." l, f1 + v[s, "F2." l, r])
      }
    }
  }
  head = "| metric |"; rule = "|---|"
  for (i = 1; i <= ns; i++) { head = head " " scale[i] " customers |"; rule = rule "---|" }
  print "Median (min–max) over the repetitions; times in seconds, memory in MiB."
  print ""
  print head; print rule
  for (k = 1; k <= nm; k++) {
    m = order[k]
    fmt = (m ~ /^ratio/) ? "%.2f" : (m ~ /rss|result_mib/) ? "%.1f" : (m ~ /cpu_us/) ? "%.1f" : (m == "overdue") ? "%d" : "%.3f"
    line = "| " m " |"
    for (i = 1; i <= ns; i++) line = line " " cell(scale[i], m, fmt) " |"
    print line
  }
  print "# customers overdue cobrix_empty cobrix_full F1+F3_empty F1+F2_empty F1 rss_empty_mib result_mib" > plotdata
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    printf "%s %s %s %s %s %s %s %s %s\n", s, v[s, "overdue", 0], stat(s, "empty.wall", "med"), stat(s, "full.wall", "med"),
      stat(s, "F1+F3.empty", "med"), stat(s, "F1+F2.empty", "med"), stat(s, "F1", "med"), stat(s, "empty.rss_mib", "med"),
      v[s, "result_mib", 0] > plotdata
  }
}' "$results" > "$out/table.md"
cat "$out/table.md"

gnuplot <<GP
set terminal pngcairo size 1100,450 font "DejaVu Sans,10"
set output "$out/bench.png"
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
set title "memory"
plot "$out/plot.dat" using 1:8 with linespoints lw 2 title "cobrix peak RSS", \
     "" using 1:9 with linespoints dt 2 title "fetched result (text)", \
     "" using 1:(3*\$9) with lines dt 3 title "3 x fetched result"
unset multiplot
GP
echo "gravados: $out/table.md $out/results.tsv $out/bench.png"
