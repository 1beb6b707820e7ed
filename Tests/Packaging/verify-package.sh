#!/usr/bin/env bash
# Packs the build tree into a .deb with CPack, unpacks it and checks what a user would get: the files,
# the dependencies, the units and their sandbox, the polkit files, the desktop entry, the AppStream
# metadata, the man pages, --version and --help, and the installed helper serving the installed app,
# and only it, against a simulated Mac.
# Usage: verify-package.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$(realpath "$1")
source=$(realpath "$2")
if ! command -v dpkg-deb >/dev/null 2>&1; then
    echo "dpkg-deb is not installed; skipping"
    exit 77
fi
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
release=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
step() {
    echo "[${SECONDS}s] $*"
}

step "packing $build"
# Fast compression, as this package is only unpacked again; no dependency list, which takes dpkg-shlibdeps
# minutes on sanitized binaries and would name the sanitizers' libraries (scripts/package computes it).
(cd "$build" && cpack -G DEB -B "$work/cpack" -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip \
    -D CPACK_DEBIAN_PACKAGE_SHLIBDEPS=OFF -D CPACK_DEBIAN_DEBUGINFO_PACKAGE=OFF >"$work/cpack.log") || {
    cat "$work/cpack.log"
    exit 1
}
deb=$(echo "$work"/cpack/quorvane_"$version-$release"_*.deb)
[ -f "$deb" ] || { echo "no quorvane_${version}-${release}_<arch>.deb"; ls "$work/cpack"; exit 1; }
root="$work/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"

step "checking the files"
# The file list.
units=usr/lib/systemd/system
expected="usr/bin/Quorvane
usr/bin/quorvane-sim
usr/libexec/quorvane/OrvalithHelper
$units/com.orvalith.quorvane.helper.service
$units/com.orvalith.quorvane.helper.socket
usr/lib/tmpfiles.d/quorvane.conf
usr/share/polkit-1/rules.d/com.orvalith.quorvane.rules
usr/share/polkit-1/actions/com.orvalith.quorvane.policy
usr/share/applications/com.orvalith.quorvane.desktop
usr/share/icons/hicolor/scalable/apps/com.orvalith.quorvane.svg
usr/share/icons/hicolor/symbolic/apps/com.orvalith.quorvane-symbolic.svg
usr/share/metainfo/com.orvalith.quorvane.metainfo.xml
usr/share/doc/quorvane/copyright
usr/share/doc/quorvane/changelog.Debian.gz
usr/share/lintian/overrides/quorvane
usr/share/man/man1/Quorvane.1.gz
usr/share/man/man1/quorvane-sim.1.gz
usr/share/man/man8/OrvalithHelper.8.gz"
for size in 16 22 24 32 48 64 128 256; do
    expected+=$'\n'"usr/share/icons/hicolor/${size}x${size}/apps/com.orvalith.quorvane.png"
done
actual=$(cd "$root" && find . ! -type d | sed 's|^\./||' | sort)
if [ "$actual" != "$(echo "$expected" | sort)" ]; then
    fail "file list"
    diff <(echo "$expected" | sort) <(echo "$actual") || true
fi
# What shlibdeps cannot see: without these the GUI does not start under --no-install-recommends.
depends=$(sed -n 's/^Depends: //p' "$work/control/control")
for package in libqt6svg6 qt6-qpa-plugins; do
    echo "$depends" | grep -qE "(^|, )$package( |,|$)" || fail "Depends lacks $package: $depends"
done
head -1 "$root/usr/share/doc/quorvane/copyright" | grep -q "^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/" ||
    fail "the copyright file is not machine-readable"
zcat "$root/usr/share/doc/quorvane/changelog.Debian.gz" | head -1 | grep -q "^quorvane ($version-$release) " ||
    fail "changelog.Debian.gz does not start with $version-$release"

# The helper's sandbox, rated on the installed unit.
security=$(systemd-analyze security --offline=yes --root="$root" --threshold=25 \
    "$root/$units/com.orvalith.quorvane.helper.service" 2>&1) || fail "systemd-analyze security above 2.5"
echo "$security" | grep "Overall exposure level"

