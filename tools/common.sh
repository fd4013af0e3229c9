# Shared by tools/run and tools/test: the Debian packages the project needs, the build, and the
# helpers both scripts use to start what the program talks to. Sourced, never run.
# shellcheck shell=bash

KIVVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KIVVO_BUILD="$KIVVO_ROOT/build"

# Everything a fresh Debian 12 needs to build, test, lint and try the program, named in full:
# a development machine may happen to have some of them, a clean one has none.
KIVVO_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-multimedia-dev libopus-dev libgtest-dev libyaml-cpp-dev libgmock-dev librapidcheck-dev libsqlite3-dev libbenchmark-dev libssl-dev
    qtkeychain-qt6-dev libsecret-1-0 gnome-keyring
    clang libclang-rt-14-dev clang-tidy clang-format
    xvfb xauth x11-utils libx11-dev xdotool openbox imagemagick trayer pulseaudio pulseaudio-utils
    ngircd inspircd weechat-headless weechat-plugins weechat-python weechat-scripts
    python3-pycryptodome znc irssi python3 sqlite3 hexchat hexchat-plugins hexchat-python3
    gcovr desktop-file-utils appstream dpkg-dev fonts-dejavu-core file dbus-daemon openssl espeak-ng
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

# The one configuration of build/, shared by every script that builds there, so that tools/run,
# tools/test, tools/lint and the rest never reconfigure it under each other's feet: a changed
# flag would rebuild nearly every object. The sanitized, fuzzing, bench and package builds have
# folders of their own.
KIVVO_CONFIGURATION=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKIVVO_WERROR=ON
    -DKIVVO_BUILD_TESTS=ON -DKIVVO_BUILD_BENCH=ON)

# kivvo_configure [-DNAME=VALUE...]: configures $KIVVO_BUILD; the arguments come after the shared
# configuration, so a build folder of its own can change it. Configuring an unchanged folder
# again costs a second and rebuilds nothing.
# shellcheck disable=SC2120 # as kivvo_build
kivvo_configure() {
    cmake -S "$KIVVO_ROOT" -B "$KIVVO_BUILD" "${KIVVO_CONFIGURATION[@]}" "$@" >/dev/null
}

# kivvo_build_targets TARGET...: builds only those targets of the configured $KIVVO_BUILD.
kivvo_build_targets() {
    cmake --build "$KIVVO_BUILD" -j "$(nproc)" --target "$@"
}

# kivvo_build [-DNAME=VALUE...]: configures and builds everything in $KIVVO_BUILD.
# shellcheck disable=SC2120 # the callers of build/ pass nothing: the shared configuration holds
kivvo_build() {
    kivvo_configure "$@"
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
    kivvo_stop_pid "$NGIRCD_PID"
    NGIRCD_PID=""
}

# kivvo_start_sound_server [own]: makes sure Qt Multimedia finds audio devices, which it only
# gets from a PulseAudio server. When `pactl info` already reaches one (PULSE_SERVER or the usual
# places), it is kept and nothing is started, unless "own" asks for a server of our own (the
# tests need its devices, and must never play into a desk's real speakers). Otherwise starts a hardware-free PulseAudio in user mode (as
# root too) on a socket of its own: a null sink as the default speaker, a source over that sink's
# monitor as the default microphone (so what one program plays another captures), and a 20 ms
# loopback from the monitor into a second null sink that keeps the first one rendering in small
# pieces. Waits at most 10 s for it, then captures a little audio once so that the first real
# capture does not start late. Exports PULSE_SERVER, PULSE_RUNTIME_PATH, PULSE_STATE_PATH,
# PULSE_COOKIE and PULSE_CLIENTCONFIG (no autospawn); sets KIVVO_SOUND_PID and KIVVO_SOUND_DIR
# (its private folder, with the log pulseaudio.log), which kivvo_stop_sound_server clears.
KIVVO_SOUND_PID=""
KIVVO_SOUND_DIR=""
kivvo_start_sound_server() {
    local dir i
    dir="$(mktemp -d "${TMPDIR:-/tmp}/kivvo-sound.XXXXXX")"
    chmod 700 "$dir"
    # Asking must not autospawn a daemon of the user's own.
    printf 'autospawn = no\n' >"$dir/client.conf"
    if [ "${1:-}" != own ] && PULSE_CLIENTCONFIG="$dir/client.conf" pactl info >/dev/null 2>&1; then
        rm -rf "$dir"
        return 0
    fi
    local binary
    binary="$(command -v pulseaudio)" || {
        rm -rf "$dir"
        echo "pulseaudio is not installed" >&2
        return 1
    }
    KIVVO_SOUND_DIR="$dir"
    mkdir -p "$dir/runtime" "$dir/state" "$dir/home"
    cat >"$dir/server.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 auth-cookie-enabled=0 socket=$dir/native
load-module module-null-sink sink_name=kivvo_speaker sink_properties=device.description=Kivvo-Speaker
load-module module-null-sink sink_name=kivvo_drain sink_properties=device.description=Kivvo-Drain
load-module module-remap-source source_name=kivvo_microphone master=kivvo_speaker.monitor source_properties=device.description=Kivvo-Microphone
load-module module-loopback source=kivvo_speaker.monitor sink=kivvo_drain latency_msec=20 source_dont_move=true sink_dont_move=true
set-default-sink kivvo_speaker
set-default-source kivvo_microphone
PA
    # Two parties for the voice tests, each with a mouth the test speaks into, the microphone
    # that hears it, a speaker the program plays into and an ear the test listens with.
    local party
    for party in a b; do
        cat >>"$dir/server.pa" <<PA
load-module module-null-sink sink_name=kivvo_${party}_mouth sink_properties=device.description=Kivvo-${party}-Mouth
load-module module-remap-source source_name=kivvo_${party}_mic master=kivvo_${party}_mouth.monitor source_properties=device.description=Kivvo-${party}-Microphone
load-module module-loopback source=kivvo_${party}_mouth.monitor sink=kivvo_drain latency_msec=20 source_dont_move=true sink_dont_move=true
load-module module-null-sink sink_name=kivvo_${party}_speaker sink_properties=device.description=Kivvo-${party}-Speaker
load-module module-remap-source source_name=kivvo_${party}_ear master=kivvo_${party}_speaker.monitor source_properties=device.description=Kivvo-${party}-Ear
load-module module-loopback source=kivvo_${party}_speaker.monitor sink=kivvo_drain latency_msec=20 source_dont_move=true sink_dont_move=true
PA
    done
    export PULSE_SERVER="unix:$dir/native"
    export PULSE_RUNTIME_PATH="$dir/runtime"
    export PULSE_STATE_PATH="$dir/state"
    export PULSE_COOKIE="$dir/cookie"
    export PULSE_CLIENTCONFIG="$dir/client.conf"
    # Its own stdio (a caller's | tee would otherwise never end) and its own HOME, since root's
    # may not be usable. No X display and no session bus, so that it never launches a D-Bus
    # daemon that would outlive it.
    env -u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" \
        HOME="$dir/home" XDG_CONFIG_HOME="$dir/home" "$binary" -n -F "$dir/server.pa" \
        --daemonize=no --exit-idle-time=-1 --use-pid-file=no --log-target=stderr \
        </dev/null >"$dir/pulseaudio.log" 2>&1 &
    KIVVO_SOUND_PID=$!
    for i in $(seq 1 100); do
        if pactl info >/dev/null 2>&1; then
            # Warm-up: an idle null sink renders in 2-second blocks until something reads it.
            timeout 5 parec --raw --format=u8 --rate=8000 --channels=1 --latency-msec=20 \
                2>/dev/null | head -c 4000 >/dev/null || true
            return 0
        fi
        kill -0 "$KIVVO_SOUND_PID" 2>/dev/null || break
        [ "$i" -lt 100 ] && sleep 0.1
    done
    echo "The sound server (PulseAudio) did not start; its log:" >&2
    cat "$dir/pulseaudio.log" >&2 || true
    kivvo_stop_sound_server
    return 1
}

