#!/usr/bin/env bash
# Builds Quillon Console with its tests and runs every test.
set -euo pipefail
source "$(dirname "$0")/deps.sh"
qln_install_deps
qln_build "$qln_root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cd "$qln_root/build"
ctest --output-on-failure -j2 --timeout 300
