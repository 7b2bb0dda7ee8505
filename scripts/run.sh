#!/usr/bin/env bash
# Installs what is missing, builds, stages the runtime folder and starts the
# program. Arguments go to the toolkit, e.g. scripts/run.sh -platform offscreen
set -euo pipefail
source "$(dirname "$0")/common.sh"

install_missing "${TRELVIN_PACKAGES[@]}"
build_trelvin

TRELVIN_HOME="${TRELVIN_HOME:-$HOME/Trelvin}"
info="$TRELVIN_HOME/Programs/Trelvin/Info"
data="$TRELVIN_HOME/Programs/Trelvin/Data"

# The information directory is the program's: refresh it whole on every run.
rm -rf "$info"
cmake --install "$TRELVIN_BUILD" --prefix "$TRELVIN_HOME" >/dev/null

# The data directory is the operator's: create it once, never overwrite it.
if [ ! -d "$data" ]; then
    mkdir -p "$data"
    [ -f "$TRELVIN_SRC/info/PREAMBLE-ARC.txt" ] && cp "$TRELVIN_SRC/info/PREAMBLE-ARC.txt" "$data/"
fi

cd "$TRELVIN_HOME/bin"
exec ./Trelvin "$@"
