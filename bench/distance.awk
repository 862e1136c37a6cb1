# The distance table (distance.sh): per scale, each build, TLS mode and
# table state, the time after the query (wall less query and fetch) and the
# wall at each round trip, median (min–max) of the runs that ended with OK;
# the round trips that the relay counted, and those implied by how the time
# grows with the round trip; then the pooler runs and the statement-log
# checks. Input: results.tsv; variables bins, routes, rtts, runs,
# pooler_rtts (comma-separated, in the table's order). Load after stats.awk.
{ if ($1 != "check" && $1 != "log" && $1 != "info" && !($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }

# The time after the query of every repetition of LABEL that has a wall.
function after_query(s, l,   r) {
  for (r = 1; r <= maxrep[s]; r++)
    if ((s, l ".wall", r) in v) add(s, l ".after_query", v[s, l ".wall", r] - v[s, l ".query_fetch", r])
}

# Round trips implied by the growth of the median time after the query
# between the two largest round trips of the list (ms), or "–".
function slope(s, prefix, kind,   lo, hi, a, b) {
  if (nt < 2) return "–"
  lo = tl[nt - 1]; hi = tl[nt]
  a = prefix "." lo "." kind ".after_query"; b = prefix "." hi "." kind ".after_query"
  if (!n[s, a] || !n[s, b]) return "–"
  return sprintf("%.0f", (stat(s, b, "med") - stat(s, a, "med")) / ((hi - lo) / 1000))
}

function tallies(s, prefix, kind, list, count,   i, ok, tried, good, l) {
  ok = tried = good = 0
  for (i = 1; i <= count; i++) {
    l = prefix "." list[i] "." kind
    if (n[s, l ".ok"]) { ok += stat(s, l ".ok", "sum"); tried += n[s, l ".ok"] }
    if (n[s, l ".rows_ok"]) good += stat(s, l ".rows_ok", "sum")
  }
  return ok "/" tried " | " good "/" ok
}

function rtt_head(list, count, what,   i, h) {
  h = ""
  for (i = 1; i <= count; i++) h = h " | " (what == "" ? "" : what " ") list[i] " ms"
  return h
}

END {
  nb = split(bins, bl, ","); nr = split(routes, rl, ","); nt = split(rtts, tl, ","); nu = split(runs, ul, ",")
  np = split(pooler_rtts, pl, ",")
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    for (a = 1; a <= nb; a++) {
      for (b = 1; b <= nr; b++) for (c = 1; c <= nt; c++) for (d = 1; d <= nu; d++)
        after_query(s, bl[a] "." rl[b] "." tl[c] "." ul[d])
      for (c = 1; c <= np; c++) after_query(s, bl[a] ".pooler." pl[c] ".full")
    }
  }

  print "Distance to PostgreSQL: cobrix's normal run with PostgreSQL behind a relay that holds every"
  print "chunk half the round trip each way (0 ms: PostgreSQL's own port, no relay), durable server."
  print "Seconds, median (min–max) over the runs that ended with OK; \"after the query\" is the wall"
  print "time less the query-and-fetch phase. \"before\" is " v["info", "before_rev", 0] " (one round trip per page),"
  print "\"after\" the working tree. Round trips: as the relay counted them (the handshake, and every"
  print "time the client spoke again after waiting for an answer), and as implied by the growth of the"
  print "time after the query between the two largest round trips."
  print ""
  printf "Relay check, psql's own timing of SELECT 1 on one connection, min / median of 20 (ms):"
  sep = " "
  for (c = 1; c <= nt; c++) {
    printf "%s%s ms: %.2f / %.2f", sep, tl[c], v["check", "rtt." tl[c] ".min", 0], v["check", "rtt." tl[c] ".median", 0]
    sep = "; "
  }
  print "."

  for (i = 1; i <= ns; i++) {
    s = scale[i]
    if (!n[s, bl[1] "." rl[1] "." tl[1] "." ul[1] ".ok"]) continue
    print ""
    printf "### %s customers (%d overdue)\n\n", s, v[s, "overdue", 0]
    printf "Query and fetch, all runs: %s.\n\n", qcell(s)
    print "Time after the query:"
    print ""
    print "| build | TLS | table | ended OK (all round trips) | rows exact" rtt_head(tl, nt, "") " | round trips (relay, " tl[nt] " ms) | round trips (growth " tl[nt - 1] "→" tl[nt] " ms) | sent to the server, MiB |"
    line = "|---|---|---|---|---"; for (c = 1; c <= nt + 3; c++) line = line "|---"; print line "|"
    for (a = 1; a <= nb; a++) for (b = 1; b <= nr; b++) for (d = 1; d <= nu; d++) {
      p = bl[a] "." rl[b]
      row = "| " bl[a] " | " (rl[b] == "tls" ? "verify-full" : "no") " | " (ul[d] == "full" ? "full rows" : "empty") " | " tallies(s, p, ul[d], tl, nt)
      for (c = 1; c <= nt; c++) row = row " | " cell(s, p "." tl[c] "." ul[d] ".after_query", "%.3f")
      last = p "." tl[nt] "." ul[d]
      row = row " | " cell(s, last ".round_trips", "%.0f") " | " slope(s, p, ul[d]) " | " cell(s, last ".up_mib", "%.1f") " |"
      print row
    }
    print ""
    print "Wall:"
    print ""
    print "| build | TLS | table" rtt_head(tl, nt, "") " |"
    line = "|---|---|---"; for (c = 1; c <= nt; c++) line = line "|---"; print line "|"
    for (a = 1; a <= nb; a++) for (b = 1; b <= nr; b++) for (d = 1; d <= nu; d++) {
      p = bl[a] "." rl[b]
      row = "| " bl[a] " | " (rl[b] == "tls" ? "verify-full" : "no") " | " (ul[d] == "full" ? "full rows" : "empty")
      for (c = 1; c <= nt; c++) row = row " | " cell(s, p "." tl[c] "." ul[d] ".wall", "%.3f")
      print row " |"
    }
  }

  for (i = 1; i <= ns; i++) {
    s = scale[i]
    if (!np || !n[s, bl[1] ".pooler." pl[1] ".full.ok"]) continue
    print ""
    printf "### Through pgbouncer (transaction pooling), %s customers, full rows, no TLS\n\n", s
    print "| build | ended OK | rows exact" rtt_head(pl, np, "after the query,") rtt_head(pl, np, "wall,") " | round trips (relay, " pl[np] " ms) |"
    line = "|---|---|---"; for (c = 1; c <= 2 * np + 1; c++) line = line "|---"; print line "|"
    for (a = 1; a <= nb; a++) {
      p = bl[a] ".pooler"
      row = "| " bl[a] " | " tallies(s, p, "full", pl, np)
      for (c = 1; c <= np; c++) row = row " | " cell(s, p "." pl[c] ".full.after_query", "%.3f")
      for (c = 1; c <= np; c++) row = row " | " cell(s, p "." pl[c] ".full.wall", "%.3f")
      print row " | " cell(s, p "." pl[np] ".full.round_trips", "%.0f") " |"
    }
  }

  fits()

  if (n["log", bl[1] ".direct.ok"]) {
    print ""
    print "### Statement log and a refused page (statement_log.txt)"
    print ""
    print "| build | route | over full rows: ended OK | rows exact | page 2 refused: run failed | only page 1 stored |"
    print "|---|---|---|---|---|---|"
    for (a = 1; a <= nb; a++) {
      printf "| %s | direct | %s | – | %s | %s |\n", bl[a], yes(v["log", bl[a] ".direct.ok", 0]),
        yes(v["log", bl[a] ".direct.refused.failed", 0]), yes(v["log", bl[a] ".direct.refused.first_page_only", 0])
      printf "| %s | pgbouncer | %s | %s | %s | %s |\n", bl[a], yes(v["log", bl[a] ".pooler.ok", 0]),
        yes(v["log", bl[a] ".pooler.rows_ok", 0]), yes(v["log", bl[a] ".pooler.refused.failed", 0]),
        yes(v["log", bl[a] ".pooler.refused.first_page_only", 0])
    }
  }
}

function yes(x) { return x == "" ? "–" : (x == 1 ? "yes" : "NO") }

# Query and fetch over every run of the scale.
function qcell(s,   m, k, lo, hi, t, cnt) {
  cnt = 0
  for (k = 1; k <= nm; k++) {
    m = order[k]
    if (m !~ /\.query_fetch$/ || !n[s, m]) continue
    for (t = 1; t <= n[s, m]; t++) add(s, "all_query_fetch", vals[s, m, t])
  }
  return cell(s, "all_query_fetch", "%.3f")
}

# What fits in a check's timeout: per build, TLS mode and round trip, the
# customers (and overdue customers) at which a normal run over full rows
# reaches 4 s (Debian's Timeout) and 30 s (Zabbix's maximum). A run at round
# trip r is taken as the direct run (median wall at 0 ms) plus r for every
# round trip that the relay counted (median, at the largest round trip);
# both are put on the line through the two smallest scales, so beyond the
# larger one it is an extrapolation. The measured walls at each round trip
# are in the tables above.
function fits(   a, b, c, s1, s2, l, p, w1, w2, t1, t2, r, row, k, t, lim, x, o) {
  if (ns < 2 || nt < 2) return
  s1 = scale[1]; s2 = scale[2]
  lim[1] = 4; lim[2] = 30
  print ""
  printf "### What fits in a timeout (over full rows, through %s and %s customers)\n\n", s1, s2
  print "Customers (overdue customers) for which a run takes 4 s and 30 s: the direct run's median"
  print "wall plus the round trip times the round trips that the relay counted, both linear in the"
  print "customers through the two scales; \"> N\": beyond the larger scale, extrapolated."
  print ""
  print "| build | TLS | round trip | 4 s | 30 s |"
  print "|---|---|---|---|---|"
  for (a = 1; a <= nb; a++) for (b = 1; b <= nr; b++) {
    p = bl[a] "." rl[b]
    l = p "." tl[1] ".full.wall"
    if (tl[1] != 0 || !n[s1, l] || !n[s2, l]) continue
    t = p "." tl[nt] ".full.round_trips"
    if (!n[s1, t] || !n[s2, t]) continue
    t1 = stat(s1, t, "med"); t2 = stat(s2, t, "med")
    for (c = 1; c <= nt; c++) {
      r = tl[c] / 1000
      w1 = stat(s1, l, "med") + (r ? t1 * r : 0); w2 = stat(s2, l, "med") + (r ? t2 * r : 0)
      row = "| " bl[a] " | " (rl[b] == "tls" ? "verify-full" : "no") " | " tl[c] " ms"
      for (k = 1; k <= 2; k++) {
        if (w2 <= w1) { row = row " | –"; continue }
        x = s1 + (lim[k] - w1) * (s2 - s1) / (w2 - w1)
        o = v[s1, "overdue", 0] + (lim[k] - w1) * (v[s2, "overdue", 0] - v[s1, "overdue", 0]) / (w2 - w1)
        if (x < 0) row = row " | none"
        else row = row sprintf(" | %s%s (%s)", x > s2 ? "> " : "", round_k(x), round_k(o))
      }
      print row " |"
    }
  }
}

# A count rounded to two significant figures, as "450,000".
function round_k(x,   p, r, t, out) {
  p = 1; while (x >= 100 * p) p *= 10
  r = int(x / p + 0.5) * p
  t = sprintf("%d", r); out = ""
  while (length(t) > 3) { out = "," substr(t, length(t) - 2) out; t = substr(t, 1, length(t) - 3) }
  return t out
}
