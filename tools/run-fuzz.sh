#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ with clang under AddressSanitizer and UBSan and runs each for
# a while from its seed corpus, a few at a time. A target that fails prints libFuzzer's report
# and leaves the input that broke it in <build>/fuzz-out (crash-*, timeout-*, leak-*); the
# script then fails. Run one input again with: <build>/fuzz/<target> <file>.
#   TVX_BUILD_DIR     build folder (default: build-fuzz)
#   TVX_FUZZ_SECONDS  how long each target runs (default: 30)
#   TVX_FUZZ_JOBS     how many targets run at once (default: all, so their 30 s are wall time)
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-deps.sh clang libclang-rt-dev
build=${TVX_BUILD_DIR:-build-fuzz}
seconds=${TVX_FUZZ_SECONDS:-30}
targets=(fuzz_key_decoder fuzz_setup_screen fuzz_sim_radio fuzz_telnet_reader fuzz_values)
jobs=${TVX_FUZZ_JOBS:-${#targets[@]}}

# No build type: light optimisation and line tables only, which build fast and still name the
# line of a failure; assert() stays on. A folder configured for the fuzzers already (CI's
# sanitizer build, which builds the tests and the targets in one) is built as it is.
if ! grep -qs '^TVX_FUZZ:BOOL=ON' "$build/CMakeCache.txt"; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= \
    -DCMAKE_CXX_FLAGS="-O1 -gline-tables-only" -DTVX_WERROR=ON -DTVX_SANITIZE=ON -DTVX_FUZZ=ON \
    -DTVX_BUILD_TESTS=OFF -DTVX_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" --target "${targets[@]}"

out="$build/fuzz-out"
mkdir -p "$out"
# One target, from a working copy of its seeds in the build folder (libFuzzer adds the inputs it
# finds to the folder and may rewrite the ones it shortens).
run() {
  local target=$1
  mkdir -p "$out/$target.corpus"
  cp "fuzz/corpus/$target"/* "$out/$target.corpus/"
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$out/$target-" "$out/$target.corpus" \
    >"$out/$target.log" 2>&1; then
    echo "$target: $(grep -o 'number_of_executed_units: *[0-9]*' "$out/$target.log" |
      grep -o '[0-9]*$') inputs in ${seconds} s, no failure"
  else
    echo "$target: FAILED" >&2
    grep -v '^#\|^INFO\|^stat::' "$out/$target.log" | tail -n 60 >&2
    return 1
  fi
}

status=0
for ((first = 0; first < ${#targets[@]}; first += jobs)); do
  pids=()
  for target in "${targets[@]:first:jobs}"; do
    run "$target" &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || status=1; done
done
exit "$status"
