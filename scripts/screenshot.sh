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

work="$(mktemp -d)"
xvfb_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# --- a runtime folder, a home and settings of its own ------------------------
home="$work/home"
cmake --install "$TRELVIN_BUILD" --prefix "$home/Trelvin" >/dev/null
data="$home/Trelvin/Programs/Trelvin/Data"
mkdir -p "$data" "$home/.config/Quenlor" "$work/run"
chmod 700 "$work/run"
cp "$TRELVIN_SRC/info/PREAMBLE-ARC.txt" "$data/"
# A roster with two members, so that "Mem" shows both answers.
printf '"Call"\n"W7NCS"\n"K7ABC"\n' >"$data/Roster-ARC.csv"
# No network: QRZ and HamQTH on a port of this machine where nothing listens.
printf '[Main]\nQrzServer=http://127.0.0.1:9\nHamQthServer=http://127.0.0.1:9\n' \
    >"$home/.config/Quenlor/Trelvin.ini"

export HOME="$home"
export XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share" XDG_RUNTIME_DIR="$work/run"
unset XDG_CACHE_HOME QT_QPA_PLATFORM
# No keyring: a session bus that is not there, as on a machine without a desktop.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"

title="Net Logging for Amateur Radio Clubs: Trelvin V"

# Waits for the main window, answering the first start's boxes with Enter.
main_window=
await_main_window() {
    local quiet=0 w name answered
    for _ in $(seq 300); do
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended before its window was seen"
        answered=no
        for w in $(xdotool search --onlyvisible --pid "$app_pid" --name '' 2>/dev/null || true); do
            name="$(xdotool getwindowname "$w" 2>/dev/null || true)"
            if [[ "$name" == "$title"* ]]; then
                main_window="$w"
            elif [ -n "$name" ]; then
                echo "answered: $name"
                xdotool windowfocus "$w" 2>/dev/null || true
                sleep 0.2
                xdotool key Return
                answered=yes
            fi
        done
        if [ -n "$main_window" ] && [ "$answered" = no ]; then
            quiet=$((quiet + 1))
            [ "$quiet" -ge 10 ] && return 0
        else
            quiet=0
        fi
        sleep 0.2
    done
    fail "no main window within a minute"
}

(cd "$home/Trelvin/bin" && exec ./Trelvin) >"$work/trelvin.log" 2>&1 &
app_pid=$!
await_main_window
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
