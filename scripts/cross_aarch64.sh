#!/usr/bin/env bash
# Compiles the C++ library for 64-bit Arm Linux with Debian's cross-compiler
# (compile only: nothing runs). Proves the build needs no x86 SIMD.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/require_tools.sh
. scripts/require_tools.sh
require_tools cross-aarch64 aarch64-linux-gnu-gcc aarch64-linux-gnu-g++
BUILD=build/aarch64
BIN=$PWD/.venv/bin

"$BIN/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$BIN/ninja" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DMIVO_BUILD_MODULE=OFF -Wno-unused-cli \
  --log-level=WARNING >/dev/null
"$BIN/cmake" --build "$BUILD" -j2 --target mivo_core
echo "aarch64: library compiled ($(aarch64-linux-gnu-g++ -dumpfullversion))"