# Polkit: the action files against polkit's DTD; the rule run on polkit's JavaScript API.
for policy in "$root"/usr/share/polkit-1/actions/*.policy; do
    [ -f "$policy" ] || continue
    xmllint --noout --dtdvalid /usr/share/polkit-1/policyconfig-1.dtd "$policy" || fail "$(basename "$policy") is not valid"
done
if command -v node >/dev/null 2>&1; then
    node - "$root/usr/share/polkit-1/rules.d/com.orvalith.quorvane.rules" <<'JS' || fail "the polkit rule"
const rules = [];
const polkit = {
    Result: {NO: "no", YES: "yes", AUTH_SELF: "auth_self", AUTH_SELF_KEEP: "auth_self_keep",
             AUTH_ADMIN: "auth_admin", AUTH_ADMIN_KEEP: "auth_admin_keep", NOT_HANDLED: null},
    addRule: (rule) => rules.push(rule),
    addAdminRule: () => {},
    log: () => {},
};
new Function("polkit", require("fs").readFileSync(process.argv[2], "utf8"))(polkit);
const socket = "com.orvalith.quorvane.helper.socket", service = "com.orvalith.quorvane.helper.service";
const admin = {local: true, active: true, groups: ["sudo"]};
// action, unit, verb, subject, result
const cases = [
    ["manage-units", socket, "start", admin, "yes"],
    ["manage-units", service, "try-restart", {local: true, active: true, groups: ["wheel"]}, "yes"],
    ["manage-units", "ssh.service", "start", admin, null],
    ["manage-units", service, "set-property", admin, null],
    ["manage-units", socket, "start", {local: true, active: false, groups: ["sudo"]}, null],
    ["manage-units", socket, "start", {local: false, active: true, groups: ["sudo"]}, null],
    ["manage-units", socket, "start", {local: true, active: true, groups: ["users"]}, null],
    ["manage-unit-files", undefined, undefined, admin, null],
    ["reload-daemon", undefined, undefined, admin, null],
];
let failed = 0;
for (const [id, unit, verb, who, expected] of cases) {
    const action = {id: "org.freedesktop.systemd1." + id, lookup: (key) => ({unit, verb})[key]};
    const subject = {...who, isInGroup: (group) => who.groups.includes(group)};
    let result = null;
    for (const rule of rules) {
        result = rule(action, subject);
        if (result !== null && result !== undefined) break;
    }
    if ((result ?? null) !== expected) {
        console.log(`polkit rule: ${id} ${unit} ${verb} ${JSON.stringify(who)}: ${result}, not ${expected}`);
        failed++;
    }
}
process.exit(failed ? 1 : 0);
JS
else
    echo "node is not installed: the polkit rule was not run"
fi

for script in postinst prerm postrm; do
    [ -x "$work/control/$script" ] || fail "no $script"
done

# Units and desktop entry name the installed programs.
exec_start=$(sed -n 's/^ExecStart=//p' "$root/$units/com.orvalith.quorvane.helper.service")
[ "$exec_start" = /usr/libexec/quorvane/OrvalithHelper ] || fail "ExecStart=$exec_start"
desktop="$root/usr/share/applications/com.orvalith.quorvane.desktop"
[ "$(sed -n 's/^Exec=//p' "$desktop")" = /usr/bin/Quorvane ] || fail "desktop Exec=$(sed -n 's/^Exec=//p' "$desktop")"
# Any other prefix gets units and an entry naming the programs under it.
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
exec_start=$(sed -n 's/^ExecStart=//p' "$prefix/lib/systemd/system/com.orvalith.quorvane.helper.service" || true)
[ "$exec_start" = "$prefix/libexec/quorvane/OrvalithHelper" ] && [ -x "$exec_start" ] ||
    fail "installed under $prefix, ExecStart=$exec_start"
[ "$(sed -n 's/^Exec=//p' "$prefix/share/applications/com.orvalith.quorvane.desktop")" = "$prefix/bin/Quorvane" ] ||
    fail "installed under $prefix, the desktop entry does not name $prefix/bin/Quorvane"
[ -f "$prefix/lib/systemd/system/com.orvalith.quorvane.helper.socket" ] || fail "no socket unit under $prefix"

"$source/Tests/Packaging/verify-units.sh" "$root/$units" "$root/usr/libexec/quorvane/OrvalithHelper" ||
    fail "systemd-analyze verify"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
metainfo="$root/usr/share/metainfo/com.orvalith.quorvane.metainfo.xml"
appstreamcli validate --no-net --pedantic "$metainfo" || fail "appstreamcli validate"
for picture in "$source"/docs/screenshots/*.png; do
    grep -q "/$(basename "$picture")</image>" "$metainfo" || fail "screenshot $(basename "$picture") not in the metainfo"
done

# Every page renders, without a warning from the formatter.
for page in "$root"/usr/share/man/man*/*.gz; do
    name=$(basename "$page" .gz)
    rendered=$(MANWIDTH=80 man --warnings -l "$page" 2>"$work/man-warnings") || fail "man -l $name"
    [ ! -s "$work/man-warnings" ] || { fail "man -l $name warns"; cat "$work/man-warnings"; }
    echo "$rendered" | grep -q "^NAME" || fail "man -l $name has no NAME section"
