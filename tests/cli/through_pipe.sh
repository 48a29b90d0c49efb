#!/bin/sh
# through_pipe.sh command...: runs the command with its standard input a pipe
# fed from this script's standard input, as a program driving it would.
cat | "$@"
