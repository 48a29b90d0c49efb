#!/usr/bin/env bash
# The library as another project sees it: installed with cmake --install,
# found by find_package(kcenter CONFIG) and by pkg-config, its example built
# against the installed tree alone and run.
# Arguments: the build folder, the source folder.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
build=$1 src=$2
prefix=$tmp/prefix
want='step,row,dist_sq
0,0,inf
1,1,25
2,3,5
3,2,2
row 0: centre 0 at 0
row 1: centre 1 at 0
row 2: centre 0 at 2
row 3: centre 1 at 5'

run cmake --install "$build" --prefix "$prefix"
same "install: status" "$status" 0
same "one header installed" "$(cd "$prefix/include" && find . -type f)" "./kcenter/kcenter.hpp"

run cmake -S "$src/examples/order_matrix" -B "$tmp/example" -G Ninja -DCMAKE_PREFIX_PATH="$prefix"
same "example: configure status" "$status" 0
run cmake --build "$tmp/example"
same "example: build status" "$status" 0
run "$tmp/example/order_matrix"
same "example (CMake package): output" "$out" "$want"

run env PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs kcenter
same "pkg-config: status" "$status" 0
flags=$out
run g++ -std=c++17 -o "$tmp/by_pkg_config" "$src/examples/order_matrix/main.cpp" $flags -Wl,-rpath,"$prefix/lib"
same "example (pkg-config): build status" "$status" 0
run "$tmp/by_pkg_config"
same "example (pkg-config): output" "$out" "$want"
finish
