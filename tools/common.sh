# Shared by tools/run and tools/test: the Debian packages the project needs, the build, and the
# helpers both scripts use to start what the program talks to. Sourced, never run.
# shellcheck shell=bash

KIVVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KIVVO_BUILD="$KIVVO_ROOT/build"

# Everything a fresh Debian 12 needs to build, test, lint and try the program, named in full:
# a development machine may happen to have some of them, a clean one has none.
KIVVO_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-multimedia-dev libgtest-dev libyaml-cpp-dev libgmock-dev libsqlite3-dev libbenchmark-dev libssl-dev
    clang libclang-rt-14-dev clang-tidy clang-format
    xvfb xauth x11-utils xdotool imagemagick trayer pulseaudio pulseaudio-utils
    ngircd weechat-headless weechat-plugins python3 sqlite3
)

kivvo_as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "Installing packages needs root or sudo: $*" >&2
        return 1
    fi
}

# Installs whatever is missing. When everything is there it costs one dpkg-query and never
# touches apt, so both scripts can call it on every run.
kivvo_install_packages() {
    local installed missing=() pkg
    installed="$(dpkg-query -W -f='${Package} ${db:Status-Abbrev}\n' "${KIVVO_PACKAGES[@]}" \
        2>/dev/null || true)"
    for pkg in "${KIVVO_PACKAGES[@]}"; do
        if ! grep -qx "$pkg ii " <<<"$installed"; then
            missing+=("$pkg")
        fi
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "Installing missing packages: ${missing[*]}"
    kivvo_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get -o DPkg::Lock::Timeout=600 update -q
    kivvo_as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
}

# kivvo_build [-DNAME=VALUE...]: configures and builds into build/; the arguments go to cmake.
kivvo_build() {
    cmake -S "$KIVVO_ROOT" -B "$KIVVO_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
    cmake --build "$KIVVO_BUILD" -j "$(nproc)"
}

# Qt wants a private runtime folder, and root has none. Sets KIVVO_OWN_RUNTIME when it made one,
# so that the caller can remove it at the end.
KIVVO_OWN_RUNTIME=""
# shellcheck disable=SC2034 # read by the scripts that source this file
kivvo_runtime_dir() {
    if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
        XDG_RUNTIME_DIR="$(mktemp -d "${TMPDIR:-/tmp}/kivvo-runtime.XXXXXX")"
        chmod 700 "$XDG_RUNTIME_DIR"
        export XDG_RUNTIME_DIR
        KIVVO_OWN_RUNTIME="$XDG_RUNTIME_DIR"
    fi
}

# Whether something accepts connections on 127.0.0.1:PORT.
kivvo_port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# kivvo_start_ngircd CONFIG PORT LOG: starts ngircd in the foreground mode in the background
# and waits (at most 5 s) until it listens on PORT. Sets NGIRCD_PID, which the caller stops.
NGIRCD_PID=""
kivvo_start_ngircd() {
    local config="$1" port="$2" log="$3" binary i
    binary="$(PATH="$PATH:/usr/sbin:/sbin" command -v ngircd)" || {
        echo "ngircd is not installed" >&2
        return 1
    }
    mkdir -p "$(dirname "$log")"
    # Its own stdio: a caller's pipe (| tee) would otherwise never see end of file.
    "$binary" -n -f "$config" </dev/null >"$log" 2>&1 &
    NGIRCD_PID=$!
    for i in $(seq 1 50); do
        kivvo_port_open "$port" && return 0
        kill -0 "$NGIRCD_PID" 2>/dev/null || break
        [ "$i" -lt 50 ] && sleep 0.1
    done
    echo "The local IRC server did not start; see $log" >&2
    kivvo_stop_ngircd
    return 1
}

# Stops the ngircd that kivvo_start_ngircd started, by its PID, waiting at most 5 s.
kivvo_stop_ngircd() {
    [ -n "$NGIRCD_PID" ] || return 0
    local i
    kill "$NGIRCD_PID" 2>/dev/null || true
    for i in $(seq 1 50); do
        kill -0 "$NGIRCD_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$NGIRCD_PID" 2>/dev/null || true
    wait "$NGIRCD_PID" 2>/dev/null || true
    NGIRCD_PID=""
}
