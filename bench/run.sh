#!/usr/bin/env bash
# Runs the benchmarks inside a network namespace of their own: run.sh BUILD_DIR
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: run.sh BUILD_DIR}
exec "$top/tests/netns-run.sh" "$build/bench/bench_bus" "${@:2}"
