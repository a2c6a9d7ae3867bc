#!/bin/sh
# A console with many links, with its window (offscreen) or without: how much of its
# GUI thread the window's refresh takes while every link keeps failing, and how long
# SIGTERM takes to end it.
#
# usage: bench/window_probe.sh BIN_FOLDER [LINKS] [window|minimized|headless]
#   BIN_FOLDER: where QuillonConsole, quillonctl, Quillon.inf and quillon-window.so are
#   LINKS: TCP client links to a closed port, beside one TCP server link (default 5000),
#   each trying again every PROBE_INTERVAL ms (default 1000: every link changes its
#   state twice a second, the worst the window's refresh meets)
# Prints the GUI thread's CPU time per second over 10 s, and the seconds from SIGTERM
# to the end of the process.
set -eu
bin=$1
links=${2:-5000}
mode=${3:-window}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/console" "$work/run" "$work/config"
chmod 700 "$work/run"
for name in QuillonConsole quillonctl Quillon.inf quillon-window.so; do
    cp "$bin/$name" "$work/console/"
done
export HOME="$work" XDG_CONFIG_HOME="$work/config" XDG_STATE_HOME="$work/state" XDG_RUNTIME_DIR="$work/run"
export QT_QPA_PLATFORM=offscreen
"$work/console/quillonctl" port add >/dev/null
closed=9
minimize=0
[ "$mode" = minimized ] && minimize=1
python3 - "$work/console/QuillonConsole.ini" "$links" "$closed" "$minimize" "${PROBE_INTERVAL:-1000}" <<'EOF'
import sys
path, links, closed, minimize, interval = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
lines = ["[General]", "MinimizeWhenRun=" + minimize, "[COM1]", "NetCount=%d" % (links + 1)]
for i in range(1, links + 1):
    lines += ["Net%dType=1" % i, "Net%dRemoteAddr=127.0.0.1" % i, "Net%dRemotePort=%s" % (i, closed),
              "Net%dAutoReconnect=1" % i, "Net%dReconnectIntervalTime=%s" % (i, interval)]
lines += ["Net%dType=2" % (links + 1), "Net%dLocalPort=7999" % (links + 1)]
open(path, "w").write("\n".join(lines) + "\n")
EOF
args=""
[ "$mode" = headless ] && args=--headless
"$work/console/QuillonConsole" $args 2>"$work/events" &
pid=$!
i=0
until grep -q 'console: started' "$work/events" 2>/dev/null; do
    i=$((i + 1))
    [ $i -gt 1800 ] && { echo "the console did not start"; kill -9 $pid; exit 1; }
    sleep 0.1
done
echo "started after $((i / 10)) s"
ticks() { awk '{print $14 + $15}' "/proc/$pid/task/$pid/stat"; }
hz=$(getconf CLK_TCK)
[ -n "${PROBE_PERF:-}" ] && perf record --call-graph=dwarf,16384 -F 200 -t $pid -o "$PROBE_PERF" -- sleep 4 >/dev/null 2>&1
before=$(ticks)
sleep 10
after=$(ticks)
echo "$mode, $links client links + 1 server: GUI thread $(( (after - before) * 1000 / hz / 10 )) ms of CPU per second"
start=$(date +%s.%N)
kill -TERM $pid
wait $pid || true
end=$(date +%s.%N)
echo "SIGTERM to exit: $(echo "$end - $start" | bc) s"
grep -c ' more events in one second' "$work/events" | sed 's/^/"N more events" lines: /'
