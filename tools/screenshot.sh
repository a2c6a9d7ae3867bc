#!/usr/bin/env bash
# Takes the README's pictures of the window and of a port's monitor: the console,
# built from this tree, runs under a virtual X display in private folders with one
# port (COM5) and three links (a TCP client, a TCP server and UDP, from its INI), with
# socat as the peers and an application that holds the port; the window alone is
# grabbed into a PNG. Then "Monitor..." is chosen from COM5's context menu (a right
# click and its M key), traffic passes both ways, and the monitor's window is grabbed.
#
# The window shows the port's path, which should read as a user's
# (/home/ann/.local/state/quillon/dev/COM5), not as a temporary folder: the script runs
# itself again in a mount namespace of its own (unshare; as root, or in a user
# namespace) with an empty /home there, seen by nothing else. Where no namespace can
# be made, HOME is a temporary folder, and the script says so.
#
#   bash tools/screenshot.sh [window.png [monitor.png]]
#                     (default: docs/window.png, and monitor.png beside the first)
#
# Fails (exit 1) when a window cannot be drawn: no window appears, or a picture is
# not its window's size (600 x 400, 640 x 400).
set -euo pipefail
source "$(dirname "$0")/deps.sh"
qln_install_deps
qln_install_deps "${qln_screenshot_packages[@]}"
out="$(realpath -m "${1:-$qln_root/docs/window.png}")"
monitor_out="$(realpath -m "${2:-$(dirname "$out")/monitor.png}")"
[ -x "$qln_root/build/bin/QuillonConsole" ] || qln_build "$qln_root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo

if [ -z "${QLN_SCREENSHOT_HOME:-}" ]; then
    for ns in "unshare --mount --propagation private" "unshare --user --map-root-user --mount --propagation private"; do
        if $ns true 2>/dev/null; then
            QLN_SCREENSHOT_HOME=/home/ann exec $ns bash "$0" "$out" "$monitor_out"
        fi
    done
    echo "screenshot: no mount namespace here; the picture shows a temporary folder as HOME" >&2
fi

work="$(mktemp -d /tmp/qln.XXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Private folders; the executable's own folder holds the INI. In the namespace an
# empty /home stands in for the machine's.
home="$work/home"
if [ -n "${QLN_SCREENSHOT_HOME:-}" ]; then
    mount -t tmpfs -o mode=755 tmpfs /home
    home="$QLN_SCREENSHOT_HOME"
fi
state="$home/.local/state"
mkdir -p "$work"/{bin,config,runtime} "$state/quillon/devices"
chmod 700 "$work/runtime" "$state/quillon"
cp "$qln_root/build/bin/"{QuillonConsole,quillon-window.so,Quillon.inf} "$work/bin/"
export HOME="$home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/runtime"
unset XDG_STATE_HOME WAYLAND_DISPLAY QT_QPA_PLATFORM

# One installed port, as the console records it (see "Device records" in the README).
cat > "$state/quillon/devices/ROOT#PORTS#0000" <<'RECORD'
[Device]
InstanceId=ROOT\PORTS\0000
ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}
Description=Quillon
Enabled=1
HardwareId=QUILLON
FriendlyName=Quillon (COM5)
[HardwareKey]
PortName=COM5
[DriverKey]
InfPath=oem0.inf
RECORD
echo COM5 > "$state/quillon/comdb"
cat > "$work/bin/QuillonConsole.ini" <<'INI'
[COM5]
SendToNetDelayTime=0
ReceiveFromNetDelayTime=0
LogFilename=
LogMode=0
NetCount=3
Net1Type=1
Net1RemoteAddr=127.0.0.1
Net1RemotePort=30000
Net1AutoReconnect=1
Net1ReconnectIntervalTime=5000
Net2Type=2
Net2LocalPort=30001
Net3Type=3
Net3LocalPort=30002
Net3RemoteAddr=127.0.0.1
Net3RemotePort=31000
INI

# A display of the window's size; the window is centred on it, without a frame.
display=":$((90 + RANDOM % 400))"
Xvfb "$display" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY="$display"
for _ in $(seq 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

# The peers: a listener for the TCP client, a client of the server, a UDP receiver.
socat -u TCP-LISTEN:30000,bind=127.0.0.1,reuseaddr OPEN:/dev/null >/dev/null 2>&1 &
pids+=($!)
socat -u UDP-RECV:31000,bind=127.0.0.1 OPEN:/dev/null >/dev/null 2>&1 &
pids+=($!)

"$work/bin/QuillonConsole" >"$work/console.log" 2>&1 &
console=$!
pids+=($console)

window=""
for _ in $(seq 200); do
    window="$(xwininfo -root -tree 2>/dev/null | awk '/"Quillon Console"/ && / 600x400\+/ { print $1; exit }')"
    [ -n "$window" ] && break
    kill -0 "$console" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$window" ]; then
    echo "screenshot: the console's window did not appear" >&2
    cat "$work/console.log" >&2
    exit 1
fi

# An application on the port and a client on the server, so that bytes move.
link="$state/quillon/dev/COM5"
for _ in $(seq 100); do [ -e "$link" ] && break; sleep 0.1; done
(exec 3<>"$link"; printf 'AT+HELLO\r\n' >&3; sleep 60) &
pids+=($!)
(sleep 0.5; printf 'hello from a client\r\n'; sleep 60) | socat -u - TCP:127.0.0.1:30001 >/dev/null 2>&1 &
pids+=($!)
sleep 2.5 # two refreshes of the window after the traffic

# Grabs window $1 into $2, which must come out $3 (width x height).
grab() {
    xwd -silent -id "$1" > "$work/grab.xwd"
    mkdir -p "$(dirname "$2")"
    # Few colours keep the picture small; the windows have hardly more.
    /usr/bin/convert "xwd:$work/grab.xwd" -colors 64 "png8:$2"
    local size
    size="$(/usr/bin/identify -format '%wx%h' "$2")"
    if [ "$size" != "$3" ]; then
        echo "screenshot: the picture is $size, not the window's $3" >&2
        kill -TERM "$console"
        exit 1
    fi
    echo "screenshot: $2 ($size, $(stat -c %s "$2") bytes)"
}
grab "$window" "$out" 600x400

# COM5's monitor, from its context menu: the first node of the tree, then M.
xdotool mousemove --window "$window" 40 86 click 3
sleep 0.5
xdotool key m
monitor=""
for _ in $(seq 100); do
    monitor="$(xwininfo -root -tree 2>/dev/null | awk '/"COM5 Monitor"/ && / 640x400\+/ { print $1; exit }')"
    [ -n "$monitor" ] && break
    sleep 0.1
done
if [ -z "$monitor" ]; then
    echo "screenshot: the monitor's window did not appear" >&2
    cat "$work/console.log" >&2
    kill -TERM "$console"
    exit 1
fi
# A modem's exchange: the application asks, a client of the server answers.
printf 'AT+CGMI\r\n' > "$link"
sleep 0.3
printf 'Quillon\r\nOK\r\n' | socat -u - TCP:127.0.0.1:30001 >/dev/null 2>&1
sleep 0.3
printf 'AT+CGSN\r\n' > "$link"
sleep 0.3
printf '866301058453621\r\n\r\nOK\r\n' | socat -u - TCP:127.0.0.1:30001 >/dev/null 2>&1
sleep 1
grab "$monitor" "$monitor_out" 640x400
kill -TERM "$console"
wait "$console" || true
