#!/usr/bin/env bash
# Checks the Debian package as an operator meets it: installs it, starts
# /usr/bin/Trelvin from / under Xvfb and then through the Exec line of its
# desktop entry, sees the main window each time (answering the first-start
# boxes with Enter), quits through File > Exit, removes the package and sees
# the user's data left in place.
#
#   scripts/check-package.sh [--extract] [trelvin_<version>_<arch>.deb]
#
# By default the package is installed on this machine with apt-get (root or
# sudo) and removed again at the end. --extract unpacks it into a temporary
# root with dpkg-deb instead and installs only its dependencies. Without a
# package, scripts/package.sh builds one. The user is a temporary home
# folder; the QRZ server is pointed at a closed port on this machine.
set -euo pipefail
source "$(dirname "$0")/common.sh"

mode=machine
deb=
for arg in "$@"; do
    case "$arg" in
        --extract) mode=extract ;;
        *) deb="$(realpath "$arg")" ;;
    esac
done
if [ -z "$deb" ]; then
    deb="$("$(dirname "$0")/package.sh" | tee /dev/stderr | tail -n 1)"
fi
[ -f "$deb" ] || { echo "No package: $deb" >&2; exit 1; }

install_missing xvfb xdotool
# The package's own dependencies, first alternatives without versions: for
# --extract nothing else brings them.
mapfile -t depends < <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' | grep .)
[ "$mode" = extract ] && install_missing "${depends[@]}"

work="$(mktemp -d)"
xvfb_pid=
app_pid=
installed=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    if [ -n "$installed" ]; then
        as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq trelvin >/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# --- install -----------------------------------------------------------------
if [ "$mode" = machine ]; then
    prefix=/usr
    echo "=== Installing $deb on this machine"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >/dev/null
    installed=yes
else
    prefix="$work/root/usr"
    echo "=== Unpacking $deb into $work/root"
    dpkg-deb -x "$deb" "$work/root"
fi
for file in bin/Trelvin share/trelvin/Info/State_Info.csv share/applications/trelvin.desktop \
    share/icons/hicolor/48x48/apps/trelvin.png share/icons/hicolor/scalable/apps/trelvin.svg; do
    [ -e "$prefix/$file" ] || fail "the package has no $prefix/$file"
done

# --- a new user, a display ---------------------------------------------------
export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME QT_QPA_PLATFORM
export XDG_RUNTIME_DIR="$work/run"
mkdir -p "$HOME/.config/Quenlor" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '[Main]\nQrzServer=http://127.0.0.1:9\n' >"$HOME/.config/Quenlor/Trelvin.ini"
data="$HOME/.local/share/Quenlor/Trelvin"

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"

title="Net Logging for Amateur Radio Clubs: Trelvin V"

# Waits for the main window of $app_pid, answering every other window (the
# message boxes of a start) with Enter; prints the titles answered.
main_window=
boxes=()
await_main_window() {
    main_window=
    boxes=()
    local quiet=0 w name
    for _ in $(seq 300); do
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended before its window was seen"
        local answered=no
        for w in $(xdotool search --onlyvisible --pid "$app_pid" --name '' 2>/dev/null || true); do
            name="$(xdotool getwindowname "$w" 2>/dev/null || true)"
            if [[ "$name" == "$title"* ]]; then
                main_window="$w"
            elif [ -n "$name" ]; then
                boxes+=("$name")
                xdotool windowfocus "$w" 2>/dev/null || true
                sleep 0.2
                xdotool key Return
                answered=yes
            fi
        done
        # Seen, and no box for two seconds: the start is over.
        if [ -n "$main_window" ] && [ "$answered" = no ]; then
            quiet=$((quiet + 1))
            [ "$quiet" -ge 10 ] && return 0
        else
            quiet=0
        fi
        sleep 0.2
    done
    fail "no main window within a minute (boxes: ${boxes[*]:-none})"
}

# File > Exit, as an operator would, so that the settings are written and the
# data directory is released.
quit_program() {
    xdotool windowfocus "$main_window" 2>/dev/null || true
    xdotool mousemove --window "$main_window" 18 10 click 1
    sleep 0.5
    # Exit is the last entry of the File menu.
    xdotool key Up Return
    for _ in $(seq 100); do
        kill -0 "$app_pid" 2>/dev/null || break
        sleep 0.2
    done
    kill -0 "$app_pid" 2>/dev/null && fail "the program did not end after File > Exit"
    local status=0
    wait "$app_pid" || status=$?
    app_pid=
    [ "$status" -eq 0 ] || fail "the program ended with status $status"
    # The exit sequence ran once, against open databases.
    if grep -q "is not open" "$data/errorLog.txt"; then
        fail "the exit wrote into closed databases: $(tail -n 1 "$data/errorLog.txt")"
    fi
}

# --- first start: from /, as a new user -------------------------------------
echo "=== Starting $prefix/bin/Trelvin from /"
(cd / && exec "$prefix/bin/Trelvin") >"$work/first.log" 2>&1 &
app_pid=$!
await_main_window
echo "main window seen: '$(xdotool getwindowname "$main_window")'; boxes answered: ${boxes[*]:-none}"
[[ " ${boxes[*]} " == *" New Contacts Database "* ]] || fail "no 'New Contacts Database' box at the first start"
[ -f "$data/PREAMBLE-ARC.txt" ] || fail "no sample net script in $data"
quit_program
[ -f "$data/Contacts.db" ] || fail "no Contacts.db in $data"
grep -q "^DataDirectory=$data\$" "$HOME/.config/Quenlor/Trelvin.ini" || fail "the settings do not name $data"
echo "data directory: $(ls "$data" | tr '\n' ' ')"

# --- second start: the desktop entry's Exec line ------------------------------
exec_line="$(sed -n 's/^Exec=//p' "$prefix/share/applications/trelvin.desktop" | head -n 1 | sed 's/ *%[fFuUick]//g')"
[ -n "$exec_line" ] || fail "the desktop entry has no Exec line"
echo "=== Starting the desktop entry's Exec line '$exec_line' from $HOME"
(cd "$HOME" && PATH="$prefix/bin:$PATH" exec sh -c "exec $exec_line") >"$work/second.log" 2>&1 &
app_pid=$!
await_main_window
echo "main window seen; boxes answered: ${boxes[*]:-none}"
[[ " ${boxes[*]} " == *" New Contacts Database "* ]] && fail "Contacts.db was not found again at the second start"
quit_program
before="$(sha256sum "$data/Contacts.db" "$data/PREAMBLE-ARC.txt")"

# --- removal -----------------------------------------------------------------
if [ "$mode" = machine ]; then
    echo "=== Removing the package"
    as_root env DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq trelvin >/dev/null
    installed=
    [ -e /usr/bin/Trelvin ] && fail "/usr/bin/Trelvin is still there"
    [ -e /usr/share/trelvin ] && fail "/usr/share/trelvin is still there"
else
    echo "=== Removing the unpacked root"
    rm -rf "$work/root"
fi
[ "$(sha256sum "$data/Contacts.db" "$data/PREAMBLE-ARC.txt")" = "$before" ] || fail "the user's data changed on removal"
echo "user's data left in place: $(ls "$data" | tr '\n' ' ')"
echo "=== Package check passed"
