# Helpers for the script tests: each check prints what went wrong and the
# test fails at the end if any did.
failures=0
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

bad() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# same "what" got want
same() {
  [ "$2" = "$3" ] || bad "$1"$'\n--- got\n'"$2"$'\n--- want\n'"$3"
}

# Runs a command, keeping its standard output in $out, its standard error
# in $err and its status in $status.
run() {
  status=0
  out=$("$@" 2>"$tmp/stderr") || status=$?
  err=$(cat "$tmp/stderr")
}

# refused "what" line command...: one line on standard output, status 1,
# nothing on standard error.
refused() {
  local what=$1 line=$2
  shift 2
  run "$@"
  same "$what: status" "$status" 1
  same "$what: output" "$out" "$line"
  same "$what: stderr" "$err" ""
}

# The eight bytes every PNG file starts with.
is_png() {
  [ -s "$1" ] && [ "$(head -c 8 "$1" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ]
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}
