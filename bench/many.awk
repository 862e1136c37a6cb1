# The many-installations tables (many.sh): together (per installation, each
# run against the same installation's run alone in the same repetition),
# crowded (per level of other installations' rows and build, against the
# same build at level 0) and wave (percentiles over the installations within
# each repetition, then their median and range over the repetitions). Input:
# results.tsv; variables n_inst, customers, via, stale, builds, wave_n,
# wave_customers, at_once, plotdata (the plot's data file). Load after
# stats.awk.
$1 == "revision" { rev = $4; next }
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
  ins = 0; cro = 0; wav = 0
  for (i = 1; i <= ng; i++) {
    g = group[i]
    if (g ~ /^isp-/ && n[g, "alone.empty.ok"]) ins = 1
    if (g ~ /^crowded-/) { cro = 1; lv[++nl] = g }
    if (g ~ /^wave:/) wav = 1
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
    base = "crowded-0"; nb = split(builds, bl, ",")
    for (i = 2; i <= nl; i++) for (b = 1; b <= nb; b++) ratio2(lv[i], base, bl[b])
    printf "\n### One installation (isp-01, %d overdue) among other installations' rows (%s; %d stale rows put back before each run)\n\n", v["isp-01", "overdue", 0], via, stale
    print "after: the working tree; before: " (rev != "" ? rev : "the before build") "; (index): with the retention index, built by the fill step."
    print "Wall and delete of after include its summary: computing it (phase summary) and writing it in the delete's round trip."
    print ""
    print "| rows of other installations | build | table, MiB | wall | × alone | query+fetch | upsert | delete | ended OK | own rows exact | stale rows left | other rows kept |"
    print "|---|---|---|---|---|---|---|---|---|---|---|---|"
    print "# other_rows total_rows wall upsert delete table_mib before_wall before_delete" > plotdata
    for (i = 1; i <= nl; i++) {
      g = lv[i]
      for (b = 1; b <= nb; b++) {
        l = bl[b]
        printf "| %d | %s | %.1f | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", v[g, "other_rows", 0],
          l (v[g, l ".index", 0] ? " (index)" : ""), v[g, l ".table_mib", 0],
          cell(g, l ".wall", "%.3f"), (g == base) ? "1" : cell(g, l ".x", "%.2f"), cell(g, l ".query_fetch", "%.3f"),
          cell(g, l ".upsert", "%.3f"), cell(g, l ".delete", "%.3f"), tally(g, l ".ok"), tally(g, l ".rows_ok"),
          cell(g, l ".stale_left", "%d"), tally(g, l ".others_kept")
      }
      printf "%d %d %s %s %s %s %s %s\n", v[g, "other_rows", 0], v[g, "other_rows", 0] + v["isp-01", "overdue", 0],
        med(g, "after.wall"), med(g, "after.upsert"), med(g, "after.delete"), v[g, "after.table_mib", 0],
        med(g, "before.wall"), med(g, "before.delete") > plotdata
    }
    fills = ""
    for (i = 1; i <= nl; i++) if (n[lv[i], "fill_s"]) fills = fills sprintf("%s%d rows %.1f s", fills ? ", " : "", v[lv[i], "other_rows", 0], v[lv[i], "fill_s", 0])
    if (fills) printf "\nFilling the table by SQL (cumulative levels): %s.\n", fills
    idx = ""
    for (i = 1; i <= nl; i++) if (n[lv[i], "index_s"]) idx = idx sprintf("%s%d rows %.1f s", idx ? ", " : "", v[lv[i], "other_rows", 0], v[lv[i], "index_s", 0])
    if (idx) printf "Building the retention index by CREATE INDEX (the fill step, as the table's owner): %s.\n", idx
    g = lv[nl]
    if (nl > 1 && n[g, "after.wall"])
      printf "Goals beside %d rows (after): wall ≤ 1.2 × alone: %s × (%s); delete ≤ 0.05 s: %s s (%s).\n", v[g, "other_rows", 0],
        sprintf("%.2f", stat(g, "after.x", "med")), stat(g, "after.x", "med") <= 1.2 ? "met" : "not met",
        sprintf("%.3f", stat(g, "after.delete", "med")), stat(g, "after.delete", "med") <= 0.05 ? "met" : "not met"
    sm = ""
    for (i = 1; i <= nl; i++) if (n[lv[i], "after.summary_ok"]) sm = sm sprintf("%s%d rows %s", sm ? ", " : "", v[lv[i], "other_rows", 0], tally(lv[i], "after.summary_ok"))
    if (sm) printf "Summaries of the after runs that are the run's, of all its rows: %s; computing one: %s s (beside %d rows).\n", sm, cell(g, "after.summary", "%.3f"), v[g, "other_rows", 0]
    ra = ""
    for (i = 1; i <= nl; i++) if (n[lv[i], "after.retention_alone"]) ra = ra sprintf("%s%d rows %.3f s", ra ? ", " : "", v[lv[i], "other_rows", 0], v[lv[i], "after.retention_alone", 0])
    if (ra) printf "The retention delete alone (psql, after the after runs, the stale rows put back): %s.\n", ra
    queries_table()
  }
  if (wav) wave_table()
}
function ratio2(g, base, l,   r) {
  for (r = 1; r <= maxrep[g]; r++)
    if (((g, l ".wall", r) in v) && ((base, l ".wall", r) in v)) add(g, l ".x", v[g, l ".wall", r] / v[base, l ".wall", r])
}
# Per repetition, each percentile over the installations of the wave's runs
# and of the same installations' runs alone, and of their ratio (the same
# installation, the same repetition); then median (min–max) over the
# repetitions. The serial time is the sum of the runs alone.
function wave_table(   i, g, r, k, ms, mm, key, w, a, ok, rows, t, serial) {
  ms = split("wall query_fetch upsert delete", mm, " ")
  for (i = 1; i <= ng; i++) {
    g = group[i]; if (g !~ /^wave:/) continue
    for (r = 1; r <= maxrep[g]; r++) {
      for (k = 1; k <= ms; k++) for (w = 1; w <= 2; w++) {
        key = (w == 1 ? "alone" : "wave") "." mm[k]
        if ((g, key, r) in v) add("wave@" r, key, v[g, key, r])
      }
      if (((g, "wave.wall", r) in v) && ((g, "alone.wall", r) in v)) add("wave@" r, "x", v[g, "wave.wall", r] / v[g, "alone.wall", r])
      if ((g, "alone.wall", r) in v) serial[r] += v[g, "alone.wall", r]
    }
  }
  for (r = 1; r <= maxrep["wave"]; r++) {
    for (k = 1; k <= ms; k++) for (w = 1; w <= 2; w++) {
      key = (w == 1 ? "alone" : "wave") "." mm[k]
      if (n["wave@" r, key]) { add("wave", "p50." key, pct("wave@" r, key, 50)); add("wave", "p95." key, pct("wave@" r, key, 95)) }
    }
    if (n["wave@" r, "x"]) { add("wave", "p50.x", pct("wave@" r, "x", 50)); add("wave", "p95.x", pct("wave@" r, "x", 95)) }
    if (r in serial) add("wave", "serial", serial[r])
  }
  printf "\n### A wave: %d installations of %d customers, %d at a time, a new one as each ends (%s)\n\n", wave_n, wave_customers, at_once, via
  print "Per repetition the 50th and 95th percentile over the installations (nearest rank), then their"
  print "median (min–max) over the repetitions; \"in the wave ÷ alone\" is taken per installation within"
  print "the repetition. Alone: each installation by itself over the full rows of all, one after the other."
  print ""
  print "| run | wall p50 | wall p95 | query+fetch p50 | query+fetch p95 | upsert p50 | upsert p95 | delete p50 | delete p95 | ended OK | rows exact |"
  print "|---|---|---|---|---|---|---|---|---|---|---|"
  for (w = 1; w <= 2; w++) {
    a = (w == 1) ? "alone" : "wave"; ok = 0; rows = 0; k = 0; t = 0
    for (i = 1; i <= ng; i++) { g = group[i]; if (g !~ /^wave:/) continue
      if (n[g, a ".ok"]) { ok += stat(g, a ".ok", "sum"); k += n[g, a ".ok"] }
      if (n[g, a ".rows_ok"]) { rows += stat(g, a ".rows_ok", "sum"); t += n[g, a ".rows_ok"] } }
    printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", (w == 1) ? "alone" : "in the wave",
      cell("wave", "p50." a ".wall", "%.3f"), cell("wave", "p95." a ".wall", "%.3f"),
      cell("wave", "p50." a ".query_fetch", "%.3f"), cell("wave", "p95." a ".query_fetch", "%.3f"),
      cell("wave", "p50." a ".upsert", "%.3f"), cell("wave", "p95." a ".upsert", "%.3f"),
      cell("wave", "p50." a ".delete", "%.3f"), cell("wave", "p95." a ".delete", "%.3f"),
      k ? ok "/" k : "–", t ? rows "/" t : "–"
  }
  printf "| in the wave ÷ alone | %s | %s | | | | | | | | |\n", cell("wave", "p50.x", "%.2f"), cell("wave", "p95.x", "%.2f")
  printf "\nThe wave, first start to last end: %s s; the same runs one after the other (sum alone): %s s.\n",
    cell("wave", "makespan", "%.3f"), cell("wave", "serial", "%.3f")
}
# The readers' queries after the after build's runs, per level: the former
# totals query over ixc_clientes and the summary's two, for isp-01 (ran
# seconds before) and for the other installation whose run is nearest an
# hour old; each in a session of its own.
function queries_table(   i, g, q, nq, qn, any, seq, met) {
  nq = split("old.totais cobrix.resumo cobrix.totais", qn, " ")
  for (i = 1; i <= nl; i++) if (n[lv[i], "query.old.totais.recent"]) any = 1
  if (!any) return
  print "\n#### The readers' queries beside those rows\n"
  print "Seconds, psql's \\timing: first / warm, each repetition in a session of its own as a Zabbix ODBC"
  print "check opens one, first its first query (catalog caches cold), warm the same query again. old.totais"
  print "is the former totals query over ixc_clientes, cobrix.resumo and cobrix.totais those of"
  print "contrib/zabbix/queries.sql over ixc_clientes_resumo (20 debtors). seq: sequential scans in its plan (plans.txt)."
  print ""
  print "| rows of other installations | query | isp-01 (ran seconds ago) | seq | the installation that ran an hour ago | age, min | seq |"
  print "|---|---|---|---|---|---|---|"
  for (i = 1; i <= nl; i++) {
    g = lv[i]
    for (q = 1; q <= nq; q++)
      printf "| %d | %s | %s | %s | %s | %s | %s |\n", v[g, "other_rows", 0], qn[q],
        cell(g, "query." qn[q] ".recent", "%.4f") " / " cell(g, "query." qn[q] ".recent.warm", "%.4f"),
        ((g, "query." qn[q] ".recent.seq_scan", 0) in v) ? v[g, "query." qn[q] ".recent.seq_scan", 0] : "–",
        cell(g, "query." qn[q] ".hour", "%.4f") " / " cell(g, "query." qn[q] ".hour.warm", "%.4f"),
        ((g, "age_min.hour", 0) in v) ? v[g, "age_min.hour", 0] : "–",
        ((g, "query." qn[q] ".hour.seq_scan", 0) in v) ? v[g, "query." qn[q] ".hour.seq_scan", 0] : "–"
  }
  g = lv[nl]; seq = 0; met = 1
  for (q = 2; q <= nq; q++) {
    seq += v[g, "query." qn[q] ".recent.seq_scan", 0] + v[g, "query." qn[q] ".hour.seq_scan", 0]
    if (stat(g, "query." qn[q] ".recent", "max") > 0.02 || stat(g, "query." qn[q] ".hour", "max") > 0.02) met = 0
  }
  printf "\nGoal beside %d rows: each summary query within 0.020 s (first, every repetition), without a sequential scan: %s.\n",
    v[g, "other_rows", 0], (met && seq == 0) ? "met" : "not met"
}
