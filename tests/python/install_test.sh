#!/usr/bin/env bash
# The Python package installed the two ways it can be, then imported by a
# Python started elsewhere, where it must order a matrix:
#   install_test.sh cmake PYTHON BUILD_DIR   cmake --install into a fresh prefix,
#                                            found through PYTHONPATH
#   install_test.sh pip PYTHON SOURCE_DIR    pip install . in a venv made with
#                                            --system-site-packages, offline
set -uo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
how=$1 python=$2 dir=$3

# Prints where kcenter came from and its order of a 4 x 2 matrix.
check_import() {
  run env -C "$tmp" "$@" -c 'import kcenter, numpy as np
print(kcenter.__file__)
print(kcenter.order(np.array([[0, 0], [3, 4], [1, 1], [-2, 1]], dtype=np.float32), 3).rows.tolist())'
  same "$how: import status (stderr: $err)" "$status" 0
  same "$how: order" "$(tail -n 1 <<<"$out")" "[0, 1, 3]"
}

if [ "$how" = cmake ]; then
  run cmake --install "$dir" --component python --prefix "$tmp/prefix"
  same "cmake --install: status ($out $err)" "$status" 0
  site=$("$python" -c 'import sys; print("lib/python%d.%d/dist-packages" % sys.version_info[:2])')
  check_import env PYTHONPATH="$tmp/prefix/$site" "$python"
  same "cmake: module's place" "$(head -n 1 <<<"$out")" "$tmp/prefix/$site/kcenter/__init__.py"
  for f in py.typed _kcenter.pyi; do
    [ -f "$tmp/prefix/$site/kcenter/$f" ] || bad "cmake: $f not installed"
  done
else
  # A copy of the sources, so that pip's build leaves the tree alone.
  mkdir "$tmp/src"
  tar -C "$dir" --exclude='./build*' --exclude=./.git -cf - . | tar -C "$tmp/src" -xf -
  run "$python" -m venv --system-site-packages "$tmp/venv"
  same "venv: status ($err)" "$status" 0
  run env PIP_NO_INDEX=1 PIP_DISABLE_PIP_VERSION_CHECK=1 "$tmp/venv/bin/python" -m pip install \
    --no-index --no-build-isolation "$tmp/src"
  same "pip install: status ($out $err)" "$status" 0
  check_import env -u PYTHONPATH "$tmp/venv/bin/python"
  case "$(head -n 1 <<<"$out")" in
    "$tmp/venv/lib/"*/site-packages/kcenter/__init__.py) ;;
    *) bad "pip: kcenter imported from $(head -n 1 <<<"$out")" ;;
  esac
fi
finish
