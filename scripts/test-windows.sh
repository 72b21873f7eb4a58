#!/bin/bash
# Cross-builds the tree for Windows (MinGW-w64) into build-win/ and runs its tests under Wine
# in a fresh Wine prefix. Exits with ctest's status.
#   NORVIK_WIN_DEPS=PREFIX   where the MinGW GoogleTest and jsoncpp live (default build-win-deps/;
#                            built there by scripts/build-windows-deps.sh when missing)
#   CTEST_ARGS="..."         extra ctest arguments, e.g. "-R platform"
set -euo pipefail

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build-win
deps=${NORVIK_WIN_DEPS:-$repo/build-win-deps}

"$repo/scripts/build-windows-deps.sh" "$deps"

cmake -S "$repo" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-x86_64-posix.cmake" \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$repo/scripts/wine-run.sh" \
    -DCMAKE_PREFIX_PATH="$deps" \
    -DGTest_DIR="$deps/lib/cmake/GTest" \
    -Djsoncpp_DIR="$deps/lib/cmake/jsoncpp" \
    -DNORVIK_BUILD_BENCH=OFF
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)"

# A fresh prefix per run: no registry values, pipes or files left over from an earlier run.
export NORVIK_WINEPREFIX=$build/wineprefix
stop_wineserver() { WINEPREFIX=$NORVIK_WINEPREFIX wineserver -k >/dev/null 2>&1 || true; }
if [[ -d $NORVIK_WINEPREFIX ]]; then
    stop_wineserver
    rm -rf "$NORVIK_WINEPREFIX" "$NORVIK_WINEPREFIX.lock"
fi
trap stop_wineserver EXIT

# Wine's Direct3D 11 needs an X server: the prefix is made and the tests run on a virtual one.
status=0
xvfb-run -a bash -c '"$0/scripts/wine-run.sh" --init && cd "$1" && ctest --output-on-failure -j2 ${CTEST_ARGS:-}' \
    "$repo" "$build" || status=$?
exit "$status"
