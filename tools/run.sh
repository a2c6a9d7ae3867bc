#!/usr/bin/env bash
# Builds Quillon Console and starts it.
set -euo pipefail
source "$(dirname "$0")/deps.sh"
qln_install_deps
qln_build "$qln_root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Without a display the console runs on Qt's offscreen platform: the ports and
# links of its configuration work, nothing is shown.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    export QT_QPA_PLATFORM=offscreen
fi
exec "$qln_root/build/bin/QuillonConsole" "$@"
