#!/usr/bin/env bash
# scripts/centres-picture with the suite's programs.
# Arguments: the script, the folder of cover_radius, gen_points, greedy_centers,
# and, for a run of sampled_centers, the launcher command and its program.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
picture=$1 bin=$2 gen=$3 greedy=$4
shift 4

"$gen" -c 3 -w 0.05 clusters 200 2 11 > "$tmp/m.txt"
"$gen" -f points -c 3 -w 0.05 clusters 200 2 11 > "$tmp/p.txt"
"$greedy" 3 < "$tmp/m.txt" > "$tmp/greedy.out"

# Matrix and greedy_centers rows, the rows read from standard input.
run bash "$picture" --bin "$bin" "$tmp/m.txt" - "$tmp/greedy.png" < "$tmp/greedy.out"
same "greedy: status" "$status" 0
same "greedy: stderr" "$err" ""
"$bin/cover_radius" "$tmp/m.txt" "$tmp/greedy.out" > "$tmp/greedy.want"
same "greedy: output" "$out" "$(cat "$tmp/greedy.want")
picture : $tmp/greedy.png"
is_png "$tmp/greedy.png" || bad "greedy: no PNG"
[[ $out == "points = 200 (matrix), centres = 3 : 0 "* ]] || bad "greedy: first centre is not row 0"

# The same points as a point file, with the report of sampled_centers.
printf 'number of 3-tuples checked = 8\nwall time used = 0.0010 sec\napproximate optimal cost = 0.5\napprox optimal centers : 5 17 199 \n' > "$tmp/sampled.out"
run bash "$picture" --bin "$bin" --title "it's mine" "$tmp/p.txt" "$tmp/sampled.out" "$tmp/sampled.png"
same "sampled report: status" "$status" 0
[[ $out == "points = 200 (point file), centres = 3 : 5 17 199"$'\n'* ]] || bad "sampled report: output [$out]"
is_png "$tmp/sampled.png" || bad "sampled report: no PNG"

# All points at one place: the disks have radius 0 and the picture still draws.
printf '1 1\n1 1\n' > "$tmp/same.txt"
printf 'approx optimal centers : 1 \n' > "$tmp/one.out"
run bash "$picture" --bin "$bin" "$tmp/same.txt" "$tmp/one.out" "$tmp/same.png"
same "one place: status" "$status" 0
is_png "$tmp/same.png" || bad "one place: no PNG"

# Points that are not finite: the cost is the largest double (no covering),
# and the picture still draws around the finite points.
printf '0 0\ninf 1\nnan 2\n1 1\n' > "$tmp/odd.txt"
run bash "$picture" --bin "$bin" "$tmp/odd.txt" "$tmp/one.out" "$tmp/odd.png"
same "not finite: status" "$status" 0
same "not finite: cost" "$(sed -n 3p <<<"$out")" "cost = 1.7976931348623157e+308"
is_png "$tmp/odd.png" || bad "not finite: no PNG"

# cover_radius's refusal is passed on as the one line.
printf '9.000000 9.000000 \n' > "$tmp/far.out"
refused "row not a point" "error : centre row 1 of $tmp/far.out is not a point of the point set" \
  bash "$picture" --bin "$bin" "$tmp/m.txt" "$tmp/far.out" "$tmp/x.png"
[ ! -e "$tmp/x.png" ] || bad "a refused picture was written"
# A picture gnuplot fails to draw leaves the one before as it was.
mkdir -p "$tmp/broken"
printf '#!/bin/sh\necho "no cairo today"\nexit 1\n' > "$tmp/broken/gnuplot"
chmod +x "$tmp/broken/gnuplot"
cp "$tmp/greedy.png" "$tmp/greedy.before"
refused "gnuplot fails" "error : gnuplot could not draw $tmp/greedy.png: no cairo today" \
  env PATH="$tmp/broken:$PATH" bash "$picture" --bin "$bin" "$tmp/m.txt" "$tmp/greedy.out" "$tmp/greedy.png"
