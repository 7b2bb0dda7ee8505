#!/usr/bin/env bash
# Installs what is missing, builds the program alone (Debian's hardening
# flags, no tests) into build-package/, makes the Debian package with CPack
# and checks it: lintian without errors, the AppStream metainfo valid.
# Prints the package's path on the last line.
set -euo pipefail

TRELVIN_BUILD="${TRELVIN_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-package}"
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# dpkg-dev: dpkg-shlibdeps and dpkg-buildflags; file: CPack's strip step.
install_missing "${TRELVIN_PACKAGES[@]}" dpkg-dev file lintian appstream

# The flags Debian builds its own packages with (optimisation, stack
# protector, fortify, read-only relocations); the source paths they record
# are relative to the source folder.
cd "$TRELVIN_SRC"
cmake -S "$TRELVIN_SRC" -B "$TRELVIN_BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRELVIN_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$TRELVIN_BUILD" -j2

cd "$TRELVIN_BUILD"
rm -f trelvin_*.deb
cpack -G DEB >/dev/null
deb="$(ls "$TRELVIN_BUILD"/trelvin_*.deb)"

echo "=== lintian"
# Warnings and notes are shown; only errors fail.
lintian --fail-on error --tag-display-limit 0 "$deb"

echo "=== appstreamcli validate"
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml

dpkg-deb --info "$deb" | sed -n '/Package:/,$p'
echo "$deb"
