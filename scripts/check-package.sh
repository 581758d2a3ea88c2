#!/usr/bin/env bash
# Builds the Debian package in build-pkg/, installs it into a fresh Debian 12
# root made with debootstrap, and starts the installed program there on the
# simulated instruments.
#
# Needs root (debootstrap, chroot, mount) and Debian's package archive: the
# first run downloads a base system (~50 MB) and the program's dependencies
# (~100 MB). Build it on Debian 12, so that the dependencies it declares are
# the ones Debian 12 has.
#
#   sudo scripts/check-package.sh [--keep]
#
# --keep leaves the root the package was installed into, for a look around.
# Environment:
#   USBSYNTH_DEB12_CACHE    where the base system and downloaded packages are
#                           kept between runs (default /tmp/usbsynth-deb12)
#   USBSYNTH_DEBIAN_MIRROR  the archive to use (default: the Debian archive
#                           named in this machine's apt sources)
set -euo pipefail
cd "$(dirname "$0")/.."

keep=0
for arg in "$@"; do
    case $arg in
        --keep) keep=1 ;;
        *) echo "usage: $0 [--keep]" >&2; exit 2 ;;
    esac
done
if [ "$(id -u)" -ne 0 ]; then
    echo "$0 needs root (debootstrap, chroot, mount)" >&2
    exit 1
fi

