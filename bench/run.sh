#!/usr/bin/env bash
# Runs the benchmarks: run.sh BUILD_DIR [BUS_ROUNDS]
#  bench_bus and bench_refresh in network namespaces of their own (they start servers), then
#  bench_draw (painting device rows), bench_pages (page saving against cjpeg and img2pdf) and
#  bench_scan (the scan window's feeder run against scanimage); they need no network. Then
#  bench_web (hubd's web page), bench_print (auto-connect printing) and bench_soak (hubd under a
#  hostile peer) in network namespaces
#  of their own. Each prints ratios
#  against a reference measured in the same run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:?usage: run.sh BUILD_DIR}
"$top/tests/netns-run.sh" "$build/bench/bench_bus" "${@:2}"
echo
"$top/tests/netns-run.sh" "$build/bench/bench_refresh"
echo
"$build/bench/bench_draw"
echo
"$build/bench/bench_pages"
echo
# The scan window's feeder run against scanimage --batch, on SANE's test backend.
"$build/bench/bench_scan"
echo
# tessaro-cli scan through busd, hubd and saned against scanimage --batch over the same device.
"$top/tests/netns-run.sh" "$build/bench/bench_scan_now"
echo
echo
"$top/tests/netns-run.sh" "$build/bench/bench_web"
echo
"$top/tests/netns-run.sh" "$build/bench/bench_print"
echo
# A real printer at the server (umockdev): the job into its node against cat, and hot-plug.
"$top/tests/netns-run.sh" "$build/bench/bench_usb"
echo
# Last, since it fails the run when hubd did not hold up.
"$top/tests/netns-run.sh" "$build/bench/bench_soak"
