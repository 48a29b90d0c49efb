#!/usr/bin/env bash
# scripts/scaling against a stand-in farthest_pair (or the real one).
# Arguments: the script, the folder holding farthest_pair, and what to test:
#   csv    the CSV, the pinning and every refusal (stand-in)
#   plot   the pictures (needs gnuplot; stand-in)
#   real   a small study with the real program
set -uo pipefail
. "$(dirname "$0")/lib.sh"
scaling=$1 bin=$2 what=$3
printf '3 2\n0 0\n1 1\n2 2\n' > "$tmp/m.txt"

case $what in
csv)
  run env -u OMP_PROC_BIND -u OMP_PLACES bash "$scaling" --bin "$bin" --no-plot -t "1 2,4" -r 2 -o "$tmp/o" "$tmp/m.txt"
  same "stand-in run: status" "$status" 0
  same "stand-in run: stderr" "$err" ""
  csv=$tmp/o/scaling.csv
  same "rows after the header" "$(sed -n '/^threads,run,seconds$/,$p' "$csv")" "threads,run,seconds
1,1,0.8000
2,1,0.4000
4,1,0.2000
1,2,0.8000
2,2,0.4000
4,2,0.2000"
  grep -qx '# OMP_PROC_BIND=close' "$csv" || bad "default OMP_PROC_BIND not recorded"
  grep -qx '# OMP_PLACES=cores' "$csv" || bad "default OMP_PLACES not recorded"
  grep -qx "# cores=[1-9][0-9]* logical_cpus=$(getconf _NPROCESSORS_ONLN)" "$csv" || bad "core counts not recorded"
  grep -qx '# input=m.txt (3 x 2)' "$csv" || bad "input not recorded"
  same "summary table" "$(sed -n '1,4p' <<<"$out")" "threads  median_s  min_s  max_s  speedup  efficiency
      1    0.8000  0.8000  0.8000     1.00        1.00
      2    0.4000  0.4000  0.4000     2.00        1.00
      4    0.2000  0.2000  0.2000     4.00        1.00"
  [ ! -e "$tmp/o/scaling.png" ] || bad "--no-plot drew a picture"

  # Pinning chosen by the caller is kept, and reaches the program.
  run env OMP_PROC_BIND=spread OMP_PLACES=threads bash "$scaling" --bin "$bin" --no-plot -t 1 -r 1 -o "$tmp/p" "$tmp/m.txt"
  same "caller's pinning: status" "$status" 0
  grep -qx '# OMP_PROC_BIND=spread' "$tmp/p/scaling.csv" || bad "caller's OMP_PROC_BIND not kept"
  grep -qx '# OMP_PLACES=threads' "$tmp/p/scaling.csv" || bad "caller's OMP_PLACES not kept"

  # Thread counts by default: powers of two below the CPU count, then the count.
  run bash "$scaling" --bin "$bin" --no-plot -r 1 -o "$tmp/d" "$tmp/m.txt"
  cpus=$(getconf _NPROCESSORS_ONLN) want="" t=1
  while [ "$t" -lt "$cpus" ]; do want+="$t "; t=$((t * 2)); done
  same "default thread counts" "$(awk -F, '/^[0-9]/ { printf "%s ", $1 }' "$tmp/d/scaling.csv")" "$want$cpus "

  for word in bad garble liar; do printf '%s 2\n' "$word" > "$tmp/$word.txt"; done
  refused "program fails" "error : farthest_pair 1 failed with status 1: error reading the shape of the matrix" \
    bash "$scaling" --bin "$bin" --no-plot -t 1 -r 1 -o "$tmp/e" "$tmp/bad.txt"
  refused "malformed item" "error : farthest_pair 2 printed '(2;0.1),', not one (threads,seconds), item" \
    bash "$scaling" --bin "$bin" --no-plot -t 2 -r 1 -o "$tmp/e" "$tmp/garble.txt"
  refused "wrong thread count" "error : farthest_pair 2 reported 3 threads" \
    bash "$scaling" --bin "$bin" --no-plot -t 2 -r 1 -o "$tmp/e" "$tmp/liar.txt"
  refused "missing input" "error : could not open file $tmp/none.txt for reading" \
    bash "$scaling" --bin "$bin" "$tmp/none.txt"
  refused "zero threads" "error : thread counts must be whole numbers from 1 to 999999, not 0" \
    bash "$scaling" --bin "$bin" -t "1 0" "$tmp/m.txt"
  refused "runs not a number" "error : runs must be a whole number from 1 to 999999" \
    bash "$scaling" --bin "$bin" -r x "$tmp/m.txt"
  refused "unknown option" "error : unknown option --fast" bash "$scaling" --fast "$tmp/m.txt"
  refused "option without value" "error : option -t needs a value" bash "$scaling" "$tmp/m.txt" -t
  refused "two inputs" "error : unexpected argument b" bash "$scaling" a b
  run bash "$scaling"
  same "no input: status" "$status" 1
  [[ $out == "usage : scaling "* ]] && [ "$(wc -l <<<"$out")" -eq 1 ] || bad "no input: one usage line, got [$out]"
  run bash "$scaling" --help
  same "help: status" "$status" 0
  [[ $out == "usage : scaling "*"Runs farthest_pair"* ]] || bad "help text"
  ;;
