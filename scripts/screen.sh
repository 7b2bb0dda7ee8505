# Shared by the screenshot scripts: a throwaway folder and home for the
# program (never the operator's), its own Xvfb, and the wait for a window.
# shellcheck shell=bash

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

main_title="Net Logging for Amateur Radio Clubs: Trelvin V"

# The built program in a runtime folder of a throwaway home: sets `home` and
# `data` (the data directory, with the club's preamble in it).
install_runtime() {
    home="$work/home"
    cmake --install "$TRELVIN_BUILD" --prefix "$home/Trelvin" >/dev/null
    data="$home/Trelvin/Programs/Trelvin/Data"
    mkdir -p "$data" "$home/.config/Quenlor" "$work/run"
    chmod 700 "$work/run"
    cp "$TRELVIN_SRC/info/PREAMBLE-ARC.txt" "$data/"
}

# The throwaway home's environment, then Xvfb: exports DISPLAY.
start_display() {
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
}

start_program() {
    (cd "$home/Trelvin/bin" && exec ./Trelvin) >"$work/trelvin.log" 2>&1 &
    app_pid=$!
}

# await_window GLOB: waits until the program shows a window whose title
# matches GLOB and nothing else asks for an answer; its id in `window`.
# Every other titled window but the main one (the first start's boxes) is
# answered with Enter.
window=
await_window() {
    local wanted="$1" quiet=0 w name answered
    window=
    for _ in $(seq 300); do
        kill -0 "$app_pid" 2>/dev/null || fail "the program ended before its window was seen"
        answered=no
        for w in $(xdotool search --onlyvisible --pid "$app_pid" --name '' 2>/dev/null || true); do
            name="$(xdotool getwindowname "$w" 2>/dev/null || true)"
            # shellcheck disable=SC2053 # a glob, on purpose
            if [[ "$name" == $wanted ]]; then
                window="$w"
            elif [ -n "$name" ] && [[ "$name" != "$main_title"* ]]; then
                echo "answered: $name"
                xdotool windowfocus "$w" 2>/dev/null || true
                sleep 0.2
                xdotool key Return
                answered=yes
            fi
        done
        if [ -n "$window" ] && [ "$answered" = no ]; then
            quiet=$((quiet + 1))
            [ "$quiet" -ge 10 ] && return 0
        else
            quiet=0
        fi
        sleep 0.2
    done
    fail "no window \"$wanted\" within a minute"
}
