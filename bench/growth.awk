# The growth table (growth.sh): per build and table options, the table's
# size and its parts after run 1 and after the last run, their ratio, the
# largest total along the way, the share of HOT updates, autovacuum's passes
# and the runs' times (median over runs 2..last, the runs over full rows).
# Input: results.tsv (group, metric, run, value; run 0 for the group's
# options and the counters read once the runs are over); variables runs,
# naptime, customers, plotdata (the plot's data: per group a block "run
# GROUP" then "RUN TOTAL_MIB" lines). Load after stats.awk.
$1 == "revision" { rev = $4; next }
{ if ($1 != "all" && !($1 in seen)) { seen[$1] = 1; group[++ng] = $1 }
  v[$1, $2, $3] = $4
  if ($3 != 0) { if ($3 + 0 > last[$1]) last[$1] = $3 + 0 }
  else if ($2 == "options") opts[$1] = $4
  if ($3 + 0 >= 2 && $2 ~ /^run\./) add($1, $2, $4)
  if ($2 ~ /^run\.(ok|rows_ok)$/) add($1, $2 ".all", $4) }
function mib(b) { return b == "" ? "–" : sprintf("%.1f", b / 1048576) }
function part(g, m, r) { return ((g, m, r) in v) ? v[g, m, r] : "" }
function times(g, a, b) { return (part(g, a, b) == "" || part(g, a, 1) == "" || part(g, a, 1) == 0) ? "–" : sprintf("%.2f", part(g, a, b) / part(g, a, 1)) }
END {
  printf "One installation (%d customers, %d overdue) run again and again into one table, full rows,\n", customers, v["all", "overdue", 0]
  printf "autovacuum as shipped but autovacuum_naptime = %s; sizes in MiB after the run (total:\n", naptime
  print "pg_total_relation_size; heap and indexes: pg_relation_size). HOT is the share of all the"
  print "updates so far that were heap-only; times are the median (min–max) of runs 2 to the last."
  if (rev != "") printf "Before: %s; after: the working tree.\n", rev
  print ""
  print "| build | table options | run | total | heap | key index | retention index | live rows | dead rows | autovacuums |"
  print "|---|---|---|---|---|---|---|---|---|---|"
  for (i = 1; i <= ng; i++) {
    g = group[i]; split(g, gp, ":")
    for (k = 1; k <= 2; k++) {
      r = (k == 1) ? 1 : last[g]
      printf "| %s | %s | %d | %s | %s | %s | %s | %s | %s | %s |\n", gp[1], opts[g], r, mib(part(g, "total_bytes", r)),
        mib(part(g, "heap_bytes", r)), mib(part(g, "key_idx_bytes", r)), mib(part(g, "retention_idx_bytes", r)),
        part(g, "live_rows", r), part(g, "dead_rows", r), part(g, "autovacuums", r)
    }
  }
  print ""
  print "| build | table options | total, last ÷ run 1 | heap | key index | retention index | largest total (run) | HOT updates | autovacuums | wall | upsert | delete | ended OK | rows exact |"
  print "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
  for (i = 1; i <= ng; i++) {
    g = group[i]; split(g, gp, ":"); big = 0; at = 0
    for (r = 1; r <= last[g]; r++) if (part(g, "total_bytes", r) + 0 > big) { big = part(g, "total_bytes", r) + 0; at = r }
    u = part(g, "final.updates", 0); h = part(g, "final.hot_updates", 0)
    printf "| %s | %s | %s | %s | %s | %s | %s (%d) | %s | %s | %s | %s | %s | %s | %s |\n", gp[1], opts[g],
      times(g, "total_bytes", last[g]), times(g, "heap_bytes", last[g]), times(g, "key_idx_bytes", last[g]),
      times(g, "retention_idx_bytes", last[g]), mib(big), at,
      (u > 0) ? sprintf("%.1f %% of %d", 100 * h / u, u) : "–", part(g, "final.autovacuums", 0),
      cell(g, "run.wall", "%.3f"), cell(g, "run.upsert", "%.3f"), cell(g, "run.delete", "%.3f"),
      tally(g, "run.ok.all"), tally(g, "run.rows_ok.all")
    printf "run %s\n", g > plotdata
    for (r = 1; r <= last[g]; r++) if (part(g, "total_bytes", r) != "") printf "%d %.2f\n", r, part(g, "total_bytes", r) / 1048576 > plotdata
    printf "\n\n" > plotdata
  }
}
