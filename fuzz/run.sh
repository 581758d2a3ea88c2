#!/usr/bin/env bash
# Builds the libFuzzer harness with clang in build-fuzz/ and fuzzes the
# targets one after the other.
#
#   fuzz/run.sh [--merge] [--jobs N] [runs] [target...]
#
#   runs      inputs per target (default 1000000)
#   --jobs N  split each target's inputs over N processes sharing one corpus
#   target    identification descriptor numbers power states viewer
#             visa_reply visa_find (default: all)
#   --merge   afterwards, rewrite fuzz/corpus/<target>/ as a minimal merge of
#             itself and what the run found; the hand-written seeds (files
#             not named by a hash) are always kept
#
# New inputs collect in build-fuzz/fuzz-work/<target>/corpus/ and carry over
# to the next run; an input that breaks a target is saved in
# fuzz/<target>/crashes/. The exit status is non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
merge=0 jobs=1
while [ $# -gt 0 ]; do
    case $1 in
    --merge) merge=1; shift ;;
    --jobs) jobs=${2:?--jobs takes a number}; shift 2 ;;
    *) break ;;
    esac
done
runs=${1:-1000000}
shift || true
targets=("$@")
[ $# -gt 0 ] || targets=(identification descriptor numbers power states viewer visa_reply visa_find)
ensure_packages "${USBSYNTH_PACKAGES[@]}" clang-14 libclang-rt-14-dev
[ -f build-fuzz/build.ninja ] || cmake -S . -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
cmake --build build-fuzz -j "$(nproc)" --target fuzz_targets
export QT_QPA_PLATFORM=offscreen
binary=$PWD/build-fuzz/bin/fuzz_targets failed=0
for target in "${targets[@]}"; do
    work=$PWD/build-fuzz/fuzz-work/$target seeds=$PWD/fuzz/corpus/$target crashes=$PWD/fuzz/$target/crashes
    mkdir -p "$work/corpus" "$crashes"
    options=(-runs=$(( (runs + jobs - 1) / jobs )) -workers="$jobs" -jobs="$jobs" -timeout=30 -print_final_stats=1
             -artifact_prefix="$crashes/")
    [ ! -f "fuzz/dict/$target.dict" ] || options+=(-dict="$PWD/fuzz/dict/$target.dict")
    # A few VISA inputs make thousands of library calls: run slow inputs less.
    [[ $target != visa_* ]] || options+=(-entropic_scale_per_exec_time=1)
    echo "== $target: $runs inputs in $jobs process(es)"
    # Job k writes its output to fuzz-k.log in the working directory.
    (cd "$work" && rm -f fuzz-*.log && USBSYNTH_FUZZ_TARGET=$target "$binary" "${options[@]}" corpus "$seeds" \
        >/dev/null 2>&1) || { failed=1; echo "$target: FAILED, inputs in $crashes"; }
    grep -h -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec)|invariant violated|ERROR' "$work"/fuzz-*.log || true
    if [ "$merge" = 1 ]; then
        rm -rf "$work/merged" && mkdir -p "$work/merged"
        find "$seeds" -maxdepth 1 -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$work/merged/" \;
        (cd "$work" && USBSYNTH_FUZZ_TARGET=$target "$binary" -merge=1 merged "$seeds" corpus >merge.log 2>&1)
        find "$seeds" -maxdepth 1 -type f -delete && cp "$work/merged"/* "$seeds/"
        echo "corpus/$target: $(find "$seeds" -type f | wc -l) files"
    fi
done
exit "$failed"
