#!/usr/bin/env bash
# Builds the libFuzzer harness with clang in build-fuzz/ and fuzzes the
# targets one after the other.
#
#   fuzz/run.sh [runs] [target...]
#
#   runs      inputs per target (default 1000000)
#   target    identification descriptor numbers power states viewer
#             visa_reply visa_find (default: all)
#
# New inputs collect in build-fuzz/fuzz-work/<target>/corpus/ and carry over
# to the next run (libFuzzer's -merge=1 folds them into fuzz/corpus/<target>/);
# an input that breaks a target is saved in fuzz/<target>/crashes/. The exit
# status is non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
runs=${1:-1000000}
shift || true
[ $# -gt 0 ] || set -- identification descriptor numbers power states viewer visa_reply visa_find
ensure_packages "${USBSYNTH_PACKAGES[@]}" clang-14 libclang-rt-14-dev
[ -f build-fuzz/build.ninja ] || cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_targets
export QT_QPA_PLATFORM=offscreen
binary=$PWD/build-fuzz/bin/fuzz_targets failed=0
for target in "$@"; do
    work=$PWD/build-fuzz/fuzz-work/$target seeds=$PWD/fuzz/corpus/$target crashes=$PWD/fuzz/$target/crashes
    mkdir -p "$work/corpus" "$crashes"
    options=(-runs="$runs" -timeout=30 -print_final_stats=1 -artifact_prefix="$crashes/")
    [ ! -f "fuzz/dict/$target.dict" ] || options+=(-dict="$PWD/fuzz/dict/$target.dict")
    # A few VISA inputs make thousands of library calls: run slow inputs less.
    [[ $target != visa_* ]] || options+=(-entropic_scale_per_exec_time=1)
    echo "== $target: $runs inputs"
    (cd "$work" && USBSYNTH_FUZZ_TARGET=$target "$binary" "${options[@]}" corpus "$seeds" >fuzz.log 2>&1) ||
        { failed=1; echo "$target: FAILED, inputs in $crashes"; }
    grep -h -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec)|invariant violated|ERROR' "$work/fuzz.log" || true
done
exit "$failed"
