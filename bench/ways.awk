# The before/after table (ways.sh): per scale, each build, route and run,
# median (min–max) of the repetitions that ended with OK; the time after the
# query, what is left besides the logged phases, the ratio to F1 + F3 and the
# ratio to the before build's same run (wall and upsert) computed per
# repetition. Input: results.tsv; variables builds, routes, runs
# (comma-separated, in the table's order). Load after stats.awk.
$1 == "revision" { rev[$2] = $4; next }
{ if (!($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
function per_before(s, l, b, m, r) {
  if (((s, l "." m, r) in v) && ((s, b "." m, r) in v) && v[s, b "." m, r] > 0)
    add(s, l "." m "_vs_before", v[s, l "." m, r] / v[s, b "." m, r])
}
END {
  nb = split(builds, bl, ","); nr = split(routes, rl, ","); nu = split(runs, ul, ",")
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    for (r = 1; r <= maxrep[s]; r++)
      for (a = 1; a <= nb; a++) for (b = 1; b <= nr; b++) for (c = 1; c <= nu; c++) {
        l = bl[a] "." rl[b] "." ul[c]
        if (!((s, l ".wall", r) in v)) continue
        w = v[s, l ".wall", r]
        add(s, l ".after_query", w - v[s, l ".query_fetch", r])
        add(s, l ".other", w - v[s, l ".query_fetch", r] - v[s, l ".records", r] - v[s, l ".upsert", r] - v[s, l ".delete", r])
        add(s, l ".ratio", w / (v[s, "F1", r] + v[s, "F3." ul[c], r]))
        if (bl[a] != "before") {
          per_before(s, l, "before." rl[b] "." ul[c], "wall", r)
          per_before(s, l, "before." rl[b] "." ul[c], "upsert", r)
        }
      }
  }
  print "Before and after on a durable server (fsync on): median (min–max) over the repetitions"
  print "that ended with OK, seconds; \"after the query\" is the wall time less the query-and-fetch"
  print "phase, \"other\" the wall time less every logged phase (connection, table check, index"
  print "build, exit); ÷ (F1 + F3) is wall over the floors of the same repetition (goal ≤ 0.9);"
  print "÷ before is the run's wall (upsert) over the before build's same run in the same repetition."
  if ("before" in rev) printf "Before: %s; after: the working tree.\n", rev["before"]
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    print ""
    printf "### %s customers (%d overdue, %.1f MiB fetched)\n\n", s, v[s, "overdue", 0], v[s, "result_mib", 0]
    printf "Floors: F1 (query) %s; F3 (literal pages) empty table %s, full rows %s.\n\n",
      cell(s, "F1", "%.3f"), cell(s, "F3.empty", "%.3f"), cell(s, "F3.full", "%.3f")
    print "| build | route | table | ended OK | rows exact | index after | wall | query+fetch | upsert | delete | after the query | other | peak MiB | ÷ (F1 + F3) | wall ÷ before | upsert ÷ before |"
    print "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    for (a = 1; a <= nb; a++) for (b = 1; b <= nr; b++) for (c = 1; c <= nu; c++) {
      l = bl[a] "." rl[b] "." ul[c]
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", bl[a], rl[b], ul[c],
        tally(s, l ".ok"), tally(s, l ".rows_ok"), tally(s, l ".index"), cell(s, l ".wall", "%.3f"),
        cell(s, l ".query_fetch", "%.3f"), cell(s, l ".upsert", "%.3f"), cell(s, l ".delete", "%.3f"),
        cell(s, l ".after_query", "%.3f"), cell(s, l ".other", "%.3f"), cell(s, l ".rss_mib", "%.1f"),
        cell(s, l ".ratio", "%.2f"), cell(s, l ".wall_vs_before", "%.2f"), cell(s, l ".upsert_vs_before", "%.2f")
    }
  }
}