# Stops the PulseAudio that kivvo_start_sound_server started, by its PID (at most 5 s, then
# SIGKILL), removes its folder and the PULSE_* variables it exported. Does nothing otherwise.
kivvo_stop_sound_server() {
    [ -n "$KIVVO_SOUND_DIR" ] || return 0
    kivvo_stop_pid "$KIVVO_SOUND_PID"
    rm -rf "$KIVVO_SOUND_DIR"
    unset PULSE_SERVER PULSE_RUNTIME_PATH PULSE_STATE_PATH PULSE_COOKIE PULSE_CLIENTCONFIG
    KIVVO_SOUND_PID=""
    KIVVO_SOUND_DIR=""
}

# kivvo_stop_pid PID: stops a daemon of ours by its PID, waiting at most 5 s before killing it.
kivvo_stop_pid() {
    [ -n "${1:-}" ] || return 0
    local i
    kill "$1" 2>/dev/null || true
    for i in $(seq 1 50); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$1" 2>/dev/null || true
    wait "$1" 2>/dev/null || true
}

# kivvo_start_display [tray]: starts an X server without hardware (Xvfb, 1024x768, 24-bit
# colour, no TCP) on the first free display from :90 and waits at most 10 s for it; with "tray",
# also a notification area (trayer), which must run before a program looks for one. Sets
# KIVVO_DISPLAY (":N"), KIVVO_XVFB_PID and KIVVO_TRAY_PID, which kivvo_stop_display clears.
KIVVO_DISPLAY=""
KIVVO_XVFB_PID=""
KIVVO_TRAY_PID=""
kivvo_start_display() {
    local number=90 i
    while [ -e "/tmp/.X11-unix/X$number" ] || [ -e "/tmp/.X$number-lock" ]; do
        number=$((number + 1))
    done
    Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
    KIVVO_XVFB_PID=$!
    for i in $(seq 1 100); do
        [ -e "/tmp/.X11-unix/X$number" ] && break
        kill -0 "$KIVVO_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if ! DISPLAY=":$number" xdpyinfo >/dev/null 2>&1; then
        echo "The X server for the desktop tests did not start" >&2
        kivvo_stop_display
        return 1
    fi
    KIVVO_DISPLAY=":$number"
    if [ "${1:-}" = tray ]; then
        DISPLAY="$KIVVO_DISPLAY" trayer --edge top --align right --widthtype request \
            --height 24 </dev/null >/dev/null 2>&1 &
        KIVVO_TRAY_PID=$!
        sleep 0.5
    fi
}

kivvo_stop_display() {
    kivvo_stop_pid "$KIVVO_TRAY_PID"
    kivvo_stop_pid "$KIVVO_XVFB_PID"
    KIVVO_TRAY_PID=""
    KIVVO_XVFB_PID=""
    KIVVO_DISPLAY=""
}