# shellcheck source=scripts/setup.sh
source scripts/setup.sh
ensure_packages cmake ninja-build g++ qt6-base-dev dpkg-dev file debootstrap

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# --- Where a fresh Debian 12 comes from ---------------------------------------
cache=${USBSYNTH_DEB12_CACHE:-/tmp/usbsynth-deb12}
mirror=${USBSYNTH_DEBIAN_MIRROR:-}
if [ -z "$mirror" ]; then
    # The main archive among apt's sources (one-line or deb822 format).
    mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
                 /etc/apt/sources.list.d/*.sources 2>/dev/null |
             grep -v '^[[:space:]]*#' | grep -oE 'https?://[^ ]+/debian/?( |$)' |
             head -n1 | tr -d ' ' || true)
fi
[ -n "$mirror" ] || fail "no Debian archive found in /etc/apt/sources.list, /etc/apt/sources.list.d/*.list
or *.sources; name one with USBSYNTH_DEBIAN_MIRROR=<archive URL ending in /debian>"

# --- The package --------------------------------------------------------------
echo "== Building the package in build-pkg/"
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX=/usr -DUSBSYNTH_BUILD_TESTS=OFF >/dev/null
cmake --build build-pkg -j "$(nproc)"
rm -f build-pkg/usbsynth_*.deb
(cd build-pkg && cpack -G DEB)
debs=(build-pkg/usbsynth_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    fail "cpack made no single usbsynth_*.deb"
fi
deb=${debs[0]}
version=$(sed -n 's/^project(usbsynth VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "$(basename "$deb")" = "usbsynth_${version}_$(dpkg --print-architecture).deb" ] \
    || fail "unexpected package name $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "Package: $deb ($(stat -c %s "$deb") bytes)"
echo "Depends: $depends"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libc6; do
    grep -Eq "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib"
done

# --- A fresh Debian 12 --------------------------------------------------------
mkdir -p "$cache/archives/partial"
if [ ! -x "$cache/base/usr/bin/apt-get" ]; then
    echo "== debootstrap bookworm from $mirror into $cache/base"
    rm -rf "$cache/base.new"
    debootstrap --variant=minbase --arch "$(dpkg --print-architecture)" \
        bookworm "$cache/base.new" "$mirror"
    mv "$cache/base.new" "$cache/base"
fi

# Every run installs into a copy, so the cached base stays untouched.
root=$(mktemp -d /tmp/usbsynth-deb12-root.XXXXXX)
cleanup() {
    umount "$root/var/cache/apt/archives" 2>/dev/null || true
    umount "$root/dev/pts" 2>/dev/null || true
    umount "$root/proc" 2>/dev/null || true
    if [ "$keep" -eq 1 ]; then
        echo "Root kept in $root"
    else
        rm -rf --one-file-system "$root"
    fi
}
trap cleanup EXIT
cp -a "$cache/base/." "$root/"
cp /etc/resolv.conf "$root/etc/resolv.conf"
echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
mount -t proc proc "$root/proc"
mount -t devpts -o newinstance devpts "$root/dev/pts"
mount --bind "$cache/archives" "$root/var/cache/apt/archives"
cp "$deb" "$root/tmp/"
in_root() {
    chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
        DEBIAN_FRONTEND=noninteractive "$@"
}

echo "== Installing $(basename "$deb") into $(cat "$root/etc/debian_version") in $root"
in_root apt-get update -q
in_root sh -c "cd /tmp && apt-get install -y -q ./$(basename "$deb")"
in_root dpkg -L usbsynth

# --- The installed program ----------------------------------------------------
echo "== Running the installed program for 8 s"
# The simulator's trace shows it was found in the installed library directory
# and that the program talked to the instruments.
set +e
# shellcheck disable=SC2016 # expanded inside the root
in_root sh -c 'd=$(mktemp -d) && cd "$d" &&
    QT_QPA_PLATFORM=offscreen USBSYNTH_VISA_LIBRARY=sim USBSYNTH_SIM_TRACE="$d/trace.txt" \
        timeout 8 usbsynth >"$d/output.txt" 2>&1
    echo "$?" >"$d/status"; echo "$d"' >"$root/tmp/rundir"
set -e
run=$root$(cat "$root/tmp/rundir")
status=$(cat "$run/status")
echo "exit status: $status"
echo "-- output:"; cat "$run/output.txt"
echo "-- log.txt:"; cat "$run/log.txt" 2>/dev/null || true
echo "-- simulator trace: $(wc -l <"$run/trace.txt" 2>/dev/null || echo 0) lines"
head -n 5 "$run/trace.txt" 2>/dev/null || true
[ "$status" = 124 ] || fail "the program ended by itself (status $status) instead of running until the timeout"
[ -f "$run/log.txt" ] || fail "no log.txt in the working directory"
head -n1 "$run/log.txt" | grep -q '^Runtime Log - ' || fail "log.txt has no 'Runtime Log - ' header"
grep -q ' W .*\*IDN?' "$run/trace.txt" 2>/dev/null \
    || fail "the program did not identify any simulated instrument"
# timeout ended it with SIGTERM: every session it opened is closed again.
open_sessions=$(awk '$2 == "O" { n[$3]++ } $2 == "C" { n[$3]-- }
                     END { for (d in n) if (n[d]) print d }' "$run/trace.txt")
[ -z "$open_sessions" ] || fail "left open after SIGTERM: $open_sessions"

echo "== Validating the installed desktop entry"
in_root apt-get install -y -q --no-install-recommends desktop-file-utils >/dev/null
in_root desktop-file-validate /usr/share/applications/usbsynth.desktop \
    || fail "desktop-file-validate rejected usbsynth.desktop"
[ -f "$root/usr/share/icons/hicolor/256x256/apps/usbsynth.png" ] || fail "icon not installed"

echo "== Checking the usbtmc library and its udev rule"
[ -f "$root/usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/libusbsynth-usbtmc.so" ] \
    || fail "libusbsynth-usbtmc.so not installed"
rule="$root/usr/lib/udev/rules.d/70-usbsynth-usbtmc.rules"
[ -f "$rule" ] || fail "udev rule not installed"
grep -q 'SUBSYSTEM=="usbmisc", KERNEL=="usbtmc\[0-9\]\*", TAG+="uaccess"' "$rule" || fail "the udev rule grants no access"
dpkg-deb -I "$deb" postinst | grep -q 'udevadm control --reload' || fail "postinst does not reload udev"

echo "== usbsynth-ctl, its manual page and bash completion"
for f in usr/bin/usbsynth-ctl usr/share/man/man1/usbsynth-ctl.1 usr/share/bash-completion/completions/usbsynth-ctl; do
    [ -f "$root/$f" ] || fail "/$f not installed"
done
in_root ldd /usr/bin/usbsynth-ctl | grep -q 'libQt6Gui' && fail "usbsynth-ctl links the Qt GUI library"
# With no display at all: it lists the simulated instruments, reads one and
# sets one, and its lines reach the simulator.
set +e
# shellcheck disable=SC2016 # expanded inside the root
in_root sh -c 'd=$(mktemp -d) && cd "$d" && export USBSYNTH_VISA_LIBRARY=sim USBSYNTH_SIM_TRACE="$d/trace.txt" &&
    usbsynth-ctl list && usbsynth-ctl get QX20002 --json && usbsynth-ctl set QX10001 --freq 2.4G --rf off &&
    grep -q " W USB0::0x3A7C::0x000F::QX10001::INSTR FREQ:SET 2400$" trace.txt' >"$root/tmp/ctl-output.txt" 2>&1
status=$?
set -e
cat "$root/tmp/ctl-output.txt"
[ "$status" = 0 ] || fail "the installed usbsynth-ctl did not list, read and set the simulated instruments"
grep -q '"serial": "QX20002"' "$root/tmp/ctl-output.txt" || fail "usbsynth-ctl get printed no reading"
in_root bash -c 'source /usr/share/bash-completion/completions/usbsynth-ctl && complete -p usbsynth-ctl' \
    || fail "the bash completion defines no completion for usbsynth-ctl"

echo "== Starting the panel as the menu does, for 8 s"
# The Exec line, unescaped as a desktop entry is, then split by the shell
# (its quoting rules are the shell's double quotes).
exec_line=$(sed -n 's/^Exec=//p' "$root/usr/share/applications/usbsynth.desktop" | sed 's/\\\\/\\/g')
echo "Exec: $exec_line"
rm -rf "$root/tmp/menu-home"
mkdir -p "$root/tmp/menu-home"
set +e
# shellcheck disable=SC2016 # expanded inside the root
in_root env HOME=/tmp/menu-home QT_QPA_PLATFORM=offscreen USBSYNTH_VISA_LIBRARY=sim \
    sh -c 'cd / && eval "set -- $1" && timeout 8 "$@" >/tmp/menu-output.txt 2>&1' _ "$exec_line"
status=$?
set -e
echo "exit status: $status"
state=$root/tmp/menu-home/.local/state/usbsynth
[ "$status" = 124 ] || { cat "$root/tmp/menu-output.txt"; fail "the menu's command ended by itself (status $status)"; }
head -n1 "$state/log.txt" 2>/dev/null | grep -q '^Runtime Log - ' \
    || fail "no log.txt with its header in ~/.local/state/usbsynth"
[ ! -e "$root/tmp/menu-home/log.txt" ] || fail "the menu launch wrote log.txt into the home folder"

echo "PASS: $(basename "$deb") installs on Debian $(cat "$root/etc/debian_version") and runs"
