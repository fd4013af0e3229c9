#!/usr/bin/env bash
# install.sh BUILD_DIR SOURCE_DIR: a staged install (DESTDIR, prefix /usr, as the Debian package
# lays it out) puts every file in its standard place, and the installed program runs.
set -euo pipefail
build="$1"
source="$2"
id=org.kivvo.Kivvo

stage="$(mktemp -d "${TMPDIR:-/tmp}/kivvo-install.XXXXXX")"
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >"$stage.log" 2>&1 || {
    cat "$stage.log" >&2
    rm -f "$stage.log"
    exit 1
}
rm -f "$stage.log"
root="$stage/usr"

missing=0
expect() {
    if [ ! -s "$root/$1" ]; then
        echo "missing or empty: /usr/$1" >&2
        missing=1
    fi
}

expect bin/kivvo
[ -x "$root/bin/kivvo" ] || { echo "/usr/bin/kivvo is not executable" >&2; missing=1; }
expect "share/applications/$id.desktop"
expect "share/metainfo/$id.metainfo.xml"
for size in 16 22 24 32 48 64 128 256; do
    expect "share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expect "share/icons/hicolor/scalable/apps/$id.svg"
expect share/man/man1/kivvo.1.gz
expect share/doc/kivvo/copyright
expect share/kivvo/help/kivvo_help.html

# The sound module, in the library folder the program looks in (../lib/... from bin/, as
# peer/CMakeLists.txt has it), a shared object and not executable.
modules=()
while IFS= read -r -d '' found; do
    modules+=("$found")
done < <(find "$root/lib" -name kivvo-sound.so -print0 2>/dev/null)
if [ "${#modules[@]}" -ne 1 ]; then
    echo "expected one kivvo-sound.so under /usr/lib, found ${#modules[@]}" >&2
    missing=1
elif command -v file >/dev/null && ! file -b "${modules[0]}" | grep -q "ELF .* shared object"; then
    echo "not a shared object: ${modules[0]#"$stage"}: $(file -b "${modules[0]}")" >&2
    missing=1
fi

# Every skin of the tree, under its own name, and at least one.
skins=0
for skin in "$source"/res/skin/*.bmp; do
    [ -e "$skin" ] || continue
    expect "share/kivvo/skin/$(basename "$skin")"
    skins=$((skins + 1))
done
if [ "$skins" -eq 0 ]; then
    echo "no skins in $source/res/skin" >&2
    missing=1
fi

# The desktop entry and the metadata name the icon and the binary that were installed.
if [ -f "$root/share/applications/$id.desktop" ]; then
    grep -qx "Icon=$id" "$root/share/applications/$id.desktop" \
        || { echo "the desktop entry does not name the icon $id" >&2; missing=1; }
    grep -qx "Exec=kivvo" "$root/share/applications/$id.desktop" \
        || { echo "the desktop entry does not start kivvo" >&2; missing=1; }
fi
if [ -f "$root/share/metainfo/$id.metainfo.xml" ]; then
    grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
        "$root/share/metainfo/$id.metainfo.xml" \
        || { echo "the metadata does not launch $id.desktop" >&2; missing=1; }
fi

# The icons are what their names say.
if command -v file >/dev/null; then
    for size in 16 22 24 32 48 64 128 256; do
        icon="$root/share/icons/hicolor/${size}x${size}/apps/$id.png"
        [ -f "$icon" ] || continue
        if ! file -b "$icon" | grep -q "^PNG image data, $size x $size,"; then
            echo "not a ${size}x${size} PNG: $(file -b "$icon")" >&2
            missing=1
        fi
    done
    svg="$root/share/icons/hicolor/scalable/apps/$id.svg"
    if [ -f "$svg" ] && ! file -b "$svg" | grep -q "SVG"; then
        echo "not an SVG: $(file -b "$svg")" >&2
        missing=1
    fi
fi
if command -v gzip >/dev/null && [ -f "$root/share/man/man1/kivvo.1.gz" ]; then
    gzip -t "$root/share/man/man1/kivvo.1.gz" || missing=1
fi

# Nothing but the binary may be executable, and the installed binary answers without a display.
if [ -x "$root/bin/kivvo" ]; then
    version="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/bin/kivvo" --version)" \
        || { echo "the installed kivvo --version failed" >&2; missing=1; }
    [ "$version" = "Kivvo v2.0" ] || { echo "the installed kivvo says: $version" >&2; missing=1; }
fi
while IFS= read -r -d '' extra; do
    echo "executable but not the program: ${extra#"$stage"}" >&2
    missing=1
done < <(find "$root" -type f -perm /111 ! -path "$root/bin/kivvo" -print0)

if [ "$missing" -ne 0 ]; then
    echo "Installed:" >&2
    (cd "$stage" && find . -type f | sort) >&2
    exit 1
fi
echo "installed into $stage: $(cd "$stage" && find . -type f | wc -l) files, all in place"
