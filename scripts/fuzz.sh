#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz with Clang (build/fuzz), writes
# their seed corpora from valid identifiers, and runs each target for
# SECONDS seconds (default 20). A crash, a sanitizer report, a disagreement
# with a model or an input slower than the timeout fails the run; the input
# is saved under build/fuzz/artifacts. Then the binding harness
# (tests/fuzz/fuzz_bindings.py) calls the modules' functions as long on their
# sanitizer build (build/sanitize, made by `make sanitize-build`); a finding
# prints the call to replay. Prints the executions each target reached.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/require_tools.sh
. scripts/require_tools.sh
require_tools fuzz clang clang++
SECONDS_EACH=${1:-20}
BUILD=build/fuzz
BIN=$PWD/.venv/bin

"$BIN/cmake" -S . -B "$BUILD" -G Ninja -DCMAKE_MAKE_PROGRAM="$BIN/ninja" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMIVO_BUILD_FUZZ=ON -DMIVO_BUILD_MODULE=OFF \
  --log-level=WARNING >/dev/null
"$BIN/cmake" --build "$BUILD" -j2
"$BIN/python" scripts/fuzz_seeds.py "$BUILD/corpus"
mkdir -p "$BUILD/artifacts"

# Readers get large inputs at once and a short timeout: they must stay
# linear in the input size. The quadratic string metrics get short strings.
options_for() {
  case "$1" in
    fuzz_identifier|fuzz_base32_decode|fuzz_base32_roundtrip|fuzz_header|fuzz_payload)
      echo "-max_len=262144 -len_control=0 -timeout=2 -rss_limit_mb=4096" ;;
    # Vectors up to 2048 values and the projection tables they draw.
    fuzz_encode)
      echo "-max_len=8192 -timeout=10 -rss_limit_mb=4096" ;;
    *)
      echo "-max_len=2048 -timeout=10" ;;
  esac
}

summary=()
status=0
passed=0
failed=0
for exe in "$BUILD"/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe")
  log="$BUILD/artifacts/$name.log"
  # shellcheck disable=SC2046
  if ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
      "$exe" $(options_for "$name") -max_total_time="$SECONDS_EACH" -print_final_stats=1 \
      -artifact_prefix="$BUILD/artifacts/$name-" "$BUILD/corpus/$name" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    summary+=("$(printf '%-24s %12s runs %8s/s   cov %s' "$name" "$runs" "$((runs / SECONDS_EACH))" "${cov:-?}")")
    passed=$((passed + 1))
  else
    status=1
    failed=$((failed + 1))
    tail -n 60 "$log"
    summary+=("$(printf '%-24s FAILED (see %s)' "$name" "$log")")
  fi
done
# The binding harness, on the modules built with the sanitizers. Python's
# own allocator is off, so that the sanitizer sees every object freed.
SAN_BUILD=build/sanitize
log="$BUILD/artifacts/fuzz_bindings.log"
if ! ls "$SAN_BUILD"/mivo.*.so >/dev/null 2>&1; then
  echo "fuzz: no sanitizer build of the modules in $SAN_BUILD: run make sanitize-build (make fuzz does)" >&2
  exit 1
fi
if ASAN_OPTIONS=halt_on_error=1:detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    PYTHONMALLOC=malloc MIVO_SANITIZER=address,undefined PYTHONPATH="$SAN_BUILD" \
    LD_PRELOAD="$(gcc -print-file-name=libasan.so)" \
    "$BIN/python" tests/fuzz/fuzz_bindings.py --seconds "$SECONDS_EACH" >"$log" 2>&1; then
  calls=$(sed -n 's/^fuzz_bindings: seed [0-9]*, \([0-9]*\) calls.*/\1/p' "$log")
  summary+=("$(printf '%-24s %12s calls %7s/s   (%s)' fuzz_bindings "$calls" "$((calls / SECONDS_EACH))" \
    "$(sed -n 's/^fuzz_bindings: \(seed [0-9]*\),.*/\1/p' "$log")")")
  passed=$((passed + 1))
else
  status=1
  failed=$((failed + 1))
  tail -n 60 "$log"
  summary+=("$(printf '%-24s FAILED (see %s)' fuzz_bindings "$log")")
fi

echo "fuzz: ${SECONDS_EACH} s per target"
printf '  %s\n' "${summary[@]}"
echo "fuzz: $passed passed, $failed failed"
exit $status
