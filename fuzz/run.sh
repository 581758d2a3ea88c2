#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and fuzzes them one
# after the other.
#
#   fuzz/run.sh [--merge] [--jobs N] [runs] [target...]
#
#   runs      inputs per target (default 1000000)
#   --jobs N  split each target's inputs over N processes sharing one corpus
#             (default 1); worth it for the slow VISA targets on a machine
#             with cores to spare
#   target    identification descriptor numbers power states viewer
#             visa_reply visa_find (default: all)
#   --merge   afterwards, rewrite fuzz/corpus/<target>/ as a minimal merge of
#             itself and what the run found; the hand-written seeds (files
#             not named by a hash) are always kept
#
# New inputs collect in build-fuzz/fuzz-work/<target>/corpus/ and carry over
# to the next run; an input that breaks a target is saved in
# fuzz/<target>/crashes/. One summary line per target closes the output; the
# exit status is non-zero when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh

all=(identification descriptor numbers power states viewer visa_reply visa_find)
merge=0
jobs=1
while [ $# -gt 0 ]; do
    case $1 in
    --merge) merge=1 ;;
    --jobs)
        jobs=${2:?--jobs takes a number}
        shift
        ;;
    *) break ;;
    esac
    shift
done
[[ $jobs =~ ^[1-9][0-9]*$ ]] || { echo "--jobs takes a positive number" >&2; exit 2; }
runs=${1:-1000000}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${all[@]}")

ensure_packages "${USBSYNTH_PACKAGES[@]}" clang-14 libclang-rt-14-dev

build=build-fuzz
if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target "${targets[@]/#/fuzz_}"

export QT_QPA_PLATFORM=offscreen
summary=()
failed=0
for target in "${targets[@]}"; do
    binary=$PWD/$build/bin/fuzz_$target
    seeds=$PWD/fuzz/corpus/$target
    work=$PWD/$build/fuzz-work/$target
    crashes=$PWD/fuzz/$target/crashes
    mkdir -p "$work/corpus" "$crashes"
    dict=() # and other per-target options
    [ -f "fuzz/dict/$target.dict" ] && dict=(-dict="$PWD/fuzz/dict/$target.dict")
    case $target in
    # A few of their inputs make thousands of library calls: run slow inputs less.
    visa_reply | visa_find) dict+=(-entropic_scale_per_exec_time=1) ;;
    esac

    echo "== fuzz_$target: $runs inputs in $jobs process(es)"
    start=$(date +%s%N)
    status=0
    # Job k writes its output to fuzz-k.log in the working directory; each
    # runs its share of the inputs.
    (cd "$work" && rm -f fuzz-*.log &&
        "$binary" -runs=$(( (runs + jobs - 1) / jobs )) -workers="$jobs" -jobs="$jobs" -timeout=30 \
            -print_final_stats=1 -artifact_prefix="$crashes/" "${dict[@]}" corpus "$seeds" >/dev/null 2>&1) || status=$?
    seconds=$(( ($(date +%s%N) - start) / 1000000000 ))
    logs=("$work"/fuzz-*.log)
    (cd "$work" && grep -H -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^Done|^stat::|ERROR|invariant violated|Test unit written' \
        fuzz-*.log) || true

    # Totals over the jobs: inputs and speed add up.
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "${logs[@]}" | awk '{ n += $1 } END { if (NR) print n }')
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "${logs[@]}" | awk '{ n += $1 } END { if (NR) print n }')
    last=$(grep -h -E '^#[0-9]+[[:space:]]' "${logs[@]}" | sort -t' ' -k1.2n | tail -1 || true)
    cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
    ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
    corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$last")
    found=$(find "$crashes" -type f -newermt "@$((start / 1000000000))" | wc -l)
    if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
        failed=1
    fi
    summary+=("$(printf '%-15s runs %-10s exec/s %-7s time %6s s  cov %-5s ft %-6s corpus %-12s new crashes %s' \
        "$target" "${executed:-?}" "${speed:-?}" "$seconds" "${cov:-?}" "${ft:-?}" "${corp:-?}" "$found")")

    if [ "$merge" -eq 1 ]; then
        merged=$work/merged
        rm -rf "$merged"
        mkdir -p "$merged"
        find "$seeds" -maxdepth 1 -type f ! -regex '.*/[0-9a-f]\{40\}' -exec cp {} "$merged/" \;
        (cd "$work" && "$binary" -merge=1 "$merged" "$seeds" corpus >merge.log 2>&1)
        find "$seeds" -maxdepth 1 -type f -delete
        cp "$merged"/* "$seeds/"
        echo "corpus/$target: $(find "$seeds" -type f | wc -l) files, $(du -sk "$seeds" | cut -f1) KB"
    fi
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
