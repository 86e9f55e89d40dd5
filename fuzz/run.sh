#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, ASan, UBSan) and runs them.
#
#   fuzz/run.sh replay          every saved input once: corpora and crash regressions
#   fuzz/run.sh fuzz SECONDS [TARGET...]
#                               fuzz each target (default: all) for SECONDS, all at
#                               once, then merge what was found into fuzz/corpus/<target>
#   fuzz/run.sh coverage        line and region coverage of the reader and the core
#                               reached by the saved inputs (llvm-cov)
#
# The build goes to $FUZZ_BUILD (default /tmp/quarnel-fuzz-build), the working
# corpora and crash inputs of a fuzzing run to $FUZZ_WORK (default
# /tmp/quarnel-fuzz-work). Needs clang and its runtime (Debian: clang-19,
# libclang-rt-19-dev); $CLANG names the compiler version suffix (default 19).
set -euo pipefail

mode=${1:-replay}
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-/tmp/quarnel-fuzz-build}
work=${FUZZ_WORK:-/tmp/quarnel-fuzz-work}
suffix=${CLANG:-19}
targets=(fuzz_header fuzz_body fuzz_vocabulary fuzz_target fuzz_fst fuzz_index fuzz_sample)

generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)

if [ "$mode" = coverage ]; then
  flags="-fprofile-instr-generate -fcoverage-mapping"
  CC=clang-$suffix CXX=clang++-$suffix cmake -S "$repo" -B "$build-coverage" "${generator[@]}" \
    -DQUARNEL_FUZZ_REPLAY=ON -DQUARNEL_PYTHON=OFF -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$build-coverage" --parallel "$(nproc)" --target "${targets[@]}"
  objects=()
  for target in "${targets[@]}"; do
    inputs=("$repo/fuzz/corpus/$target")
    [ -d "$repo/fuzz/regressions/$target" ] && inputs+=("$repo/fuzz/regressions/$target")
    LLVM_PROFILE_FILE="$build-coverage/$target.profraw" "$build-coverage/fuzz/$target" "${inputs[@]}"
    objects+=(-object "$build-coverage/fuzz/$target")
  done
  llvm-profdata-$suffix merge -o "$build-coverage/all.profdata" "$build-coverage/"*.profraw
  llvm-cov-$suffix report --instr-profile="$build-coverage/all.profdata" "${objects[@]:1}" \
    "$repo/vcd" "$repo/src/lib"
  exit 0
fi
CC=clang-$suffix CXX=clang++-$suffix cmake -S "$repo" -B "$build" "${generator[@]}" \
  -DQUARNEL_FUZZ=ON -DQUARNEL_PYTHON=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --parallel "$(nproc)" --target "${targets[@]}"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

case "$mode" in
  replay)
    for target in "${targets[@]}"; do
      inputs=("$repo/fuzz/corpus/$target")
      [ -d "$repo/fuzz/regressions/$target" ] && inputs+=("$repo/fuzz/regressions/$target")
      echo "== $target"
      # -runs=0 runs every given input once and stops; the time limit is a guard.
      "$build/fuzz/$target" -runs=0 -max_total_time=60 -timeout=10 -rss_limit_mb=4096 \
        "${inputs[@]}" 2>&1 | grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)|ERROR|Done"
    done
    ;;
  fuzz)
    seconds=${2:?seconds per target}
    [ $# -gt 2 ] && targets=("${@:3}")
    pids=()
    for target in "${targets[@]}"; do
      mkdir -p "$work/$target/corpus" "$work/$target/crashes"
      cp -n "$repo/fuzz/corpus/$target/"* "$work/$target/corpus/" 2>/dev/null || true
      nice -n 10 "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix="$work/$target/crashes/" \
        "$work/$target/corpus" >"$work/$target/log" 2>&1 &
      pids+=($!)
    done
    status=0
    for pid in "${pids[@]}"; do wait "$pid" || status=1; done
    for target in "${targets[@]}"; do
      echo "== $target"
      grep -E "^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+ +DONE" "$work/$target/log" || true
      ls "$work/$target/crashes"
      # Keep the smallest set of inputs that covers what the whole run covered.
      mkdir -p "$work/$target/merged"
      "$build/fuzz/$target" -merge=1 "$work/$target/merged" "$repo/fuzz/corpus/$target" \
        "$work/$target/corpus" >"$work/$target/merge.log" 2>&1
      rm -f "$repo/fuzz/corpus/$target/"*
      cp "$work/$target/merged/"* "$repo/fuzz/corpus/$target/"
      rm -rf "$work/$target/merged"
    done
    exit $status
    ;;
  *)
    echo "usage: $0 replay | fuzz SECONDS" >&2
    exit 2
    ;;
esac
