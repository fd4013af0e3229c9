# Shared by tools/run and tools/test: the Debian packages the project needs, and the build.
# shellcheck shell=bash

KIVVO_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KIVVO_BUILD="$KIVVO_ROOT/build"

KIVVO_PACKAGES=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-multimedia-dev libgtest-dev libgmock-dev libsqlite3-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-tidy clang-format
    xvfb xauth x11-utils xdotool imagemagick trayer pulseaudio pulseaudio-utils
    ngircd python3 sqlite3
)

kivvo_as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

# Installs whatever is missing; does nothing (and never calls apt) when all is there.
kivvo_install_packages() {
    local missing=()
    local pkg
    for pkg in "${KIVVO_PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ "${#missing[@]}" -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    kivvo_as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -q
    kivvo_as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 \
        install -y -q --no-install-recommends "${missing[@]}"
}

# kivvo_build [BUILD_DIR] [extra cmake -D arguments...]
kivvo_build() {
    local dir="$1"; shift
    cmake -S "$KIVVO_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    cmake --build "$dir" -j "$(nproc)"
}

# Qt wants a private runtime folder; root has none by default.
kivvo_runtime_dir() {
    if [ -z "${XDG_RUNTIME_DIR:-}" ] || [ ! -w "${XDG_RUNTIME_DIR}" ]; then
        XDG_RUNTIME_DIR="$(mktemp -d /tmp/kivvo-runtime.XXXXXX)"
        chmod 700 "$XDG_RUNTIME_DIR"
        export XDG_RUNTIME_DIR
    fi
}

# Whether something accepts connections on 127.0.0.1:$1.
kivvo_port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# kivvo_start_ngircd PORT FOLDER: a local IRC server for trying the program; sets NGIRCD_PID.
kivvo_start_ngircd() {
    local port="$1" folder="$2"
    mkdir -p "$folder"
    sed -e "s/@PORT@/$port/g" \
        "$KIVVO_ROOT/tools/ngircd/kivvo-local.conf" >"$folder/ngircd.conf"
    chmod 644 "$folder/ngircd.conf"
    chmod 755 "$folder"
    ngircd -n -f "$folder/ngircd.conf" </dev/null >"$folder/ngircd.log" 2>&1 &
    NGIRCD_PID=$!
    local i
    for i in $(seq 1 50); do
        kivvo_port_open "$port" && return 0
        kill -0 "$NGIRCD_PID" 2>/dev/null || break
        sleep 0.1
    done
    echo "The local IRC server did not start; see $folder/ngircd.log" >&2
    return 1
}
