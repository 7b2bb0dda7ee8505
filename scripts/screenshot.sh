#!/usr/bin/env bash
# Makes the README's picture of a net in progress: builds the program, starts
# it under its own Xvfb with a throwaway runtime folder, home and settings
# (never the operator's), checks a few stations in by keys as an operator
# would, and writes the main window as a PNG.
#
#   scripts/screenshot.sh [out.png]        (default docs/net.png)
set -euo pipefail
source "$(dirname "$0")/common.sh"

out="$(realpath -m "${1:-$TRELVIN_SRC/docs/net.png}")"

install_missing "${TRELVIN_PACKAGES[@]}"
# xvfb: the display; xdotool: the keys; imagemagick: import takes the picture.
install_missing xvfb xdotool imagemagick

cmake -S "$TRELVIN_SRC" -B "$TRELVIN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$TRELVIN_BUILD" -j2 --target Trelvin

# shellcheck source=scripts/screen.sh
source "$(dirname "$0")/screen.sh"

# --- a runtime folder, a home and settings of its own ------------------------
install_runtime
# A roster with two members, so that "Mem" shows both answers.
printf '"Call"\n"W7NCS"\n"K7ABC"\n' >"$data/Roster-ARC.csv"
# No network: QRZ and HamQTH on a port of this machine where nothing listens.
printf '[Main]\nQrzServer=http://127.0.0.1:9\nHamQthServer=http://127.0.0.1:9\n' \
    >"$home/.config/Quenlor/Trelvin.ini"

start_display
start_program
await_window "$main_title*"
main_window="$window"
xdotool windowfocus --sync "$main_window"
sleep 0.5

keys() { xdotool key --delay 60 "$@"; sleep 0.3; }
typed() { xdotool type --delay 40 "$1"; sleep 0.3; }

# One station: its call in Call Search (unknown: it goes to the Call field),
# Tab to Name, then name, city and state with Enter between them, a comment
# and Enter in QSO to check it in.
check_in() {
    keys Escape
    typed "$1"
    keys Tab Tab
    typed "$2"
    keys Return
    typed "$3"
    keys Return
    typed "$4"
    keys Return
    typed "$5"
    keys Return
}

check_in W7NCS Dana "Salt Lake City" UT "net control tonight"
keys Escape
typed W7NCS
keys F7
check_in K7ABC Lee Provo UT ""
check_in N7XYZ Maria Ogden UT "mobile on I-15"
keys Escape
typed N7XYZ
keys F2
check_in KD7QRS Sam Logan UT "traffic for the net"
keys Escape
typed KD7QRS
keys F1
check_in AB7CD Pat "St George" UT ""
# The last station shown, not yet checked in, as the next one calls.
keys Escape
typed K7A

mkdir -p "$(dirname "$out")"
import -window "$main_window" "$out"
echo "$out"
