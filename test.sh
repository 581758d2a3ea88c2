#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite.
#   ./test.sh              the ordinary build in build/
#   ./test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
source scripts/setup.sh

dir=build
options=()
if [ "${1:-}" = "--sanitize" ]; then
    dir=build-asan
    options=(-DUSBSYNTH_SANITIZE=ON)
fi

extra=()
# The standard VISA client that checks the simulator from outside.
extra+=(python3-pyvisa)
# A fake of the kernel's usbtmc driver for our usbtmc VISA library's tests.
extra+=(umockdev libumockdev-dev pkg-config)
ensure_packages "${USBSYNTH_PACKAGES[@]}" "${extra[@]}"
ensure_locale de_DE.UTF-8
build_tree "$dir" "${options[@]}"

export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j "$(nproc)"
