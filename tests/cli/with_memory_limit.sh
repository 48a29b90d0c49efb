#!/bin/sh
# with_memory_limit.sh KIB command...: runs the command with its address
# space (and that of everything it starts) limited to KIB kibibytes, so that
# large requests for storage fail at once instead of being granted.
limit=$1
shift
ulimit -v "$limit" || exit 125
exec "$@"
