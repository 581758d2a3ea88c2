#!/usr/bin/env bash
# Soak test: the real usbsynth against the simulated instruments for a given
# time, driven from inside by a preloaded driver (soakdriver.cpp) that works
# the controls and changes the simulated bench at random. Checked at the end:
# clean exit, no sanitizer report, the driver's own checks (every command
# against the trace, the run log against the messages emitted), memory flat,
# and every VISA session in the trace closed.
#
#   tests/soak/run.sh [--seconds N] [--build DIR] [--plain-build DIR]
#                     [--seed S] [--keep DIR] [--no-build] [--no-memory]
#
# --build DIR        build tree (default build-soak-asan; configured with the
#                    sanitizers when it does not exist yet)
# --plain-build DIR  afterwards the same run (same seed) in a build without
#                    sanitizers, where resident memory is judged
# --keep DIR         run in DIR and keep it (default: a temporary directory,
#                    removed when everything passes)
# --no-build         use the trees as they are (for ctest)
# --no-memory        report memory without judging it
#
# Memory is sampled twice, each time in the same state (the base instruments,
# freshly scanned, a few seconds of polling): at min(60 s, N/3) and at the
# end; growth must stay under 2 MB. Without sanitizers that is the resident
# size (after free heap pages are handed back). With them the resident size
# mostly follows the sanitizer's own bookkeeping, so the sanitizer's count of
# live heap bytes is judged there instead, and the resident size is shown.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=60
build=build-soak-asan
plain_build=
seed=
keep=
do_build=1
judge_memory=1
limit_kb=2048

while [ $# -gt 0 ]; do
    case $1 in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --plain-build) plain_build=$2; shift 2 ;;
    --seed) seed=$2; shift 2 ;;
    --keep) keep=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --no-memory) judge_memory=0; shift ;;
    -h|--help) sed -n '2,26p' "$0"; exit 0 ;;
    *) echo "run.sh: unknown option $1" >&2; exit 2 ;;
    esac