plot)
  run bash "$scaling" --bin "$bin" -t "1 2" -r 3 -o "$tmp/o" "$tmp/m.txt"
  same "run with plot: status" "$status" 0
  same "run with plot: last line" "$(tail -n 1 <<<"$out")" "plot : $tmp/o/scaling.png"
  is_png "$tmp/o/scaling.png" || bad "the run drew no PNG"
  # Drawn again from the CSV alone, next to it by default.
  cp "$tmp/o/scaling.csv" "$tmp/again.csv"
  run bash "$scaling" --plot "$tmp/again.csv"
  same "--plot: output" "$out" "plot : $tmp/again.png"
  is_png "$tmp/again.png" || bad "--plot drew no PNG"
  # Times of zero (runs under 0.1 ms) leave speedup undefined, not a division by zero.
  printf 'threads,run,seconds\n1,1,0.0000\n2,1,0.0000\n' > "$tmp/zero.csv"
  run bash "$scaling" --plot "$tmp/zero.csv" "$tmp/zero.png"
  same "zero times: status" "$status" 0
  is_png "$tmp/zero.png" || bad "zero times drew no PNG"
  printf '# nothing\nthreads,run,seconds\n' > "$tmp/empty.csv"
  refused "CSV without rows" "error : $tmp/empty.csv holds no threads,run,seconds rows" \
    bash "$scaling" --plot "$tmp/empty.csv" "$tmp/empty.png"
  refused "picture unwritable" "error : could not write /nonexistent/x.png" \
    bash "$scaling" --plot "$tmp/again.csv" /nonexistent/x.png
  refused "CSV missing" "error : could not open file $tmp/none.csv for reading" bash "$scaling" --plot "$tmp/none.csv"
  ;;
real)
  gen=$4
  "$gen" uniform 300 3 1 > "$tmp/real.txt"
  extra=(--no-plot)
  [ "${5:-}" = plot ] && extra=()
  run bash "$scaling" --bin "$bin" "${extra[@]}" -t "1 2" -r 2 -o "$tmp/o" "$tmp/real.txt"
  same "real run: status" "$status" 0
  same "real run: stderr" "$err" ""
  same "real run: rows" "$(grep -c '^[12],[12],[0-9]*\.[0-9]\{4\}$' "$tmp/o/scaling.csv")" 4
  [ "${5:-}" != plot ] || is_png "$tmp/o/scaling.png" || bad "real run drew no PNG"
  ;;
esac
finish
