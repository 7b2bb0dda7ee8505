#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test offscreen.
set -euo pipefail
source "$(dirname "$0")/common.sh"

install_missing "${TRELVIN_PACKAGES[@]}"
build_trelvin
export QT_QPA_PLATFORM=offscreen
cd "$TRELVIN_BUILD"
ctest --output-on-failure -j2 "$@"
