#!/usr/bin/env bash
# The tests again on another build: configures build/NAME with the given
# compilers (and CMake arguments), builds it, runs the C++ tests (ctest) and
# then pytest against the modules built there, after checking that they are
# the ones Python imports (the identifiers must be the same bytes).
#
#   scripts/test_build.sh [options] NAME CC CXX [CMAKE_ARG...]
#     --no-ctest         pytest only (no C++ tests in this build)
#     --build-only       configure and build, run nothing
#     --blake3 PROVIDER  fail unless CMake took BLAKE3 this way (fetch, distribution, ...)
#     --env VAR=VALUE    for ctest and pytest (repeatable)
#     --pytest-env VAR=VALUE  for pytest only (repeatable)
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/require_tools.sh
. scripts/require_tools.sh

ctest=1 run=1 blake3="" env_all=() env_py=()
while [[ $# -gt 0 && $1 == --* ]]; do
  case "$1" in
    --no-ctest) ctest=0; shift ;;
    --build-only) run=0; shift ;;
    --blake3) blake3=$2; shift 2 ;;
    --env) env_all+=("$2"); shift 2 ;;
    --pytest-env) env_py+=("$2"); shift 2 ;;
    *) echo "test_build.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
name=$1 cc=$2 cxx=$3
shift 3
step="test-$name"
require_tools "$step" "$cc" "$cxx"

BUILD=build/$name
BIN=$PWD/.venv/bin
PY=$BIN/python
tests=OFF
[ $ctest -eq 1 ] && tests=ON

echo "$step: $("$cxx" --version | head -n 1)"
"$BIN/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$BIN/ninja" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_CXX_COMPILER="$cxx" -DMIVO_BUILD_TESTS=$tests -DPython_EXECUTABLE="$PY" --log-level=WARNING "$@" >/dev/null
if [ -n "$blake3" ]; then
  got=$(sed -n 's/^MIVO_BLAKE3_PROVIDER:INTERNAL=//p' "$BUILD/CMakeCache.txt")
  [ "$got" = "$blake3" ] || { echo "$step: BLAKE3 came through '$got', expected '$blake3'" >&2; exit 1; }
  echo "$step: BLAKE3 through $got ($(sed -n 's/^blake3_SOURCE_DIR:.*=//p;s/^FETCHCONTENT_SOURCE_DIR_BLAKE3:.*=//p' \
    "$BUILD/CMakeCache.txt" | head -n 1))"
fi
"$BIN/cmake" --build "$BUILD" -j2
[ $run -eq 1 ] || exit 0
if [ $ctest -eq 1 ]; then
  env ${env_all[@]+"${env_all[@]}"} "$BIN/ctest" --test-dir "$BUILD" --output-on-failure -j2 --timeout 600
fi
env ${env_all[@]+"${env_all[@]}"} ${env_py[@]+"${env_py[@]}"} PYTHONPATH="$BUILD" "$PY" -c "
import pathlib, mivo, mivo_collections
for m in (mivo, mivo_collections):
    assert pathlib.Path(m.__file__).parent.resolve() == pathlib.Path('$BUILD').resolve(), m.__file__"
env ${env_all[@]+"${env_all[@]}"} ${env_py[@]+"${env_py[@]}"} PYTHONPATH="$BUILD" "$PY" -m pytest -q -p no:cacheprovider
