# shellcheck shell=bash
# Sourced by the scripts of make steps that need particular compilers:
#   require_tools STEP TOOL...
# A missing tool on a machine without apt-get (scripts/setup.sh has named what
# to install) skips the step: it says so, notes it in build/skipped and exits 0.
# Where apt-get exists, setup installs every tool, so a missing one fails.
require_tools() {
  local step=$1 tool missing=()
  shift
  for tool in "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if command -v apt-get >/dev/null 2>&1; then
    echo "$step: ${missing[*]} not found (scripts/setup.sh should have installed it)" >&2
    exit 1
  fi
  echo "$step: skipped, ${missing[*]} not found"
  mkdir -p build/skipped
  echo "${missing[*]} not found" >"build/skipped/$step"
  exit 0
}
