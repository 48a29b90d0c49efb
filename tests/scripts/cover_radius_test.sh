#!/usr/bin/env bash
# cover_radius on inputs that only a shell can make: pipes, endless streams
# under a memory limit, a full standard output.
# Arguments: cover_radius, gen_points, greedy_centers, the memory-limit
# wrapper, and "limit" or "nolimit" (sanitizer builds cannot run under one).
set -uo pipefail
. "$(dirname "$0")/lib.sh"
cover=$1 gen=$2 greedy=$3 limiter=$4 limit=$5

# A matrix and a point file larger than the reading window, so that numbers
# fall across its edges; a pipe reads as the file does.
"$gen" -c 4 clusters 3000 2 21 > "$tmp/m.txt"
"$gen" -f points -c 4 clusters 3000 2 21 > "$tmp/p.txt"
"$greedy" 5 < "$tmp/m.txt" > "$tmp/rows.out"
printf 'approx optimal centers : 5 2000 2999 \n' > "$tmp/idx.out"
for points in m.txt p.txt; do
  for centres in rows.out idx.out; do
    run "$cover" "$tmp/$points" "$tmp/$centres"
    same "$points $centres: status" "$status" 0
    file_out=$out
    run "$cover" <(cat "$tmp/$points") <(cat "$tmp/$centres")
    same "$points $centres through pipes" "$out" "$file_out"
  done
done
[[ $(sed -n 1p <<<"$file_out") == "points = 3000 (point file), centres = 3 : 5 2000 2999" ]] ||
  bad "point file: [$file_out]"
run "$cover" --matrix <(cat "$tmp/m.txt") "$tmp/rows.out"
[[ $out == "points = 3000 (matrix), centres = 5 : 0 "* ]] || bad "forced matrix through a pipe: [$out]"

# Endless input: storage runs out, and the memory line says so.
if [ "$limit" = limit ]; then
  run sh "$limiter" 40000 "$cover" <(yes '0 0') "$tmp/idx.out"
  same "endless points: status" "$status" 1
  same "endless points: stderr" "$err" ""
  [[ $out =~ ^"error : not enough memory for the points of /dev/fd/"[0-9]+$ ]] || bad "endless points: [$out]"
  run sh "$limiter" 40000 "$cover" "$tmp/p.txt" <(printf 'approx optimal centers :'; yes ' 0' | tr -d '\n')
  same "endless centre line: status" "$status" 1
  same "endless centre line: stderr" "$err" ""
  [[ $out =~ ^"error : not enough memory for the centres of /dev/fd/"[0-9]+$ ]] || bad "endless centres: [$out]"
fi

# Help that cannot be written is a failure.
"$cover" -h > /dev/full 2>/dev/null
same "help to a full disk: status" "$?" 1
finish
