#!/usr/bin/env bash
# validate.sh PACKAGING_DIR: the desktop entry and the AppStream metadata as written, checked by
# the tools that distributions and software centres use. Errors and warnings fail; AppStream's
# pedantic hints do not. Exits 77 (skipped) when a validator is not installed (tools/test
# installs both).
set -euo pipefail
dir="$1"

for tool in desktop-file-validate appstreamcli; do
    if ! command -v "$tool" >/dev/null; then
        echo "$tool is not installed" >&2
        exit 77
    fi
done

status=0
for desktop in "$dir"/*.desktop; do
    echo "desktop-file-validate $desktop"
    # It exits 0 on warnings, so its words decide.
    if ! report="$(desktop-file-validate "$desktop" 2>&1)" || grep -Eq 'error:|warning:' <<<"$report"; then
        status=1
    fi
    [ -z "$report" ] || printf '%s\n' "$report"
done
for metainfo in "$dir"/*.metainfo.xml; do
    echo "appstreamcli validate --no-net --strict $metainfo"
    # --strict fails on warnings too.
    appstreamcli validate --no-net --strict --explain "$metainfo" || status=1
done
exit "$status"
