#!/usr/bin/env bash
# Makes docs/screenshot.png: the panel polling the built-in simulated
# instruments, on a bare X server (Xvfb), cut to the window.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/setup.sh
ensure_packages "${USBSYNTH_PACKAGES[@]}"
build_tree build

mkdir -p docs
out=$PWD/docs/screenshot.png
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export USBSYNTH_VISA_LIBRARY=sim USBSYNTH_SIM_CONFIG= DBUS_SESSION_BUS_ADDRESS=disabled:
xvfb-run -a -s '-screen 0 1024x700x24' bash -c '
    (cd "$1" && exec "$2/build/bin/usbsynth") &
    app=$!
    # Start-up takes about 2 s (splash pauses); let a few passes run.
    sleep 6
    "$2/build/bin/usbsynth-screenshot" "$3" --trim
    kill $app
    wait $app 2>/dev/null || true
' _ "$work" "$PWD" "$out"
echo "Wrote $out"
