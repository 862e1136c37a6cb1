# The index table (index.sh): per scale and way of sending the pages, the
# upsert's time without and with the retention index, into an empty table and
# over full rows, and what the index adds (ratio and difference, taken within
# each repetition). Input: results.tsv (scale, case.run, repetition, seconds).
# Load after stats.awk.
{ if (!($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
END {
  nw = split("prepared bound", way, " "); split("empty full", run, " ")
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    for (r = 1; r <= maxrep[s]; r++) for (w = 1; w <= nw; w++) for (u = 1; u <= 2; u++) {
      a = way[w] "." run[u]; b = way[w] "+index." run[u]
      if (!((s, a, r) in v) || !((s, b, r) in v)) continue
      add(s, b ".ratio", v[s, b, r] / v[s, a, r])
      add(s, b ".extra_ms", 1000 * (v[s, b, r] - v[s, a, r]))
    }
  }
  print "The upsert with and without the retention index (cobrix_store_bench, synthetic rows, durable"
  print "server): median (min–max) over the repetitions, seconds; \"÷ without\" and \"added\" are taken"
  print "within each repetition against the same way without the index."
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    printf "\n### %s customers' overdue rows (%d)\n\n", s, v[s, "rows", 0]
    print "| way | index | empty table | ÷ without | added, ms | full rows | ÷ without | added, ms |"
    print "|---|---|---|---|---|---|---|---|"
    for (w = 1; w <= nw; w++) {
      a = way[w]; b = way[w] "+index"
      printf "| %s | no | %s | – | – | %s | – | – |\n", a, cell(s, a ".empty", "%.3f"), cell(s, a ".full", "%.3f")
      printf "| %s | yes | %s | %s | %s | %s | %s | %s |\n", a, cell(s, b ".empty", "%.3f"),
        cell(s, b ".empty.ratio", "%.2f"), cell(s, b ".empty.extra_ms", "%.0f"), cell(s, b ".full", "%.3f"),
        cell(s, b ".full.ratio", "%.2f"), cell(s, b ".full.extra_ms", "%.0f")
    }
  }
}
