#!/usr/bin/env bash
# cmake --install puts the programs and the scripts into one bin folder,
# where the scripts find the programs without PATH.
# Arguments: the build folder, "plot" or "noplot", then the programs expected.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
build=$1 plot=$2
shift 2

run cmake --install "$build" --prefix "$tmp/prefix"
same "install: status" "$status" 0
bin=$tmp/prefix/bin
for f in "$@" scaling centres-picture; do
  [ -x "$bin/$f" ] || bad "$f not installed as an executable"
done

"$bin/gen_points" -c 2 clusters 50 2 4 > "$tmp/m.txt"
"$bin/greedy_centers" 2 < "$tmp/m.txt" > "$tmp/c.out"
if [ "$plot" = plot ]; then
  run env PATH=/usr/bin:/bin "$bin/centres-picture" "$tmp/m.txt" "$tmp/c.out" "$tmp/c.png"
  same "installed picture: status" "$status" 0
  is_png "$tmp/c.png" || bad "installed picture: no PNG"
fi
if [ -x "$bin/farthest_pair" ]; then
  run env PATH=/usr/bin:/bin "$bin/scaling" --no-plot -t 1 -r 1 -o "$tmp/s" "$tmp/m.txt"
  same "installed scaling: status" "$status" 0
fi
finish
