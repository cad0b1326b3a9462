#!/usr/bin/env bash
# Installs the build tree into a temporary prefix, then builds and runs the
# consumer against it twice: with find_package and with pkg-config. Also
# checks what the installed library exports.
#   run.sh BUILD_DIR CONSUMER_SOURCE_DIR
set -euo pipefail
build=$1
source=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/kx9-consumer-XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
lib=$(find "$prefix" -name 'libVNKX9ComFuncLabelStructure.so.*.*' | head -n 1)
[ -n "$lib" ] || { echo "no versioned library installed"; exit 1; }

exported=$(nm -D --defined-only -C "$lib" | grep -c ' [TWVBDR] ' || true)
unwanted=$(nm -D --defined-only -C "$lib" | grep -E 'refdb|KX9TestAccess|testing::' || true)
echo "installed $(basename "$lib"): $exported exported symbols"
if [ -n "$unwanted" ]; then
  echo "the library exports reference-database or test symbols:"
  echo "$unwanted"
  exit 1
fi

cmake -S "$source" -B "$work/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/build" >/dev/null
"$work/build/consumer"

pc_dir=$(dirname "$(find "$prefix" -name VNKX9ComFuncLabelStructure.pc | head -n 1)")
flags=$(PKG_CONFIG_PATH="$pc_dir" pkg-config --cflags --libs VNKX9ComFuncLabelStructure)
# shellcheck disable=SC2086 # the flags are words
${CXX:-c++} -Wall -Wextra -Werror "$source/consumer.cc" $flags -o "$work/consumer-pc"
LD_LIBRARY_PATH=$(dirname "$lib") "$work/consumer-pc"

"$prefix/bin/kx9label" --help >/dev/null
echo "consumer: find_package and pkg-config builds run; kx9label runs from the install tree"