done
absolute() { case $1 in /*) echo "$1" ;; *) echo "$root/$1" ;; esac; }
build=$(absolute "$build")
[ -n "$plain_build" ] && plain_build=$(absolute "$plain_build")
# One seed for every run of this invocation.
[ -n "$seed" ] || seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ')

prepare() { # <build dir> <sanitize ON|OFF>
    local dir=$1
    if [ "$do_build" = 1 ]; then
        if [ ! -f "$dir/CMakeCache.txt" ]; then
            cmake -S "$root" -B "$dir" -G Ninja -DUSBSYNTH_SANITIZE="$2" >/dev/null || return 1
        fi
        cmake --build "$dir" -j "$(nproc)" --target usbsynth usbsynth-sim usbsynth-soakdriver >/dev/null || {
            echo "run.sh: build failed in $dir" >&2
            return 1
        }
    fi
    local file
    for file in bin/usbsynth bin/libusbsynth-sim.so bin/libusbsynth-soakdriver.so; do
        [ -e "$dir/$file" ] || { echo "run.sh: $dir/$file is missing" >&2; return 1; }
    done
}

failures=()
workdirs=()

# soak <build dir> <work dir>: one run, its checks and its summary.
soak() {
    local dir=$1 work=$2
    local program=$dir/bin/usbsynth sim=$dir/bin/libusbsynth-sim.so driver=$dir/bin/libusbsynth-soakdriver.so
    local sanitized=0 label
    grep -q '^USBSYNTH_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt" 2>/dev/null && sanitized=1
    label=$(basename "$dir")
    fail() { failures+=("$label: $1"); }

    mkdir -p "$work"
    rm -rf "$work"/{sim.json,sim.json.new,trace.txt,log.txt,report.txt,journal.txt,stdout,stderr,runtime}
    mkdir -p -m 700 "$work/runtime"
    workdirs+=("$work")

    local env_vars=(
        QT_QPA_PLATFORM=offscreen
        XDG_RUNTIME_DIR="$work/runtime"
        USBSYNTH_VISA_LIBRARY="$sim"
        USBSYNTH_SIM_CONFIG="$work/sim.json"
        USBSYNTH_SIM_TRACE="$work/trace.txt"
        USBSYNTH_SOAK_SECONDS="$seconds"
        USBSYNTH_SOAK_SEED="$seed"
        USBSYNTH_SOAK_REPORT="$work/report.txt"
        USBSYNTH_SOAK_JOURNAL="$work/journal.txt"
    )
    local preload=$driver
    if [ "$sanitized" = 1 ]; then
        local compiler libasan
        compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
        libasan=$("${compiler:-g++}" -print-file-name=libasan.so)
        # The runtime must come first in the library list. The quarantine
        # (default 256 MB) is cut to 64 MB, still about a minute of this
        # program's frees, and free pages go back to the system every second,
        # so the resident size is not mostly freed memory.
        preload="$libasan $driver"
        env_vars+=(
            ASAN_OPTIONS="${USBSYNTH_SOAK_ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1:quarantine_size_mb=64:allocator_release_to_os_interval_ms=1000}"
            UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
        )
    fi

    echo "soak: $seconds s, seed $seed, $label ($([ "$sanitized" = 1 ] && echo sanitizers || echo no sanitizers)), in $work"
    # Preloaded into the program only, not into timeout.
    (cd "$work" && env "${env_vars[@]}" timeout --kill-after=30 $((seconds + 600)) \
        env LD_PRELOAD="$preload" "$program" >stdout 2>stderr)
    local rc=$?

    [ "$rc" = 0 ] || fail "exit code $rc"
    if grep -qE 'ERROR: AddressSanitizer|LeakSanitizer|runtime error:' "$work/stderr"; then
        fail "sanitizer report in stderr"
    fi

    local report=$work/report.txt
    value() { sed -n "s/^$1 //p" "$report" | head -1; }
    local rss_growth=- heap_growth=-
    if [ ! -s "$report" ]; then
        fail "no report from the driver"
    else
        [ "$(value mismatches)" = 0 ] || fail "$(value mismatches) mismatch(es) between commands and trace"
        [ "$(value log_equal)" = 1 ] || fail "log.txt differs from the messages emitted: $(value log_detail)"
        [ "$(value commands_checked)" -gt 0 ] 2>/dev/null || fail "no command was checked"
        local rss0 rss1 heap0 heap1
        rss0=$(value rss_first_kb); rss1=$(value rss_end_kb)
        heap0=$(value heap_first_kb); heap1=$(value heap_end_kb)
        if [ "${rss0:--1}" -le 0 ] || [ "${rss1:--1}" -le 0 ] || [ "${heap0:--1}" -le 0 ] || [ "${heap1:--1}" -le 0 ]; then
            fail "memory not sampled"
        else
            rss_growth=$((rss1 - rss0))
            heap_growth=$((heap1 - heap0))
            if [ "$judge_memory" = 1 ]; then
                if [ "$sanitized" = 1 ] && [ "$heap_growth" -ge "$limit_kb" ]; then
                    fail "live heap grew by $heap_growth kB (limit $limit_kb kB)"
                elif [ "$sanitized" = 0 ] && [ "$rss_growth" -ge "$limit_kb" ]; then
                    fail "resident memory grew by $rss_growth kB (limit $limit_kb kB)"
                fi
            fi
        fi
    fi

    # Every open has its close, per descriptor and for the resource manager
    # (F is a failed open: nothing to close).
    local sessions
    sessions=$(awk '$2 == "O" || $2 == "C" || $2 == "F" { n[$3 " " $2]++; d[$3] = 1 }
        END { for (k in d) printf "%s %d %d %d\n", k, n[k " O"], n[k " C"], n[k " F"] }' "$work/trace.txt" 2>/dev/null | sort)
    if [ -z "$sessions" ]; then
        fail "empty trace"
    else
        local descriptor opens closes failed
        while read -r descriptor opens closes failed; do
            [ "$opens" = "$closes" ] || fail "$descriptor: $opens open(s), $closes close(s)"
        done <<<"$sessions"
    fi

    if [ -s "$report" ]; then
        echo
        table() { awk -F'\t' -v w="$1" '{ printf "  %-" w "s %s\n", $1, $2 }'; }
        printf '%-40s %s\n' \
            "run (s)" "$(value elapsed)" \
            "operator actions" "$(value actions)" \
            "commands checked" "$(value commands_checked)" \
            "  of them to reachable instruments" "$(value commands_reachable)" \
            "actions checked to send nothing" "$(value silent_checked)" \
            "message boxes closed" "$(value message_boxes)" \
            "configuration changes" "$(value config_writes)" \
            "rescan presses (+ $(value settle_scans) for sampling)" "$(value rescans_pressed)" \
            "scans (resource managers opened)" "$(value scans)" \
            "messages logged / lines in log.txt" "$(value messages) / $(value log_lines)" \
            "mismatches" "$(value mismatches)" \
            "RSS at $(value rss_first_at) s / end (kB)" "$(value rss_first_kb) / $(value rss_end_kb) (growth $rss_growth)" \
            "  before handing back free pages" "$(value rss_first_raw_kb) / $(value rss_end_raw_kb)" \
            "live heap at $(value rss_first_at) s / end (kB)" "$(value heap_first_kb) / $(value heap_end_kb) (growth $heap_growth)"
        echo "actions by kind:"
        sed -n 's/^action //p' "$report" | table 38
        echo "actions without a control to work (N/A page, no stored states):"
        sed -n 's/^skipped //p' "$report" | table 38
        echo "configuration changes by kind:"
        sed -n 's/^config //p' "$report" | table 38
        echo "messages by kind:"
        sed -n 's/^message_kind //p' "$report" | table 38
        echo "trace events:"
        sed -n 's/^trace_events //p' "$report" | table 38
    fi
    echo "sessions in the trace (opens, closes, failed opens):"
    awk '{ printf "  %-40s O %-6s C %-6s F %s\n", $1, $2, $3, $4 }' <<<"$sessions"
    # Two resource managers opened without a close between them: a scan
    # started inside another. Shown to help read a pairing failure.
    local nested
    nested=$(awk '$3 == "DefaultRM" { if ($2 == "O" && last == "O") { n++; print "    at " $1 " ms" > "/dev/stderr" } last = $2 }
        END { print n + 0 }' "$work/trace.txt" 2>"$work/nested.txt")
    echo "resource managers opened right after another (scan inside a scan): $nested"
    [ "$nested" = 0 ] || cat "$work/nested.txt"
    echo
}

prepare "$build" ON || exit 1
if [ -n "$plain_build" ]; then
    prepare "$plain_build" OFF || exit 1
fi

if [ -n "$keep" ]; then
    base=$(mkdir -p "$keep" && cd "$keep" && pwd)
else
    base=$(mktemp -d "${TMPDIR:-/tmp}/usbsynth-soak.XXXXXX")
fi
soak "$build" "$base/$(basename "$build")"
[ -n "$plain_build" ] && soak "$plain_build" "$base/$(basename "$plain_build")"

if [ ${#failures[@]} -eq 0 ]; then
    echo "soak: PASS"
    [ -n "$keep" ] || rm -rf "$base"
    exit 0
fi
for f in "${failures[@]}"; do echo "soak: FAIL: $f"; done
for work in "${workdirs[@]}"; do
    grep -m 20 -E 'MISMATCH|ERROR: |runtime error:|SUMMARY:' "$work/stderr" 2>/dev/null
done
echo "soak: files kept in $base"
exit 1
