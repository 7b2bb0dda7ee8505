#!/usr/bin/env bash
# Builds in Release and runs the benchmarks offscreen; `--quick` stops at
# 10,000 contacts. Prints a table and one JSON object per measure.
set -euo pipefail

TRELVIN_BUILD="${TRELVIN_BUILD:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build-release}"
# shellcheck source=scripts/common.sh
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

install_missing "${TRELVIN_PACKAGES[@]}"
build_trelvin Release

# The club server's figures come from a program of their own (programs on a
# throwaway PostgreSQL), and the live page's from another (trelvin-web with
# 1,000 open pages): `--only club` or `--only web` runs one alone, an
# `--only` list without them leaves them out.
run_main=1 run_club=1 run_web=1 club_args=() previous=""
for arg in "$@"; do
    if [ "$previous" = "--only" ]; then
        [[ ",$arg," == *,club,* ]] || run_club=0
        [[ ",$arg," == *,web,* ]] || run_web=0
        [ "$arg" != "club" ] && [ "$arg" != "web" ] && [ "$arg" != "club,web" ] && [ "$arg" != "web,club" ] || run_main=0
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
if [ "$run_web" = 1 ]; then
    "$TRELVIN_BUILD/bench/trelvin_bench_web"
fi
