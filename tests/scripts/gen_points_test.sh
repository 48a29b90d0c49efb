#!/usr/bin/env bash
# gen_points with the programs that read what it writes.
# Arguments: gen_points, greedy_centers, cover_radius, and, for a run of
# sampled_centers, the launcher command and its program.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
gen=$1 greedy=$2 cover=$3
shift 3

# The same arguments give the same bytes; another seed gives others.
for kind in uniform clusters sphere; do
  "$gen" "$kind" 1000 5 123 > "$tmp/a"
  "$gen" "$kind" 1000 5 123 > "$tmp/b"
  "$gen" "$kind" 1000 5 124 > "$tmp/c"
  cmp -s "$tmp/a" "$tmp/b" || bad "$kind: same seed, different bytes"
  ! cmp -s "$tmp/a" "$tmp/c" || bad "$kind: another seed, same bytes"
  same "$kind: lines" "$(wc -l < "$tmp/a")" 1001
done

# greedy_centers reads the matrix; every row it prints is one of the points.
"$gen" -s 100 clusters 500 2 9 > "$tmp/m.txt"
run "$greedy" 6 < "$tmp/m.txt"
same "greedy_centers: status" "$status" 0
printf '%s\n' "$out" > "$tmp/centres.out"
run "$cover" "$tmp/m.txt" "$tmp/centres.out"
same "greedy_centers rows are points: status" "$status" 0
[[ $out == "points = 500 (matrix), centres = 6 : 0 "* ]] || bad "greedy_centers rows: [$out]"

# The point file is the matrix without its shape line.
"$gen" -f points -s 100 clusters 500 2 9 > "$tmp/p.txt"
same "point file is the matrix body" "$(cat "$tmp/p.txt")" "$(tail -n +2 "$tmp/m.txt")"

# A failed write ends the run at once, with status 1 (no line can be
# printed there); the bound only catches a run that writes on regardless.
timeout 30 "$gen" uniform 2147483647 3 1 > /dev/full 2> "$tmp/err"
same "full disk: status" "$?" 1
same "full disk: stderr" "$(cat "$tmp/err")" ""
"$gen" -h > /dev/full
same "help to a full disk: status" "$?" 1

if [ $# -gt 0 ]; then
  "$gen" -f points sphere 2000 2 3 > "$tmp/full.txt"
  run "$@" "$tmp/full.txt" 2 50 1
  same "sampled_centers reads 2000 points: status" "$status" 0
  [[ $out == "number of 2-tuples checked = "* ]] || bad "sampled_centers: [$out]"
fi
finish
