# Shared by the benchmark scripts (sourced, not run).

# The median of the numbers on standard input, one a line.
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# With quiet=1: waits for a second of at least 97% idle time over all
# processors, for at most 60 tries; then runs regardless.
wait_quiet() {
  [ "${quiet:-0}" = 1 ] || return 0
  local a b try
  for try in $(seq 60); do
    read -r -a a </proc/stat
    sleep 1
    read -r -a b </proc/stat
    awk -v a="${a[*]:1:8}" -v b="${b[*]:1:8}" 'BEGIN {
      split(a, x); split(b, y)
      for (k = 1; k <= 8; k++) total += y[k] - x[k]
      exit !(100 * (y[4] - x[4] + y[5] - x[5]) >= 97 * total)
    }' && return 0
  done
  return 0  # never quiet: run regardless (a failed status would end a script under set -e)
}
