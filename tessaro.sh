#!/usr/bin/env bash
# Tessaro Utility: build, test and demo entry point.
#   ./tessaro.sh test    install what is missing, build, run every test (CI runs this)
#   ./tessaro.sh run     install what is missing, build, start the demo
#   ./tessaro.sh build   build only
#   ./tessaro.sh bench   build and run the benchmarks
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${TESSARO_BUILD_DIR:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)

# Debian packages the build, the tests, the demo (Xvfb for the window) and the benchmarks
# (cjpeg, img2pdf) need.
packages=(cmake g++ ninja-build pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev iproute2 util-linux procps nftables libsqlite3-dev
  libturbojpeg0-dev libjpeg62-turbo-dev libhpdf-dev poppler-utils qt6-base-dev
  libjpeg-turbo-progs img2pdf qt6-qpa-plugins xvfb xauth fonts-dejavu-core)

ensure_packages() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "tessaro.sh: installing ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_WERROR=ON >/dev/null
  cmake --build "$build" -j "$jobs"
}

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer (the programs the
# tests start included), so a memory fault fails the run instead of passing unseen.
run_sanitized() {
  local sb=$build-asan flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake -S "$top" -B "$sb" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARO_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$sb" -j "$jobs"
  ctest --test-dir "$sb" --output-on-failure -j "$jobs" --timeout 300
}

# libFuzzer targets: their own clang build; each runs for a bounded time.
run_fuzzers() {
  local fb=$build-fuzz seconds=${TESSARO_FUZZ_SECONDS:-8}
  CC=clang CXX=clang++ cmake -S "$top" -B "$fb" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DTESSARO_FUZZ=ON -DTESSARO_TESTS=OFF -DTESSARO_BENCH=OFF >/dev/null
  cmake --build "$fb" -j "$jobs" --target fuzz_all
  local corpus
  for f in $(find "$fb/tests" -type f -name 'fuzz_*' -perm -u+x | sort); do
    corpus=$(mktemp -d)
    echo "fuzz: $(basename "$f") for ${seconds}s"
    local seeds=$top/tests/fuzz/corpus/$(basename "$f")
    [ -d "$seeds" ] || seeds=
    "$f" -max_total_time="$seconds" -rss_limit_mb=1024 -print_final_stats=0 "$corpus" $seeds \
      2>"$corpus.log" ||
      { tail -n 40 "$corpus.log"; echo "fuzz: $(basename "$f") FAILED"; return 1; }
    rm -rf "$corpus" "$corpus.log"
  done
}

cmd=${1:-}
case "$cmd" in
  build)
    ensure_packages
    configure_and_build
    ;;
  test)
    ensure_packages
    configure_and_build
    ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300
    run_sanitized
    if [ -d "$top/tests/fuzz" ] && [ -f "$top/tests/fuzz/CMakeLists.txt" ]; then run_fuzzers; fi
    ;;
  run)
    ensure_packages
    configure_and_build
    exec "$top/tests/demo/demo.sh" "$build"
    ;;
  bench)
    ensure_packages
    configure_and_build
    exec "$top/bench/run.sh" "$build"
    ;;
  *)
    echo "usage: ./tessaro.sh test|run|build|bench" >&2
    exit 2
    ;;
esac
