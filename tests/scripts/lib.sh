# shellcheck shell=bash
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

# Makes the locale "comma", whose decimal point is a comma, in $tmp/locale
# (no root needed): run a command in it with
#   env LOCPATH="$tmp/locale" LC_ALL=comma command...
# Needs localedef and the charmaps of Debian's package locales.
make_comma_locale() {
  mkdir -p "$tmp/locale"
  printf 'LC_NUMERIC\ndecimal_point "<U002C>"\nthousands_sep "<U002E>"\ngrouping 3;3\nEND LC_NUMERIC\n' \
    > "$tmp/comma.def"
  # -c: the categories left out are taken from C, with a warning and status 1.
  localedef -c -i "$tmp/comma.def" -f ANSI_X3.4-1968 "$tmp/locale/comma" >/dev/null 2>&1
  if [ "$(LOCPATH="$tmp/locale" LC_ALL=comma locale decimal_point 2>/dev/null)" != , ]; then
    bad "no comma locale could be made (localedef and Debian's package locales are needed)"
    return 1
  fi
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
  fi
  echo "all checks passed"
}
