#!/usr/bin/env bash
# Installs what the given make targets need, once: Debian packages (where
# apt-get exists; elsewhere it names what to install and goes on with what is
# present), the project virtualenv .venv, and the Python packages of the
# targets, read from pyproject.toml (scripts/requirements.py). Safe to run
# again; it only installs what is missing. One line per phase that does work.
#
#   scripts/setup.sh TARGET...   demo test lint bench plots gcc11 clang libcxx aarch64 sanitize fuzz check
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian packages and Python groups (build, or an extra of pyproject.toml) of one target.
apt_for() {
  local build="build-essential librust-blake3-dev wamerican"
  case "$1" in
    demo) echo "$build" ;;
    # make build compiles the C++ tests and benchmarks too; the PostgreSQL
    # example's test starts a private server
    test) echo "$build libgtest-dev libbenchmark-dev postgresql" ;;
    lint) ;;
    bench) echo "$build libbenchmark-dev" ;;
    plots) echo "$build" ;;
    gcc11) echo "$build libgtest-dev g++-11" ;;
    clang) echo "$build libgtest-dev clang" ;;
    libcxx) echo "$build clang libc++-dev libc++abi-dev" ;;
    aarch64) echo "librust-blake3-dev g++-aarch64-linux-gnu" ;;
    sanitize) echo "$build libgtest-dev" ;;
    fuzz) echo "$build clang libclang-rt-14-dev" ;;
    check) for t in test lint gcc11 clang libcxx aarch64 sanitize fuzz; do apt_for "$t"; done ;;
  esac
}
# The module's build takes CMake from .venv or the system (see below);
# the test builds and the scripts run the one in .venv.
python_for() {
  case "$1" in
    demo) echo build ;;
    aarch64|fuzz) echo build cmake ;;
    test|gcc11|clang|libcxx|sanitize) echo build cmake test examples ;;
    lint) echo lint ;;
    bench) echo build bench ;;
    plots) echo build plots bench ;;
    check) echo build cmake test examples lint ;;
  esac
}

[ $# -gt 0 ] || set -- demo
for target in "$@"; do
  case "$target" in
    demo|test|lint|bench|plots|gcc11|clang|libcxx|aarch64|sanitize|fuzz|check) ;;
    *) echo "setup: unknown target '$target'" >&2; exit 2 ;;
  esac
done
apt_packages=()
groups=()
for target in "$@"; do
  read -r -a more <<<"$(apt_for "$target" | tr '\n' ' ')"
  apt_packages+=("${more[@]}")
  read -r -a more <<<"$(python_for "$target")"
  groups+=("${more[@]}")
done

PY=${PYTHON:-python3}
# Debian's own Python needs python3-venv for the virtualenv and python3-dev
# for the headers; other Pythons (pyenv, conda, Homebrew) bring both.
if ! command -v "$PY" >/dev/null 2>&1; then
  apt_packages+=(python3 python3-venv python3-dev)
elif command -v apt-get >/dev/null 2>&1 && [[ "$(readlink -f "$(command -v "$PY")")" == /usr/bin/* ]]; then
  [ -x .venv/bin/python ] || "$PY" -c "import ensurepip" 2>/dev/null || apt_packages+=(python3-venv)
  "$PY" -c "import os, sys, sysconfig; sys.exit(not os.path.exists(sysconfig.get_path('include') + '/Python.h'))" \
    || apt_packages+=(python3-dev)
fi

# ------------------------------------------------------------ Debian packages
read -r -a apt_packages <<<"$(printf '%s\n' "${apt_packages[@]}" | awk 'NF && !seen[$0]++' | tr '\n' ' ')"
# Without dpkg, a package counts as present when what it brings is found.
brings() {
  case "$1" in
    build-essential) command -v c++ && command -v make ;;
    librust-blake3-dev) pkg-config --exists libblake3 ;;
    wamerican) [ -e /usr/share/dict/words ] ;;
    libgtest-dev) pkg-config --exists gtest ;;
    libbenchmark-dev) pkg-config --exists benchmark ;;
    postgresql) command -v initdb || command -v pg_ctl ;;
    g++-11) command -v g++-11 ;;
    clang) command -v clang++ ;;
    g++-aarch64-linux-gnu) command -v aarch64-linux-gnu-g++ ;;
    python3) command -v python3 ;;
    *) false ;;
  esac
} >/dev/null 2>&1
missing=()
for p in "${apt_packages[@]}"; do
  if command -v dpkg-query >/dev/null 2>&1; then
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  else
    brings "$p" || missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  if command -v apt-get >/dev/null 2>&1; then
    echo "setup: apt-get install ${missing[*]}"
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}" \
      | { grep --line-buffered -E '^(Need to get|After this operation|Get:|Setting up)' || true; }
  else
    echo "setup: no apt-get here; install the equivalents of these Debian packages with your"
    echo "       system's package manager (README.md, 'Other systems'): ${missing[*]}"
    echo "setup: going on with what is present (BLAKE3 comes through CMake's FetchContent if missing)"
  fi
fi

# --------------------------------------------------------- the virtualenv
if [ ! -x .venv/bin/python ]; then
  echo "setup: creating .venv with $PY ($("$PY" -c 'import sys; print(sys.version.split()[0])'))"
  "$PY" -m venv .venv
fi
VPY=.venv/bin/python
# pip 23.1 is the first to take -C (short for --config-settings), which the Makefile uses.
if ! $VPY -c "import pip, sys; sys.exit(tuple(map(int, pip.__version__.split('.')[:2])) < (23, 1))"; then
  echo "setup: upgrading pip in .venv (-C needs pip 23.1)"
  $VPY -m pip install --upgrade --disable-pip-version-check -q pip
fi
$VPY -c "import tomllib" 2>/dev/null || $VPY -c "import tomli" 2>/dev/null \
  || $VPY -m pip install --disable-pip-version-check -q tomli

# ------------------------------------------------------- Python packages
# CMake from PyPI only where the system has none new enough.
need=$($VPY scripts/requirements.py cmake)
have=$(cmake --version 2>/dev/null | sed -n '1s/^cmake version \([0-9.]*\).*/\1/p')
if [ -z "$have" ] || [ "$(printf '%s\n%s\n' "${need#cmake>=}" "$have" | sort -V | head -n 1)" != "${need#cmake>=}" ]; then
  groups+=(cmake)
fi
read -r -a groups <<<"$(printf '%s\n' "${groups[@]}" | awk 'NF && !seen[$0]++' | tr '\n' ' ')"
todo=()
for g in "${groups[@]}"; do
  stamp=.venv/.mivo-$g
  { [ -f "$stamp" ] && [ ! pyproject.toml -nt "$stamp" ]; } || todo+=("$g")
done
if [ ${#todo[@]} -gt 0 ]; then
  reqs=()
  while IFS= read -r line; do reqs+=("$line"); done < <($VPY scripts/requirements.py "${todo[@]}")
  echo "setup: pip install into .venv, for ${todo[*]}: ${reqs[*]}"
  $VPY -m pip install --disable-pip-version-check "${reqs[@]}"
  for g in "${todo[@]}"; do touch ".venv/.mivo-$g"; done
fi
