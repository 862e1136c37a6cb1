# The benchmark table (summarize.sh): every metric per scale, the ratios to
# the floors and per-customer costs computed per repetition, and peak memory
# against the fetched result and the goal. Input: results.tsv; variables
# goals (SCALE=MIB[,FACTOR] ...) and plotdata (the plot's data file).
# Load after stats.awk.
# The goal in MiB at a scale: the smaller of its MiB and its factor times the result.
function goal_limit(s, res) { return (factor[s] != "" && factor[s] * res < goal[s]) ? factor[s] * res : goal[s] }
{ if (!($1 in seen)) { seen[$1] = 1; scale[++ns] = $1 }
  v[$1, $2, $3] = $4; if ($3 > maxrep[$1]) maxrep[$1] = $3
  add($1, $2, $4) }
END {
  ng = split(goals, gl, " ")
  for (i = 1; i <= ng; i++) { split(gl[i], kv, "="); split(kv[2], gf, ","); goal[kv[1]] = gf[1]; factor[kv[1]] = gf[2] }
  # Ratios and per-customer costs, one value per repetition.
  for (i = 1; i <= ns; i++) {
    s = scale[i]; od = v[s, "overdue", 0]; res = v[s, "result_mib", 0]
    for (r = 1; r <= maxrep[s]; r++) {
      f1 = v[s, "F1", r]
      # Only from figures of this repetition that are there.
      for (run = 0; run < 2; run++) {
        l = run ? "full" : "empty"; w = v[s, l ".wall", r]; has_w = (s, l ".wall", r) in v
        for (f = 3; f >= 2; f--) {
          if (!has_w || !((s, "F1", r) in v) || !((s, "F" f "." l, r) in v)) continue
          add(s, "ratio." l ".vs_F1+F" f, w / (f1 + v[s, "F" f "." l, r]))
        }
        # The run after its query (wall less query and fetch) over F3, and
        # what is left of the wall besides the logged phases (the summary's
        # computation lies within the upsert): process start and exit (and,
        # for a build that logs no connect and table_check, those too).
        if (has_w && ((s, l ".query_fetch", r) in v)) {
          aq = w - v[s, l ".query_fetch", r]
          if ((s, "F3." l, r) in v) add(s, "ratio." l ".after_query_vs_F3", aq / v[s, "F3." l, r])
          rest = aq - v[s, l ".records", r] - v[s, l ".upsert", r] - v[s, l ".delete", r]
          add(s, l ".other", rest - v[s, l ".connect", r] - v[s, l ".table_check", r])
        }
        if ((s, l ".cpu", r) in v) add(s, l ".cpu_us_per_overdue", od ? v[s, l ".cpu", r] * 1e6 / od : 0)
        if ((s, l ".rss_mib", r) in v) {
          add(s, "ratio." l ".rss_vs_result", res ? v[s, l ".rss_mib", r] / res : 0)
          if (s in goal) add(s, "ratio." l ".rss_vs_goal", v[s, l ".rss_mib", r] / goal_limit(s, res))
        }
        for (f = 3; f >= 2; f--)
          if (((s, "F1", r) in v) && ((s, "F" f "." l, r) in v)) add(s, "F1+F" f "." l, f1 + v[s, "F" f "." l, r])
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

  # Peak memory against the fetched result and the goal, per scale; the
  # verdict takes the larger of the two runs' medians.
  print ""
  print "Peak memory against the fetched result and the goal (MiB, median (min–max)):"
  print ""
  print "| customers | fetched result | peak, empty table | peak, full rows | peak ÷ result | goal | peak ÷ goal | goal met |"
  print "|---|---|---|---|---|---|---|---|"
  for (i = 1; i <= ns; i++) {
    s = scale[i]; res = v[s, "result_mib", 0]
    peak = stat(s, "empty.rss_mib", "med"); if (stat(s, "full.rss_mib", "med") > peak) peak = stat(s, "full.rss_mib", "med")
    g = "–"; verdict = "–"
    if (s in goal) {
      g = goal[s]; lim = goal[s]
      if (factor[s] != "") { g = g sprintf(" and %s × result (%.1f)", factor[s], factor[s] * res); if (factor[s] * res < lim) lim = factor[s] * res }
      verdict = (peak <= lim) ? "yes" : "no"
    }
    printf "| %s | %.1f | %s | %s | %s | %s | %s | %s |\n", s, res, cell(s, "empty.rss_mib", "%.1f"),
      cell(s, "full.rss_mib", "%.1f"), cell(s, "ratio.empty.rss_vs_result", "%.2f"), g,
      cell(s, "ratio.empty.rss_vs_goal", "%.2f"), verdict
  }

  print "# customers overdue cobrix_empty cobrix_full F1+F3_empty F1+F2_empty F1 rss_empty_mib result_mib rss_full_mib goal_mib" > plotdata
  for (i = 1; i <= ns; i++) {
    s = scale[i]
    printf "%s %s %s %s %s %s %s %s %s %s %s\n", s, v[s, "overdue", 0], med(s, "empty.wall"), med(s, "full.wall"),
      med(s, "F1+F3.empty"), med(s, "F1+F2.empty"), med(s, "F1"), med(s, "empty.rss_mib"),
      v[s, "result_mib", 0], med(s, "full.rss_mib"), (s in goal) ? goal_limit(s, v[s, "result_mib", 0]) : "-" > plotdata
  }
}
