#!/usr/bin/env bash
# scripts/demo where its output folder is a file: one line, before it
# installs or builds anything. Runs a copy of the script in a tree of its own.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
demo=$1
mkdir -p "$tmp/tree/scripts"
cp "$demo" "$tmp/tree/scripts/demo"
echo "not a folder" > "$tmp/tree/out"
refused "out is a file" \
  "error : $tmp/tree/out is a file, not a folder: the demo writes its outputs into a folder of that name" \
  bash "$tmp/tree/scripts/demo"
same "the file out" "$(cat "$tmp/tree/out")" "not a folder"
finish
