# The many-installations tables (many.sh): together (per installation, each
# run against the same installation's run alone in the same repetition) and
# crowded (per level of other installations' rows, against level 0). Input:
# results.tsv; variables n_inst, customers, via, stale, plotdata (the plot's
# data file). Load after stats.awk.
{ if (!($1 in seen)) { seen[$1] = 1; group[++ng] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
function ratio(g, m, base, out,   r) {
  for (r = 1; r <= maxrep[g]; r++)
    if (((g, m, r) in v) && ((g, base, r) in v)) add(g, out, v[g, m, r] / v[g, base, r])
}
function passed(g, labels,   k, cnt, l, s, t) {
  cnt = split(labels, l, " "); s = 0; t = 0
  for (k = 1; k <= cnt; k++) if (n[g, l[k]]) { s += stat(g, l[k], "sum"); t += n[g, l[k]] }
  return t ? s "/" t : "–"
}
END {
  ins = 0; cro = 0
  for (i = 1; i <= ng; i++) {
    g = group[i]
    if (g ~ /^isp-/ && n[g, "alone.empty.ok"]) ins = 1
    if (g ~ /^crowded-/) { cro = 1; lv[++nl] = g }
    ratio(g, "together.empty.wall", "alone.empty.wall", "x.empty")
    ratio(g, "together.full.wall", "alone.full.wall", "x.full")
  }
  print "Median (min–max) over the repetitions, seconds; × is the run's wall time over the same"
  print "installation's run alone in the same repetition."
  if (ins) {
    printf "\n### %d installations of %d customers started at once (%s)\n\n", n_inst, customers, via
    print "| installation | overdue | alone, empty table | together, empty table | × | alone, full rows | together, full rows | × | delete alone / together (full rows) | ended OK | rows exact |"
    print "|---|---|---|---|---|---|---|---|---|---|---|"
    for (i = 1; i <= ng; i++) {
      g = group[i]; if (g !~ /^isp-/) continue
      printf "| %s | %d | %s | %s | %s | %s | %s | %s | %s / %s | %s | %s |\n", g, v[g, "overdue", 0],
        cell(g, "alone.empty.wall", "%.3f"), cell(g, "together.empty.wall", "%.3f"), cell(g, "x.empty", "%.2f"),
        cell(g, "alone.full.wall", "%.3f"), cell(g, "together.full.wall", "%.3f"), cell(g, "x.full", "%.2f"),
        cell(g, "alone.full.delete", "%.3f"), cell(g, "together.full.delete", "%.3f"),
        passed(g, "alone.empty.ok together.empty.ok alone.full.ok together.full.ok"),
        passed(g, "alone.empty.rows_ok together.empty.rows_ok alone.full.rows_ok together.full.rows_ok")
    }
    printf "\nAll %d at once, first start to last end: empty table %s, full rows %s.\n", n_inst,
      cell("all", "together.empty.makespan", "%.3f"), cell("all", "together.full.makespan", "%.3f")
  }
  if (cro) {
    base = "crowded-0"
    for (i = 2; i <= nl; i++) ratio2(lv[i], base)
    printf "\n### One installation (isp-01, %d overdue) among other installations' rows (%s; %d stale rows put back before each run)\n\n", v["isp-01", "overdue", 0], via, stale
    print "| rows of other installations | table, MiB | wall | × alone | query+fetch | upsert | delete | ended OK | own rows exact | stale rows left | other rows kept |"
    print "|---|---|---|---|---|---|---|---|---|---|---|"
    print "# other_rows total_rows wall upsert delete table_mib" > plotdata
    for (i = 1; i <= nl; i++) {
      g = lv[i]
      printf "| %d | %.1f | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", v[g, "other_rows", 0], v[g, "table_mib", 0],
        cell(g, "run.wall", "%.3f"), (g == base) ? "1" : cell(g, "x", "%.2f"), cell(g, "run.query_fetch", "%.3f"),
        cell(g, "run.upsert", "%.3f"), cell(g, "run.delete", "%.3f"), tally(g, "run.ok"), tally(g, "run.rows_ok"),
        cell(g, "run.stale_left", "%d"), tally(g, "run.others_kept")
      printf "%d %d %s %s %s %s\n", v[g, "other_rows", 0], v[g, "other_rows", 0] + v["isp-01", "overdue", 0],
        med(g, "run.wall"), med(g, "run.upsert"), med(g, "run.delete"), v[g, "table_mib", 0] > plotdata
    }
    fills = ""
    for (i = 1; i <= nl; i++) if (n[lv[i], "fill_s"]) fills = fills sprintf("%s%d rows %.1f s", fills ? ", " : "", v[lv[i], "other_rows", 0], v[lv[i], "fill_s", 0])
    if (fills) printf "\nFilling the table by SQL (cumulative levels, with VACUUM ANALYZE and CHECKPOINT): %s.\n", fills
  }
}
function ratio2(g, base,   r) {
  for (r = 1; r <= maxrep[g]; r++)
    if (((g, "run.wall", r) in v) && ((base, "run.wall", r) in v)) add(g, "x", v[g, "run.wall", r] / v[base, "run.wall", r])
}
