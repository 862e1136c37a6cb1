# The ways table (ways.sh): per scale, each way, route and run, median
# (min–max) of the repetitions that ended with OK; the time after the query
# and the ratio to F1 + F3 computed per repetition. Input: results.tsv;
# variables ways, routes, runs (comma-separated, in the table's order).
# Load after stats.awk.
{ if (!($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
END {
  nw = split(ways, wl, ","); nr = split(routes, rl, ","); nu = split(runs, ul, ",")
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    for (r = 1; r <= maxrep[s]; r++)
      for (a = 1; a <= nw; a++) for (b = 1; b <= nr; b++) for (c = 1; c <= nu; c++) {
        l = wl[a] "." rl[b] "." ul[c]
        if (!((s, l ".wall", r) in v)) continue
        w = v[s, l ".wall", r]
        add(s, l ".after_query", w - v[s, l ".query_fetch", r])
        add(s, l ".ratio", w / (v[s, "F1", r] + v[s, "F3." ul[c], r]))
      }
  }
  print "Ways of sending the pages, on a durable server (fsync on): median (min–max) over the"
  print "repetitions that ended with OK, seconds; \"after the query\" is the wall time less the"
  print "query-and-fetch phase; the ratio is wall ÷ (F1 + F3) of the same repetition (goal ≤ 0.9)."
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    print ""
    printf "### %s customers (%d overdue, %.1f MiB fetched)\n\n", s, v[s, "overdue", 0], v[s, "result_mib", 0]
    printf "Floors: F1 (query) %s; F3 (literal pages) empty table %s, full rows %s.\n\n",
      cell(s, "F1", "%.3f"), cell(s, "F3.empty", "%.3f"), cell(s, "F3.full", "%.3f")
    print "| way | route | table | ended OK | rows exact | wall | query+fetch | upsert | after the query | delete | peak MiB | ÷ (F1 + F3) |"
    print "|---|---|---|---|---|---|---|---|---|---|---|---|"
    for (a = 1; a <= nw; a++) for (b = 1; b <= nr; b++) for (c = 1; c <= nu; c++) {
      l = wl[a] "." rl[b] "." ul[c]
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", wl[a], rl[b], ul[c],
        tally(s, l ".ok"), tally(s, l ".rows_ok"), cell(s, l ".wall", "%.3f"), cell(s, l ".query_fetch", "%.3f"),
        cell(s, l ".upsert", "%.3f"), cell(s, l ".after_query", "%.3f"), cell(s, l ".delete", "%.3f"),
        cell(s, l ".rss_mib", "%.1f"), cell(s, l ".ratio", "%.2f")
    }
  }
}
