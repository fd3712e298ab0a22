#!/usr/bin/env bash
# Runs the benchmarks: run.sh BUILD_DIR [BUS_ROUNDS]
#  bench_bus in a network namespace of its own (it starts servers), then bench_pages (page
#  saving against cjpeg and img2pdf; it needs no network). Both print ratios against a
#  reference measured in the same run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: run.sh BUILD_DIR}
"$top/tests/netns-run.sh" "$build/bench/bench_bus" "${@:2}"
echo
"$build/bench/bench_pages"