done

# --version and --help, with private paths so nothing reaches a machine or helper of the system.
export QUORVANE_SMC_SOCKET="$work/smc.sock" QUORVANE_HELPER_SOCKET="$work/helper.sock" \
    QUORVANE_HELPER_LOCK="$work/fan-control.lock" QUORVANE_HELPER_MARKER="$work/helper-capability-v1" \
    XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" XDG_STATE_HOME="$work/state"
unset DISPLAY WAYLAND_DISPLAY
for program in usr/bin/Quorvane usr/bin/quorvane-sim usr/libexec/quorvane/OrvalithHelper; do
    name=$(basename "$program")
    [ "$("$root/$program" --version 2>&1)" = "$name $version" ] || fail "$name --version: $("$root/$program" --version 2>&1)"
    "$root/$program" --help 2>&1 | grep -q "^usage: $name" || fail "$name --help"
done

step "running the installed helper and app"
# The installed helper pins the installed app: it serves it and refuses a copy that differs.
if [ "$(id -u)" -ne 0 ]; then
    echo "not root: the helper's pin in the installed layout was not checked"
else
    chmod 755 "$work"
    # With no SMC the helper exits with the one status its unit does not restart on.
    status=0
    "$root/usr/libexec/quorvane/OrvalithHelper" >"$work/no-smc.log" 2>&1 || status=$?
    prevent=$(sed -n 's/^RestartPreventExitStatus=//p' "$root/$units/com.orvalith.quorvane.helper.service")
    [ "$status" = "$prevent" ] ||
        { fail "with no SMC the helper exited $status; the unit prevents restarts on ${prevent:-nothing}"; cat "$work/no-smc.log"; }
    rm -f "$work/helper.sock"
    "$root/usr/bin/quorvane-sim" serve --profile Mac15,11 --socket "$work/smc.sock" --speed 10 >"$work/sim.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do [ -S "$work/smc.sock" ] && break; sleep 0.1; done
    "$root/usr/libexec/quorvane/OrvalithHelper" >"$work/helper.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 300); do [ -S "$work/helper.sock" ] && break; sleep 0.1; done
    [ -S "$work/helper.sock" ] || { fail "the installed helper did not start"; cat "$work/helper.log"; }

    # Each app runs until what is looked for shows, within a minute, and is then asked to quit.
    run_app() { # PROGRAM LOG
        "$1" --headless --json --install-helper --run-supervised-test --polls 30 >"$2" 2>&1 &
        app=$!
        pids+=("$app")
    }
    within_a_minute() { # COMMAND...
        for _ in $(seq 600); do "$@" && return 0; sleep 0.1; done
        return 1
    }
    quit_app() {
        kill -TERM "$app" 2>/dev/null || true
        wait "$app" || true
    }

    mkdir -p "$work/other"
    cp "$root/usr/bin/Quorvane" "$work/other/Quorvane"
    printf x >>"$work/other/Quorvane"
    run_app "$work/other/Quorvane" "$work/other.log"
    within_a_minute grep -q "refused connection from pid $app: not the pinned Quorvane app" "$work/helper.log" ||
        { fail "the helper did not refuse another copy"; cat "$work/helper.log"; }
    quit_app
    step "the helper refused another copy"

    run_app "$root/usr/bin/Quorvane" "$work/app.log"
    within_a_minute grep -q '"supervisedTestPassed":true' "$work/app.log" ||
        { fail "the installed app's supervised test did not pass through the helper"; tail -3 "$work/app.log"; }
    grep -q "refused connection from pid $app" "$work/helper.log" && fail "the helper refused the installed app"
    quit_app
    step "the installed app passed its supervised test through the installed helper"
fi

step "done"
if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "package verified: $(basename "$deb")"
