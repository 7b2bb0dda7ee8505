#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test offscreen twice: with
# the fonts of this machine, then with DejaVu alone, the only fonts of a fresh
# Debian 12, so that a test that leans on a font fails here too. Arguments go
# to both ctest runs, e.g. scripts/test.sh -R tst_csv
set -euo pipefail
source "$(dirname "$0")/common.sh"

install_missing "${TRELVIN_PACKAGES[@]}"
install_npm
build_trelvin
export QT_QPA_PLATFORM=offscreen
cd "$TRELVIN_BUILD"

# A fontconfig set-up that finds the DejaVu folder and nothing else, with the
# system's rules (aliases, hinting) and a cache of its own.
fonts="$(mktemp -d)"
trap 'rm -rf "$fonts"' EXIT
cat >"$fonts/fonts.conf" <<CONF
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/conf.d</include>
  <reset-dirs/>
  <dir>/usr/share/fonts/truetype/dejavu</dir>
  <cachedir>$fonts/cache</cachedir>
</fontconfig>
CONF

status=0
echo "=== Tests, pass 1 of 2: the fonts installed on this machine"
ctest --output-on-failure -j2 "$@" || status=1
echo "=== Tests, pass 2 of 2: DejaVu fonts only, as on a fresh Debian 12"
FONTCONFIG_FILE="$fonts/fonts.conf" ctest --output-on-failure -j2 "$@" || status=1
exit "$status"
