#!/usr/bin/env bash
# Installs what the build and the tests need, once: Debian packages, then a
# project virtualenv. Safe to run again; it only installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

APT_PACKAGES=(build-essential cmake pkg-config librust-blake3-dev libgtest-dev libbenchmark-dev wamerican)
# PostgreSQL: examples/postgres_search.py and its test start a private server
APT_PACKAGES+=(postgresql)
# Clang with libc++ and its sanitizer/fuzzer runtime, and the AArch64 cross-compiler
APT_PACKAGES+=(clang libc++-dev libc++abi-dev libclang-rt-14-dev g++-aarch64-linux-gnu)
missing=()
for p in "${APT_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}" >/dev/null
fi

PY=${PYTHON:-python3}
if [ ! -x .venv/bin/python ]; then
  echo "setup: creating .venv"
  "$PY" -m venv .venv
fi
stamp=.venv/.mivo-requirements
if [ ! -f "$stamp" ] || [ requirements-dev.txt -nt "$stamp" ]; then
  echo "setup: installing Python requirements into .venv"
  .venv/bin/python -m pip install -q --upgrade pip
  .venv/bin/python -m pip install -q -r requirements-dev.txt
  touch "$stamp"
fi
