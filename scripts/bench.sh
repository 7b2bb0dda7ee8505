#!/usr/bin/env bash
# Builds in Release and runs the benchmarks offscreen; `--quick` stops at
# 10,000 contacts. Prints a table and one JSON object per measure.
set -euo pipefail

TRELVIN_BUILD="${TRELVIN_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-release}"
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing "${TRELVIN_PACKAGES[@]}"
build_trelvin Release

QT_QPA_PLATFORM=offscreen "$TRELVIN_BUILD/bench/trelvin_bench" "$@"
