# The table of isolation.sh: per scale, each layout's runs (single: the
# single-role layout, the run as the tables' owner; policies: row-level
# security, the run as its installation's role), median (min–max) over the
# repetitions that ended with OK, and the policies' run over the single
# layout's same run, taken within each repetition. Input: results.tsv;
# variables others, per, stale, runs (comma-separated). Load after stats.awk.
$1 == "setup" { setup[$2] = $4; next }
{ if (!($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
function ratio(s, state, m, r,   a, b) {
  a = "policies." state "." m; b = "single." state "." m
  if (((s, a, r) in v) && ((s, b, r) in v) && v[s, b, r] > 0) add(s, state "." m "_ratio", v[s, a, r] / v[s, b, r])
}
END {
  nu = split(runs, ul, ","); split("single policies", ll, " ")
  # The summary's computation lies within the upsert.
  phases = "query_fetch records upsert delete"; np = split(phases, pl, " ")
  split("wall after_query upsert delete sql_pages sql_summary sql_retention", rl, " ")
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    for (r = 1; r <= maxrep[s]; r++) {
      for (c = 1; c <= nu; c++) {
        for (a = 1; a <= 2; a++) {
          l = ll[a] "." ul[c]
          if (!((s, l ".wall", r) in v)) continue
          w = v[s, l ".wall", r]; rest = w
          for (p = 1; p <= np; p++) rest -= v[s, l "." pl[p], r]
          v[s, l ".after_query", r] = w - v[s, l ".query_fetch", r]; add(s, l ".after_query", v[s, l ".after_query", r])
          add(s, l ".other", rest)
        }
        for (k = 1; k <= 7; k++) ratio(s, ul[c], rl[k], r)
      }
    }
  }
  printf "Whole normal runs of one installation beside %d rows of %d other installations and their\n", others, others / per
  printf "summaries, on a durable PostgreSQL (fsync on), with %d stale rows of its own put back before each run.\n", stale
  print "single: the single-role layout (no row-level security; the run as the tables' owner, with"
  print "ixc_clientes_timestamp_idx); policies: cobrix-central's layout (row-level security; the run as the"
  print "installation's role, with ixc_clientes_instalacao_idx). Median (min–max) over the repetitions that"
  print "ended with OK, seconds. empty: the installation's rows and summary deleted (and vacuumed) before the"
  print "run; full: over its rows. \"summary\" is the summary's computation (while the server writes the"
  print "pages: within \"upsert\"), \"delete\" the round trip of the summary's write and the retention delete,"
  print "\"other\" the wall less every logged phase: process start and exit, the PostgreSQL connection and"
  print "the table check (with the writer check under the policies). \"server\" columns are the"
  print "statements' execution time on the server (pg_stat_statements): the pages, the summary's lock,"
  print "delete and insert, the retention delete."
  if ("fill_s" in setup) printf "Set-up: filled in %.0f s; copied, migrated by init and 101 roles added in %.0f s.\n", setup["fill_s"], setup["init_s"]
  if ("single.table_mib" in setup)
    printf "ixc_clientes: %s MiB (single), %s MiB (policies), indexes included.\n", setup["single.table_mib"], setup["policies.table_mib"]
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    printf "\n### %s customers (%d overdue)\n\n", s, v[s, "overdue", 0]
    print "| layout | table | ended OK | rows exact | summary exact | stale left | others kept | wall | query+fetch | upsert | summary | delete | after the query | other | server: pages | server: summary | server: retention | peak MiB |"
    print "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
    for (c = 1; c <= nu; c++) for (a = 1; a <= 2; a++) {
      l = ll[a] "." ul[c]
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", ll[a], ul[c],
        tally(s, l ".ok"), tally(s, l ".rows_ok"), tally(s, l ".summary_ok"), n[s, l ".stale_left"] ? stat(s, l ".stale_left", "max") : "–",
        tally(s, ll[a] ".others_kept"), cell(s, l ".wall", "%.3f"), cell(s, l ".query_fetch", "%.3f"),
        cell(s, l ".upsert", "%.3f"), cell(s, l ".summary", "%.3f"), cell(s, l ".delete", "%.3f"),
        cell(s, l ".after_query", "%.3f"), cell(s, l ".other", "%.3f"), cell(s, l ".sql_pages", "%.3f"),
        cell(s, l ".sql_summary", "%.4f"), cell(s, l ".sql_retention", "%.4f"), cell(s, l ".rss_mib", "%.1f")
    }
    print ""
    print "Policies ÷ single, within each repetition (goal: wall ≤ 1.05):"
    print ""
    print "| table | wall | after the query | upsert | delete | server: pages | server: summary | server: retention | goal met |"
    print "|---|---|---|---|---|---|---|---|---|"
    for (c = 1; c <= nu; c++) {
      u = ul[c]
      printf "| %s | %s | %s | %s | %s | %s | %s | %s | %s |\n", u, cell(s, u ".wall_ratio", "%.3f"),
        cell(s, u ".after_query_ratio", "%.2f"), cell(s, u ".upsert_ratio", "%.2f"), cell(s, u ".delete_ratio", "%.2f"),
        cell(s, u ".sql_pages_ratio", "%.2f"), cell(s, u ".sql_summary_ratio", "%.2f"), cell(s, u ".sql_retention_ratio", "%.2f"),
        n[s, u ".wall_ratio"] ? (stat(s, u ".wall_ratio", "med") <= 1.05 ? "yes" : "no") : "–"
    }
  }
}
