#!/usr/bin/env bash
# Sets up, builds and starts the panel on the simulated instruments.
# Without a display it runs the panel under Xvfb for a few seconds and saves
# a screenshot instead.
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

ensure_packages "${USBSYNTH_PACKAGES[@]}"
build_tree build

export USBSYNTH_VISA_LIBRARY=${USBSYNTH_VISA_LIBRARY:-sim}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
    exec build/bin/usbsynth "$@"
fi

shot=$PWD/build/usbsynth-screenshot.png
seconds=${USBSYNTH_RUN_SECONDS:-8}
echo "No display: running the panel under Xvfb for $seconds s (log.txt goes to build/)."
rm -f "$shot"
xvfb-run -a -s '-screen 0 1024x600x24' bash -c '
    (cd build && exec bin/usbsynth) &
    app=$!
    sleep "$1"
    build/bin/usbsynth-screenshot "$2"
    kill $app 2>/dev/null
    wait $app 2>/dev/null || true
' _ "$seconds" "$shot"
if [ -f "$shot" ]; then
    echo "Screenshot: $shot"
else
    echo "No screenshot was written." >&2
    exit 1
fi
