#!/usr/bin/env bash
# Runs the .deb's postinst, prerm and postrm under dash with stand-ins for systemctl, deb-systemd-helper,
# deb-systemd-invoke and systemd-tmpfiles that keep the units' state in files, and checks that state
# after install, upgrade, remove, purge and the abort paths; then that a failing systemd, and none at
# all, never fail a script. Usage: verify-maintainer-scripts.sh SOURCE_DIR
set -euo pipefail
scripts=$(realpath "$1")/packaging/debian
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

# The stand-ins. A unit's state is a set of marks: enabled, recorded (in deb-systemd-helper's state
# file), masked (by the admin), dshmask (by deb-systemd-helper), active, restarted.
mkdir -p "$work/stubs" "$work/tools"
cat >"$work/stubs/systemctl" <<'STUB'
#!/bin/sh
echo "systemctl $*" >>"$STATE/calls"
[ -e "$STATE/broken" ] && exit 1
while [ "${1#-}" != "$1" ]; do shift; done
verb=$1
shift
[ "${1:-}" = -- ] && shift
case "$verb" in
daemon-reload) ;;
is-enabled)
    if [ -e "$STATE/$1.masked" ] || [ -e "$STATE/$1.dshmask" ]; then echo masked
    elif [ -e "$STATE/$1.enabled" ]; then echo enabled
    else echo disabled; exit 1; fi ;;
is-active) [ -e "$STATE/$1.active" ] ;;
start)
    for unit; do
        if [ -e "$STATE/$unit.masked" ] || [ -e "$STATE/$unit.dshmask" ]; then exit 1; fi
        touch "$STATE/$unit.active"
    done ;;
stop) for unit; do rm -f "$STATE/$unit.active"; done ;;
try-restart) for unit; do [ -e "$STATE/$unit.active" ] && touch "$STATE/$unit.restarted"; done ;;
*) echo "unexpected systemctl $verb" >&2; exit 1 ;;
esac
exit 0
STUB
cat >"$work/stubs/deb-systemd-helper" <<'STUB'
#!/bin/sh
echo "deb-systemd-helper $*" >>"$STATE/calls"
[ "$1" = --quiet ] && shift
verb=$1
unit=$2
case "$verb" in
unmask) rm -f "$STATE/$unit.dshmask" ;;
mask) [ -e "$STATE/$unit.masked" ] || touch "$STATE/$unit.dshmask" ;;
was-enabled) [ ! -e "$STATE/$unit.recorded" ] || [ -e "$STATE/$unit.enabled" ] ;;
enable) touch "$STATE/$unit.enabled" "$STATE/$unit.recorded" ;;
update-state) touch "$STATE/$unit.recorded" ;;
purge) rm -f "$STATE/$unit.enabled" "$STATE/$unit.recorded" ;;
*) echo "unexpected deb-systemd-helper $verb" >&2; exit 1 ;;
esac
STUB
# As the real one: start and restart only what is enabled (restart also what is running).
cat >"$work/stubs/deb-systemd-invoke" <<'STUB'
#!/bin/sh
action=$1
shift
case "$action" in
start | restart)
    for unit; do
        if systemctl is-enabled -- "$unit" | grep -q enabled ||
            { [ "$action" = restart ] && systemctl --quiet is-active -- "$unit"; }; then
            systemctl --quiet "$action" "$unit" || exit 1
        fi
    done ;;
