#!/usr/bin/env bash
# Builds and runs the benchmarks against the simulated instruments and
# prints their tables. Pass the CPU-measurement length in seconds (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
# PyVISA is the yardstick of the refresh benchmark.
ensure_packages "${USBSYNTH_PACKAGES[@]}" python3-pyvisa
build_tree build >/dev/null
export USBSYNTH_VISA_LIBRARY=sim QT_QPA_PLATFORM=offscreen
echo "# refresh pass"
build/bin/bench_refresh 2000
if [ -x build/bin/bench_usbtmc ]; then
    echo
    echo "# refresh pass through the usbtmc library on the fake driver, and through the simulator"
    for lib in sim usbtmc; do
        LD_PRELOAD=libumockdev-preload.so.0 USBSYNTH_VISA_LIBRARY="$PWD/build/bin/libusbsynth-$lib.so" \
            build/bin/bench_usbtmc 2000 2>/dev/null | grep -v '^ERROR: uevent'
    done
fi
echo
echo "# start-up, memory, CPU"
build/bin/bench_startup "${1:-60}"
echo
echo "# sweep pacing"
build/bin/bench_sweep 1000 10
echo
echo "# usbsynth-ctl get, one call per process"
build/bin/bench_ctl 50 1
