#!/bin/sh
# with_no_file_room.sh command...: runs the command with no room to write
# any file (ulimit -f 0); a write then fails with EFBIG instead of ending
# the command by SIGXFSZ, which stays ignored across exec.
trap '' XFSZ
ulimit -f 0 || exit 125
exec "$@"
