#!/usr/bin/env bash
# Soak test: the real usbsynth against the simulated instruments for a given
# time, driven from inside by a preloaded driver (soakdriver.cpp) that works
# the controls, changes the simulated bench at random and runs the end checks
# (commands against the trace, log.txt against the messages emitted, memory
# flat, every VISA session closed). Here: a clean exit, no sanitizer report,
# and the driver's verdict.
#
#   tests/soak/run.sh [--seconds N] [--build DIR] [--plain-build DIR] [--seed S] [--no-build] [--usbtmc]
#
# --build DIR        build tree (default build-soak-asan; configured with the
#                    sanitizers when it does not exist yet)
# --plain-build DIR  afterwards the same run (same seed) in a build without them
# --no-build         use the trees as they are (for ctest)
# --usbtmc           the panel on our usbtmc VISA library, the instruments
#                    behind a fake of the kernel driver (needs umockdev)
# The run's files stay in a temporary directory when it fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=60 build=build-soak-asan plain_build= seed=$(od -An -N4 -tu4 /dev/urandom | tr -d ' ') do_build=1 failed=0 usbtmc=0
while [ $# -gt 0 ]; do
    case $1 in
    --seconds | --build | --plain-build | --seed) name=${1#--} && declare "${name/-/_}=$2"; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --usbtmc) usbtmc=1; shift ;;
    *) sed -n '2,17p' "$0"; exit 2 ;;
    esac
done
base=$(mktemp -d "${TMPDIR:-/tmp}/usbsynth-soak.XXXXXX")

# soak <build dir> <sanitize ON|OFF>: builds when asked, runs, judges.
soak() {
    local dir work=$base/$(basename "$1") preload rc library=libusbsynth-sim.so
    dir=$(cd "$root" && realpath -m "$1") preload=$dir/bin/libusbsynth-soakdriver.so
    if [ "$usbtmc" = 1 ]; then
        library=libusbsynth-usbtmc.so preload="libumockdev-preload.so.0 $preload"
    fi
    if [ "$do_build" = 1 ]; then
        [ -f "$dir/CMakeCache.txt" ] || cmake -S "$root" -B "$dir" -G Ninja -DUSBSYNTH_SANITIZE="$2" >/dev/null
        cmake --build "$dir" -j "$(nproc)" --target usbsynth usbsynth-sim usbsynth-soakdriver $([ "$usbtmc" = 0 ] || echo usbsynth-usbtmc) >/dev/null || return 1
    fi
    mkdir -p -m 700 "$work/runtime"
    if grep -q '^USBSYNTH_SANITIZE:BOOL=ON' "$dir/CMakeCache.txt"; then
        # The runtime comes first; a 64 MB quarantine (still about a minute
        # of this program's frees) and free pages handed back every second.
        preload="$("$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")" -print-file-name=libasan.so) $preload"
        export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1:abort_on_error=1:quarantine_size_mb=64:allocator_release_to_os_interval_ms=1000
        export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    fi
    echo "soak: $seconds s, seed $seed, $(basename "$dir")$([ "$usbtmc" = 0 ] || echo ', usbtmc'), in $work"
    (cd "$work" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=$work/runtime XDG_CONFIG_HOME=$work/config USBSYNTH_VISA_LIBRARY=$dir/bin/$library \
        USBSYNTH_SOAK_USBTMC=$usbtmc USBSYNTH_SOAK_SECONDS=$seconds USBSYNTH_SOAK_SEED=$seed timeout --kill-after=30 $((seconds + 600)) \
        env LD_PRELOAD="$preload" "$dir/bin/usbsynth" >stdout 2>stderr)
    rc=$?
    cat "$work/report.txt" 2>/dev/null
    grep -m 20 -E 'ERROR: |runtime error:|SUMMARY:' "$work/stderr"
    [ "$rc" = 0 ] && ! grep -qE 'Sanitizer|runtime error:' "$work/stderr" && grep -qx 'result PASS' "$work/report.txt" 2>/dev/null
}

soak "$build" ON || failed=1
[ -z "$plain_build" ] || soak "$plain_build" OFF || failed=1
[ "$failed" = 0 ] && echo "soak: PASS" && rm -rf "$base" || echo "soak: FAIL, files kept in $base"
exit "$failed"