*) exec systemctl "$action" "$@" ;;
esac
STUB
cat >"$work/stubs/systemd-tmpfiles" <<'STUB'
#!/bin/sh
echo "systemd-tmpfiles $*" >>"$STATE/calls"
STUB
chmod +x "$work"/stubs/*
# Only these tools besides the stand-ins: the real systemctl must never be reached.
for tool in sh cat rm rmdir touch grep; do ln -s "$(command -v $tool)" "$work/tools/$tool"; done

# The scripts, with the paths they touch moved under $root.
root="$work/root"
mkdir -p "$work/scripts"
for script in postinst prerm postrm; do
    sed -e "s|/run/|$root/run/|g" -e "s|/var/lib/|$root/var/lib/|g" "$scripts/$script" >"$work/scripts/$script"
    grep -q "$root/run/systemd/system" "$work/scripts/$script" || { echo "FAIL: $script does not check for systemd"; exit 1; }
done

socket=com.orvalith.quorvane.helper.socket
service=com.orvalith.quorvane.helper.service
summary() {
    local unit mark out=""
    for unit in $socket $service; do
        out+="${unit##*.}:"
        for mark in enabled recorded masked dshmask active restarted; do
            [ -e "$STATE/$unit.$mark" ] && out+=" $mark"
        done
        out+="; "
    done
    [ -e "$root/run/com.orvalith.quorvane.fan-control.lock" ] && out+="lock "
    [ -e "$root/var/lib/Orvalith" ] && out+="state"
    echo "${out% }"
}

# name | marks before | systemd running | steps | state after
cases="
first install|||postinst configure|socket: enabled recorded active; service:; lock state
first install, socket masked by the admin|socket.masked||postinst configure|socket: enabled recorded masked; service:; lock state
upgrade, helper running|socket.enabled socket.recorded socket.active service.active||prerm upgrade 0.1.0-2;postinst configure 0.1.0-1|socket: enabled recorded active; service: active restarted; lock state
upgrade, socket disabled by the admin|socket.recorded||prerm upgrade 0.1.0-2;postinst configure 0.1.0-1|socket: recorded; service:; lock state
upgrade, socket masked by the admin|socket.enabled socket.recorded socket.masked||postinst configure 0.1.0-1|socket: enabled recorded masked; service:; lock state
remove|socket.enabled socket.recorded socket.active service.active||prerm remove;postrm remove|socket: enabled recorded dshmask; service:; state
remove, then install again|socket.enabled socket.recorded socket.dshmask||postinst configure 0.1.0-1|socket: enabled recorded active; service:; lock state
purge after remove|socket.enabled socket.recorded socket.dshmask||postrm purge|socket:; service:;
purge keeps the admin's mask|socket.enabled socket.recorded socket.masked||postrm remove;postrm purge|socket: masked; service:;
remove aborted|socket.enabled socket.recorded socket.active service.active||prerm remove;postinst abort-remove|socket: enabled recorded active; service:; lock state
upgrade aborted|socket.enabled socket.recorded socket.active service.active||prerm upgrade 0.1.0-2;postrm abort-upgrade 0.1.0-1;postinst abort-upgrade 0.1.0-2|socket: enabled recorded active; service: active restarted; lock state
install aborted|||postrm abort-install|socket:; service:; lock state
systemd not running|socket.enabled socket.recorded|none|postinst configure;prerm remove;postrm remove|socket: enabled recorded dshmask; service:; state
"
while IFS='|' read -r name marks systemd steps expected; do
    [ -n "$name" ] || continue
    export STATE="$work/state/$name"
    rm -rf "$root"
    mkdir -p "$STATE" "$root/run" "$root/var/lib/Orvalith"
    [ "$systemd" = none ] || mkdir -p "$root/run/systemd/system"
    for mark in $marks; do touch "$STATE/com.orvalith.quorvane.helper.$mark"; done
    # What tmpfiles.d and the helper make.
    [ "$systemd" = none ] || touch "$root/run/com.orvalith.quorvane.fan-control.lock"
    touch "$root/var/lib/Orvalith/helper-capability-v1"
    IFS=';' read -ra list <<<"$steps"
    for step in "${list[@]}"; do
        read -ra words <<<"$step"
        PATH="$work/stubs:$work/tools" sh -e "$work/scripts/${words[0]}" "${words[@]:1}" ||
            { echo "FAIL: $name: $step exited $?"; failures=$((failures + 1)); }
    done
    actual=$(summary)
    if [ "$actual" != "$expected" ]; then
        echo "FAIL: $name"
        echo "  expected: $expected"
        echo "  actual:   $actual"
        sed 's/^/  /' "$STATE/calls" 2>/dev/null || true
        failures=$((failures + 1))
    fi
done <<<"$cases"

# Every systemd call failing, then no systemd tools at all: each script still succeeds.
export STATE="$work/state/broken"
mkdir -p "$STATE" "$root/run/systemd/system"
touch "$STATE/broken"
for tools in "$work/stubs:$work/tools" "$work/tools"; do
    for step in "postinst configure" "postinst configure 0.1.0-1" "prerm upgrade 0.1.0-2" "prerm remove" \
        "postrm remove" "postrm purge"; do
        read -ra words <<<"$step"
        PATH="$tools" sh -e "$work/scripts/${words[0]}" "${words[@]:1}" >/dev/null 2>&1 ||
            { echo "FAIL: $step with PATH=$tools"; failures=$((failures + 1)); }
    done
done

[ "$failures" -eq 0 ] || exit 1
echo "maintainer scripts verified"
