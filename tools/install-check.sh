#!/usr/bin/env bash
# Installs a build into a temporary prefix and runs the installed console without a
# window, then with its window on the offscreen platform, and quillonctl, from there,
# in private HOME and XDG_* folders: the console must find its driver package in share/quillon/ and keep its settings in
# $XDG_CONFIG_HOME/quillon/. Then builds the Debian package, lists what it depends on
# and has lintian check it (no error allowed). Usage: tools/install-check.sh [build
# folder] (default: build).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
work="$(mktemp -d)"
pid=""
cleanup() {
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "install check: $*" >&2
    [ -f "$work/console.log" ] && sed 's/^/  console: /' "$work/console.log" >&2
    exit 1
}

prefix="$work/prefix"
start=$(date +%s%N)
cmake --install "$build" --prefix "$prefix" >/dev/null
echo "installed into a temporary prefix in $(( ($(date +%s%N) - start) / 1000000 )) ms:"
(cd "$prefix" && find . -type f | sort | sed 's/^\./  /')

export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM
ctl="$prefix/bin/quillonctl"

# Waits until the console started as $pid answers quillonctl; fails with "$1" when it ends.
wait_running() {
    for _ in $(seq 300); do
        "$ctl" status --json 2>/dev/null | grep -q '"running":true' && return 0
        kill -0 "$pid" 2>/dev/null || fail "$1"
        sleep 0.1
    done
}

"$prefix/bin/QuillonConsole" --headless >"$work/console.log" 2>&1 &
pid=$!
wait_running "the installed console ended at its start"
"$ctl" status --json | grep -q '"running":true' || fail "the installed console does not answer"
port=$("$ctl" port add) || fail "port add was refused"
number=${port%% *}
"$ctl" set "$number" send-delay 3 || fail "set was refused"
"$ctl" status
grep -q '^SendToNetDelayTime=3' "$XDG_CONFIG_HOME/quillon/QuillonConsole.ini" \
    || fail "the settings are not in \$XDG_CONFIG_HOME/quillon/"
[ ! -e "$prefix/bin/QuillonConsole.ini" ] || fail "the settings went into the install prefix"
"$ctl" port remove "${number#COM}" || fail "port remove was refused"
kill -TERM "$pid"
wait "$pid" || fail "the installed console ended with $?"
pid=""
echo "the installed console served and stopped"

# With a display the installed console loads its window from lib/quillon.
QT_QPA_PLATFORM=offscreen "$prefix/bin/QuillonConsole" >"$work/console.log" 2>&1 &
pid=$!
wait_running "the installed console with its window ended at its start"
grep -q "quillon-window.so" "/proc/$pid/maps" || fail "the installed console did not load its window"
kill -TERM "$pid"
wait "$pid" || fail "the installed console with its window ended with $?"
pid=""
echo "the installed console ran with its window and stopped"

unit="$prefix/lib/systemd/user/quillon-console.service"
grep -qx "ExecStart=$prefix/bin/QuillonConsole --headless" "$unit" || fail "the unit's ExecStart is wrong"
if command -v systemd-analyze >/dev/null && systemd-analyze verify --man=no "$unit" >/dev/null 2>&1; then
    echo "systemd-analyze accepts the user unit"
else
    echo "the user unit was not verified (no systemd here)"
fi

if command -v dpkg-deb >/dev/null; then
    (cd "$build" && rm -f quillon-console_*.deb && cpack -G DEB >"$work/cpack.log" 2>&1) \
        || { cat "$work/cpack.log" >&2; fail "cpack failed"; }
    deb=$(ls "$build"/quillon-console_*.deb)
    echo "$(basename "$deb"): $(stat -c %s "$deb") bytes"
    echo "  Depends: $(dpkg-deb -f "$deb" Depends)"
    dpkg-deb -f "$deb" Depends | grep -q libqt6core6 || fail "the package does not depend on Qt 6"
    contents=$(dpkg-deb -c "$deb")
    for file in share/man/man1/QuillonConsole.1.gz share/man/man1/quillonctl.1.gz \
                share/doc/quillon-console/copyright share/doc/quillon-console/changelog.gz; do
        grep -q " \./usr/$file\$" <<<"$contents" || fail "the package has no /usr/$file"
    done
    if command -v lintian >/dev/null; then
        # Errors fail the check; warnings are shown.
        lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 \
            || { cat "$work/lintian.log" >&2; fail "lintian reports errors on the package"; }
        echo "lintian: no errors"
        sed 's/^/  /' "$work/lintian.log"
    else
        echo "lintian is not installed: the package was not checked (tools/deps.sh installs it)"
    fi
fi
