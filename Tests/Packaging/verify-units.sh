#!/usr/bin/env bash
# Checks the helper's systemd units with systemd-analyze, ExecStart pointed at the given helper binary.
# Usage: verify-units.sh UNIT_DIR HELPER_BINARY
set -euo pipefail
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "systemd-analyze is not installed; skipping"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$1"/com.orvalith.quorvane.helper.socket "$work/"
sed "s|^ExecStart=.*|ExecStart=$2|" "$1"/com.orvalith.quorvane.helper.service >"$work/com.orvalith.quorvane.helper.service"
output=$(systemd-analyze verify --man=no "$work/com.orvalith.quorvane.helper.socket" "$work/com.orvalith.quorvane.helper.service" 2>&1) || {
    echo "$output"
    exit 1
}
# verify also reports problems it does not fail on; ours must be clean.
if echo "$output" | grep -E "com\.orvalith\.quorvane\.helper\.(socket|service)" ; then
    exit 1
fi
echo "units verified"
