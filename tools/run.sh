#!/usr/bin/env bash
# Builds Quillon Console and starts it.
set -euo pipefail
source "$(dirname "$0")/deps.sh"
qln_install_deps
qln_build "$qln_root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
# Without a display the console runs without its window (as with --headless): the
# ports and links of its configuration work, and quillonctl drives it.
exec "$qln_root/build/bin/QuillonConsole" "$@"
