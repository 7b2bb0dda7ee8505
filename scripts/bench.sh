#!/usr/bin/env bash
# Builds in Release and runs the benchmarks offscreen; `--quick` stops at
# 10,000 contacts. Prints a table and one JSON object per measure.
set -euo pipefail

TRELVIN_BUILD="${TRELVIN_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-release}"
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing "${TRELVIN_PACKAGES[@]}"
build_trelvin Release

# The club server's figures come from a program of their own (two programs
# on a throwaway PostgreSQL): `--only club` runs it alone, an `--only` list
# without "club" leaves it out.
run_main=1 run_club=1 club_args=() previous=""
for arg in "$@"; do
    if [ "$previous" = "--only" ]; then
        [[ ",$arg," == *,club,* ]] || run_club=0
        [ "$arg" != "club" ] || run_main=0
    fi
    [ "$arg" != "--quick" ] || club_args+=(--quick)
    previous="$arg"
done
if [ "$run_main" = 1 ]; then
    QT_QPA_PLATFORM=offscreen "$TRELVIN_BUILD/bench/trelvin_bench" "$@"
fi
if [ "$run_club" = 1 ]; then
    QT_QPA_PLATFORM=offscreen "$TRELVIN_BUILD/bench/trelvin_bench_club" "${club_args[@]}"
fi
