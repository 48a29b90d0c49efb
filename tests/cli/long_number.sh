#!/bin/sh
# long_number.sh shape|body DIGITS command...: runs the command with standard
# input a matrix whose row count (shape) or first element (body) is spelled
# with DIGITS digits: 1 row of 1 column, the element 1.
where=$1
digits=$2
shift 2
zeros() { head -c "$digits" /dev/zero | tr '\0' 0; }
if [ "$where" = shape ]; then
  { zeros; printf '1 1\n1\n'; } | "$@"
else
  { printf '1 1\n'; zeros; printf '1\n'; } | "$@"
fi
