# Shared by the summaries: values gathered per (group, metric) in the order
# they first appear, reduced to median (min–max). Load with awk -f before
# the summary's own program.

function add(g, m, val) {
  if (!((g, m) in n)) { n[g, m] = 0; if (!(m in known)) { known[m] = 1; order[++nm] = m } }
  vals[g, m, ++n[g, m]] = val
}

function stat(g, m, which,   k, i, j, t, a) {
  k = n[g, m]; if (!k) return ""
  for (i = 1; i <= k; i++) a[i] = vals[g, m, i] + 0
  for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
  if (which == "min") return a[1]
  if (which == "max") return a[k]
  if (which == "sum") { t = 0; for (i = 1; i <= k; i++) t += a[i]; return t }
  return (k % 2) ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
}

# The median for a plot's data file, "-" (gnuplot's missing value) when there is none.
function med(g, m) { return n[g, m] ? stat(g, m, "med") : "-" }

# "median (min–max)", or the one value, or "–" when there is none.
function cell(g, m, fmt,   k) {
  k = n[g, m]; if (!k) return "–"
  if (k == 1) return sprintf(fmt, stat(g, m, "med"))
  return sprintf(fmt " (" fmt "–" fmt ")", stat(g, m, "med"), stat(g, m, "min"), stat(g, m, "max"))
}

# "passed/tried" of a metric whose values are 1 (passed) or 0.
function tally(g, m) { return n[g, m] ? stat(g, m, "sum") "/" n[g, m] : "–" }

# The P-th percentile (nearest rank: the smallest value with at least P % of
# the values at or below it), "" when there is none.
function pct(g, m, p,   k, i, j, t, a, r) {
  k = n[g, m]; if (!k) return ""
  for (i = 1; i <= k; i++) a[i] = vals[g, m, i] + 0
  for (i = 2; i <= k; i++) { t = a[i]; for (j = i - 1; j >= 1 && a[j] > t; j--) a[j + 1] = a[j]; a[j + 1] = t }
  r = int(p * k / 100); if (r < p * k / 100) r++
  if (r < 1) r = 1
  return a[r]
}
