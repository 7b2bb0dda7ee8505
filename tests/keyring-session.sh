#!/bin/sh
# Runs a test in a D-Bus session of its own with a Secret Service
# (gnome-keyring-daemon) unlocked in it, in a home of its own, so that the
# operator's keyring is never touched. Both end with the test.
set -u
home=$(mktemp -d "${TMPDIR:-/tmp}/trelvin-keyring.XXXXXX") || exit 1
trap 'rm -rf "$home"' EXIT
export HOME="$home" XDG_DATA_HOME="$home/data" XDG_CONFIG_HOME="$home/config" XDG_CACHE_HOME="$home/cache"
export XDG_RUNTIME_DIR="$home/run" TRELVIN_TEST_KEYRING=1
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
# No X display: nothing may try to show a keyring prompt.
unset DISPLAY WAYLAND_DISPLAY
dbus-run-session -- sh -c 'printf %s test | gnome-keyring-daemon --unlock --components=secrets >/dev/null || exit 1
exec "$@"' keyring-session "$@"
