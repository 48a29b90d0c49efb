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
  # A run that fails leaves an earlier run's CSV as it was, and no file of
  # its own; a run into a folder that another run writes into is refused.
  cp "$csv" "$tmp/good.csv"
  refused "failing run into a used folder" "error : farthest_pair 1 failed with status 1: error reading the shape of the matrix" \
    bash "$scaling" --bin "$bin" --no-plot -t 1 -r 1 -o "$tmp/o" "$tmp/bad.txt"
  cmp -s "$csv" "$tmp/good.csv" || bad "a failed run changed the CSV of the run before"
  same "files after a failed run" "$(ls -A "$tmp/o")" "scaling.csv"
  exec 9<"$tmp/o"
  flock 9
  refused "folder in use" "error : another scaling run is writing into $tmp/o" \
    bash "$scaling" --bin "$bin" --no-plot -t 1 -r 1 -o "$tmp/o" "$tmp/m.txt"
  exec 9<&-
  cmp -s "$csv" "$tmp/good.csv" || bad "a refused run changed the CSV"
  # -- ends the options: a matrix whose name starts with a dash.
  cp "$tmp/m.txt" "$tmp/-m.txt"
  run bash -c 'cd "$1" && shift && bash "$@"' - "$tmp" "$scaling" --bin "$bin" --no-plot -t 1 -r 1 -o dash -- -m.txt
  same "-- then a matrix named -m.txt: status" "$status" 0
  grep -qx '# input=-m.txt (3 x 2)' "$tmp/dash/scaling.csv" || bad "-- then -m.txt: input not recorded"
  refused "two inputs after --" "error : unexpected argument b" bash "$scaling" -- a b

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

  # A locale with a decimal comma changes nothing, the summary included.
  if make_comma_locale; then
    run env LOCPATH="$tmp/locale" LC_ALL=comma bash "$scaling" --bin "$bin" --no-plot -t "1 2" -r 1 -o "$tmp/l" "$tmp/m.txt"
    same "comma locale: status" "$status" 0
    same "comma locale: summary" "$(sed -n '2,3p' <<<"$out")" "      1    0.8000  0.8000  0.8000     1.00        1.00
      2    0.4000  0.4000  0.4000     2.00        1.00"
  fi

  # Failures that were once silent, or spoke on standard error.
  mkdir -p "$tmp/alone" "$tmp/stub"
  cp "$scaling" "$tmp/alone/scaling"
  refused "no farthest_pair anywhere" "error : farthest_pair not found (build the suite, or name its folder with --bin)" \
    env PATH=/usr/bin:/bin bash "$tmp/alone/scaling" --bin /nonexistent --no-plot "$tmp/m.txt"
  printf '#!/bin/sh\nexit 127\n' > "$tmp/stub/lscpu"
  chmod +x "$tmp/stub/lscpu"
  run env PATH="$tmp/stub:$PATH" bash "$scaling" --bin "$bin" --no-plot -t 1 -r 1 -o "$tmp/c" "$tmp/m.txt"
  same "no lscpu: status" "$status" 0
  grep -qx "# cores=$(getconf _NPROCESSORS_ONLN) logical_cpus=$(getconf _NPROCESSORS_ONLN)" "$tmp/c/scaling.csv" ||
    bad "no lscpu: the logical count stands for the cores"
  : > "$tmp/a_file"
  refused "output folder is a file" "error : could not make the folder $tmp/a_file" \
    bash "$scaling" --bin "$bin" --no-plot -o "$tmp/a_file" "$tmp/m.txt"
  cd "$tmp" || exit 1
  refused "a pattern for thread counts" "error : thread counts must be whole numbers from 1 to 999999, not *" \
    bash "$scaling" --bin "$bin" --no-plot -t '*' "$tmp/m.txt"
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
  # A picture gnuplot fails to draw leaves the one before as it was.
  mkdir -p "$tmp/broken"
  printf '#!/bin/sh\necho "no cairo today"\nexit 1\n' > "$tmp/broken/gnuplot"
  chmod +x "$tmp/broken/gnuplot"
  cp "$tmp/again.png" "$tmp/again.before"
  refused "gnuplot fails" "error : gnuplot could not draw $tmp/again.png: no cairo today" \
    env PATH="$tmp/broken:$PATH" bash "$scaling" --plot "$tmp/again.csv"
  cmp -s "$tmp/again.png" "$tmp/again.before" || bad "a failed drawing changed the picture before"
  same "files after a failed drawing" "$(ls -A "$tmp" | grep -c '^\.again')" 0
  refused "picture unwritable" "error : could not write /nonexistent/x.png" \
    bash "$scaling" --plot "$tmp/again.csv" /nonexistent/x.png
  refused "CSV missing" "error : could not open file $tmp/none.csv for reading" bash "$scaling" --plot "$tmp/none.csv"
  refused "CSV a folder" "error : $tmp is not a regular file" bash "$scaling" --plot "$tmp"
  refused "picture over the CSV" "error : the picture $tmp/again.csv would overwrite the CSV" \
    bash "$scaling" --plot "$tmp/again.csv" "$tmp/again.csv"
  grep -q '^threads,run,seconds$' "$tmp/again.csv" || bad "the CSV was overwritten"
  head -c 4096 /bin/sh > "$tmp/binary.csv"
  refused "binary CSV" "error : $tmp/binary.csv is not a threads,run,seconds CSV: it holds control characters" \
    bash "$scaling" --plot "$tmp/binary.csv" "$tmp/binary.png"
  printf 'threads,run,seconds\n1,1,0.5\n1,2,x\n' > "$tmp/text.csv"
  refused "row not a number" "error : line 3 of $tmp/text.csv is not a threads,run,seconds row" \
    bash "$scaling" --plot "$tmp/text.csv" "$tmp/text.png"

  # Names never reach gnuplot as code: a newline is refused, and a name
  # starting with "|" is a file, not a command.
  cd "$tmp" || exit 1
  refused "newline in the folder" "error : the output folder's name holds a control character" \
    bash "$scaling" --bin "$bin" -t 1 -r 1 -o $'d\nsystem "touch gp_ran"\n' m.txt
  run bash "$scaling" --plot -- again.csv '|touch gp_ran'
  same "picture named |command: status" "$status" 0
  is_png "|touch gp_ran" || bad "picture named |command: no PNG"
  [ ! -e gp_ran ] || bad "gnuplot ran a command"
  cp again.csv 'a=b.csv'
  run bash "$scaling" --plot 'a=b.csv' < /dev/null
  same "CSV named like an awk assignment: output" "$out" "plot : a=b.png"

  if make_comma_locale; then
    run env LOCPATH="$tmp/locale" LC_ALL=comma bash "$scaling" --plot again.csv comma.png
    same "comma locale plot: status" "$status" 0
    is_png comma.png || bad "comma locale: no PNG"
  fi
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
