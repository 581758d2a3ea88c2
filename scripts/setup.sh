# Shared set-up for run.sh and test.sh: packages, configure, build.
# Sourced, not run. Everything is skipped quickly when already done.

USBSYNTH_PACKAGES=(
    cmake ninja-build g++ qt6-base-dev
    xvfb xauth fonts-dejavu-core fonts-liberation
)

# Installs the Debian packages that are missing (as root), or prints the one
# line that installs them and stops.
ensure_packages() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed" || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get update && sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
        exit 1
    fi
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    # Refresh the package lists only when installing from them fails.
    apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null 2>&1 || {
        apt-get update -qq && apt-get install -y --no-install-recommends "${missing[@]}"
    }
}

# Generates a locale when it is missing and we may (root): the parsing tests
# run once under a decimal-comma locale.
ensure_locale() {
    local name=$1
    locale -a 2>/dev/null | grep -qi "^${name//-/}$\|^${name}$" && return 0
    [ "$(id -u)" -eq 0 ] || return 0
    ensure_packages locales
    sed -i "s/^# *\(${name} \)/\1/" /etc/locale.gen
    grep -q "^${name} " /etc/locale.gen || echo "${name} UTF-8" >>/etc/locale.gen
    locale-gen >/dev/null
}

# build_tree <dir> [cmake options...]: configures <dir> when it is new or its
# options changed, then builds it.
build_tree() {
    local dir=$1
    shift
    local stamp="$dir/.usbsynth-options"
    local options="$*"
    if [ ! -f "$dir/build.ninja" ] || [ "$(cat "$stamp" 2>/dev/null)" != "$options" ]; then
        cmake -S . -B "$dir" -G Ninja "$@" >/dev/null || cmake -S . -B "$dir" -G Ninja "$@"
        echo "$options" >"$stamp"
    fi
    cmake --build "$dir" -j "$(nproc)"
}

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