cmp -s "$tmp/greedy.png" "$tmp/greedy.before" || bad "a failed drawing changed the picture before"
same "files after a failed drawing" "$(ls -A "$tmp" | grep -c '^\.greedy')" 0
refused "unwritable picture" "error : could not write /nonexistent/x.png" \
  bash "$picture" --bin "$bin" "$tmp/m.txt" "$tmp/greedy.out" /nonexistent/x.png
refused "unknown option" "error : unknown option --svg" bash "$picture" --svg a b c
run bash "$picture" a b
same "two files: status" "$status" 1
[[ $out == "usage : centres-picture "* ]] && [ "$(wc -l <<<"$out")" -eq 1 ] || bad "two files: [$out]"
run bash "$picture" --help
same "help: status" "$status" 0
[[ $out == "usage : centres-picture "*"Draws the points"* ]] || bad "help text"

# Points through a pipe, read once: the same answer as from the file.
run bash "$picture" --bin "$bin" <(cat "$tmp/m.txt") "$tmp/greedy.out" "$tmp/piped.png"
same "points through a pipe: status" "$status" 0
same "points through a pipe: report" "$(sed -n 1,3p <<<"$out")" "$(sed -n 1,3p "$tmp/greedy.want")"

# Names and titles never reach gnuplot as code: a newline is refused, and a
# picture named "|command" is a file.
cd "$tmp" || exit 1
refused "newline in the title" "error : the title holds a control character" \
  bash "$picture" --bin "$bin" --title $'a\nsystem "touch gp_ran"\n' m.txt greedy.out t.png
refused "newline in the picture's name" "error : a file name holds a control character" \
  bash "$picture" --bin "$bin" m.txt greedy.out $'t.png\nsystem "touch gp_ran"'
run bash "$picture" --bin "$bin" m.txt greedy.out '|touch gp_ran'
same "picture named |command: status" "$status" 0
is_png "|touch gp_ran" || bad "picture named |command: no PNG"
[ ! -e gp_ran ] || bad "gnuplot ran a command"
# -- ends the options: a picture whose name starts with a dash.
run bash "$picture" --bin "$bin" -- m.txt greedy.out -dash.png
same "-- then -dash.png: status" "$status" 0
is_png ./-dash.png || bad "-- then -dash.png: no PNG"
cp m.txt m_copy.txt
refused "picture over an input" "error : the picture m_copy.txt would overwrite the input m_copy.txt" \
  bash "$picture" --bin "$bin" m_copy.txt greedy.out m_copy.txt
cmp -s m.txt m_copy.txt || bad "an input was overwritten"

# A locale with a decimal comma changes nothing.
if make_comma_locale; then
  run env LOCPATH="$tmp/locale" LC_ALL=comma bash "$picture" --bin "$bin" m.txt greedy.out comma.png
  same "comma locale: status" "$status" 0
  same "comma locale: report" "$(sed -n 1,3p <<<"$out")" "$(sed -n 1,3p "$tmp/greedy.want")"
  is_png comma.png || bad "comma locale: no PNG"
fi

# Without cover_radius the script says so.
mkdir -p alone
cp "$picture" alone/centres-picture
refused "no cover_radius anywhere" "error : cover_radius not found (build the suite, or name its folder with --bin)" \
  env PATH=/usr/bin:/bin bash alone/centres-picture --bin /nonexistent m.txt greedy.out x.png

# A real run of sampled_centers, when it is built: its cost, as it prints
# it with %g, is what cover_radius computes for its centres.
if [ $# -gt 0 ]; then
  run "$@" "$tmp/p.txt" 3 200 5
  same "sampled_centers: status" "$status" 0
  printf '%s\n' "$out" > "$tmp/real.out"
  run bash "$picture" --bin "$bin" "$tmp/p.txt" "$tmp/real.out" "$tmp/real.png"
  same "sampled_centers picture: status" "$status" 0
  is_png "$tmp/real.png" || bad "sampled_centers: no PNG"
  printed=$(awk -F' = ' '/^approximate optimal cost = /{ print $2 }' "$tmp/real.out")
  ours=$(awk -F' = ' '/^cost = /{ printf "%g", $2 }' <<<"$out")
  same "sampled_centers cost against cover_radius" "$ours" "$printed"
fi
finish
