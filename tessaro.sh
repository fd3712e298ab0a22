#!/usr/bin/env bash
# Tessaro Utility: build, test and demo entry point.
#   ./tessaro.sh test    install what is missing, build, run every test (CI runs this)
#   ./tessaro.sh run     install what is missing, build, start the demo
#   ./tessaro.sh build   build only
#   ./tessaro.sh bench   build and run the benchmarks
#   ./tessaro.sh package build the Debian packages (tessaro, tessaro-hubd) into ../
#   ./tessaro.sh test --packages   every test, then the packages built, unpacked into a
#                        throwaway root and checked, then installed into a Debian 12 root and
#                        their services checked under systemd
#   ./tessaro.sh install write the installed version into the machine hive and add the desktop
#                        and autostart ("-mini") entries for the built client
set -euo pipefail
top=$(cd "$(dirname "$0")" && pwd)
build=${TESSARO_BUILD_DIR:-$top/build}
jobs=$(nproc 2>/dev/null || echo 2)
# Most tests wait on daemons, CUPS and timers rather than the processor: twice as many at once
# as there are cores halves the run and leaves the cores still short of full.
test_jobs=$((jobs * 2))

# Debian packages the build, the tests, the demo (Xvfb for the window) and the benchmarks
# (cjpeg, img2pdf) need; libsodium for the PCs' keys, CUPS and SANE with the daemons and tools
# the tests run privately; systemd, desktop-file-utils, appstream, man-db and scdoc build and
# check what an installation puts in place; gdb prints the stacks of a test that hangs; mold links.
packages=(cmake g++ ninja-build mold pkg-config libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev iproute2 util-linux procps nftables libsqlite3-dev
  libturbojpeg0-dev libjpeg62-turbo-dev libhpdf-dev poppler-utils qt6-base-dev
  libjpeg-turbo-progs img2pdf qt6-qpa-plugins xvfb xauth fonts-dejavu-core trayer imagemagick
  sqlite3 libsodium-dev cups-daemon cups-client cups-ipp-utils libcups2-dev libsane1 sane-utils
  libsane-dev libmicrohttpd-dev libcurl4-openssl-dev libpugixml-dev libexpected-dev libudev-dev
  umockdev libumockdev-dev
  systemd desktop-file-utils appstream man-db scdoc gdb)
# Only the demo needs these: headless Chromium renders a device server's page.
demo_packages=(chromium xdg-utils)
# Only the Debian packages need these; mmdebstrap and systemd-container make the Debian 12 root
# the packaged-install check boots systemd in.
package_packages=(debhelper dpkg-dev fakeroot lintian build-essential mmdebstrap systemd-container)
# Only the benchmarks need this: CUPS's own socket backend is the print data path's reference.
bench_packages=(cups)

ensure_packages() {
  local missing=() wanted=("${packages[@]}" "$@")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "tessaro.sh: installing ${missing[*]}" >&2
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Full debug information made a third of an optimised compile; line tables (-g1) still give the
# watchdog's stacks and the sanitizers' reports their functions, files and lines.
configure_and_build() {
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARO_WERROR=ON \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    >/dev/null
  cmake --build "$build" -j "$jobs"
}

# Every test again, built with AddressSanitizer and UndefinedBehaviorSanitizer (the programs the
# tests start included), so a memory fault fails the run instead of passing unseen.
run_sanitized() {
  local sb=$build-asan flags="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
  cmake -S "$top" -B "$sb" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARO_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
  cmake --build "$sb" -j "$jobs"
  LSAN_OPTIONS=suppressions=$top/tests/lsan.supp \
    ctest --test-dir "$sb" --output-on-failure -j "$test_jobs" --timeout 300
}

# libFuzzer targets: their own clang build; each runs for a bounded time, as many at once as
# there are cores (a target uses one).
run_fuzzers() {
  local fb=$build-fuzz seconds=${TESSARO_FUZZ_SECONDS:-5}
  CC=clang CXX=clang++ cmake -S "$top" -B "$fb" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
    -DTESSARO_FUZZ=ON -DTESSARO_TESTS=OFF -DTESSARO_BENCH=OFF >/dev/null
  cmake --build "$fb" -j "$jobs" --target fuzz_all
  find "$fb/tests" -type f -name 'fuzz_*' -perm -u+x | sort |
    FUZZ_SECONDS=$seconds SEEDS=$top/tests/fuzz/corpus xargs -P "$jobs" -I{} bash -c '
      f={}; name=$(basename "$f"); corpus=$(mktemp -d); seeds=$SEEDS/$name
      [ -d "$seeds" ] || seeds=
      if "$f" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=1024 -print_final_stats=0 \
          "$corpus" $seeds 2>"$corpus.log"; then
        echo "fuzz: $name for ${FUZZ_SECONDS}s"; rm -rf "$corpus" "$corpus.log"
      else
        tail -n 40 "$corpus.log"; echo "fuzz: $name FAILED"; exit 255
      fi'
}

# What an installer does for the client: the product version goes into the machine hive (the
# client only reads it), and the desktop starts the client from its menu and, with "-mini", at
# log-in. The client itself never adds or removes the autostart entry.
product_version=1.0
install_client() {
  local hive=${TESSARO_MACHINE_HIVE:-/var/lib/tessaro/machine.hive}
  local exe=$build/app/tessaro-utility
  mkdir -p "$(dirname "$hive")"
  [ -n "${TESSARO_MACHINE_HIVE:-}" ] || chmod 0755 "$(dirname "$hive")"
  sqlite3 "$hive" <<SQL >/dev/null
.timeout 5000
PRAGMA synchronous=FULL;
CREATE TABLE IF NOT EXISTS reg_key (path TEXT PRIMARY KEY COLLATE NOCASE);
CREATE TABLE IF NOT EXISTS reg_value (key TEXT NOT NULL COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data BLOB NOT NULL,
  PRIMARY KEY (key, name));
BEGIN;
INSERT OR IGNORE INTO reg_key(path) VALUES (''), ('Software'), ('Software\\Corvana'),
  ('Software\\Corvana\\Tessaro Utility');
INSERT INTO reg_value(key, name, type, data)
  VALUES ('Software\\Corvana\\Tessaro Utility', 'Product Version', 1,
          CAST('$product_version' AS BLOB))
  ON CONFLICT(key, name) DO UPDATE SET type = excluded.type, data = excluded.data;
COMMIT;
SQL
  chmod 0644 "$hive"
  local apps=${XDG_DATA_HOME:-$HOME/.local/share}/applications
  local autostart=${XDG_CONFIG_HOME:-$HOME/.config}/autostart
  mkdir -p "$apps" "$autostart"
  desktop_entry "$exe" >"$apps/tessaro-utility.desktop"
  desktop_entry "$exe -mini" >"$autostart/tessaro-utility.desktop"
  echo "tessaro.sh: installed version $product_version into $hive; desktop entries in $apps and $autostart"
}

desktop_entry() {  # desktop_entry COMMAND
  cat <<EOF
[Desktop Entry]
Type=Application
Name=Tessaro Utility
Comment=Use the printers, scanners and storage devices of the network's USB device servers
Exec=$1
Icon=printer
Terminal=false
Categories=Utility;
EOF
}

# Builds the packages the Debian way from a copy of the tree (the build leaves files behind in
# debian/), and puts the .deb files into the folder given.
# The copy lies in the same place each time (one build at a time, under a lock), so that ccache,
# where installed, finds the previous build's objects: the build's flags name that folder.
build_packages() {  # build_packages OUTPUT_FOLDER
  local out work cache=${TESSARO_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tessaro}
  out=$(mkdir -p "$1" && cd "$1" && pwd)
  mkdir -p "$cache"
  work=$cache/package-build
  exec 9>"$cache/package-build.lock"
  flock 9
  rm -rf "$work" && mkdir -p "$work"
  git -C "$top" archive --format=tar --prefix=tessaro/ HEAD | tar -x -C "$work"
  local launcher=()
  command -v ccache >/dev/null &&
    launcher=(CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache)
  (cd "$work/tessaro" && env "${launcher[@]}" DEB_BUILD_OPTIONS="parallel=$jobs nocheck" \
    dpkg-buildpackage -b -us -uc) || { rm -rf "$work"; exec 9>&-; return 1; }
  cp "$work"/*.deb "$work"/*.changes "$work"/*.buildinfo "$out"/
  lintian --fail-on error,warning "$work"/tessaro_*.deb "$work"/tessaro-hubd_*.deb ||
    { rm -rf "$work"; exec 9>&-; return 1; }
  rm -rf "$work"
  exec 9>&-
  echo "tessaro.sh: packages in $out"
}

cmd=${1:-}
case "$cmd" in
  build)
    ensure_packages
    configure_and_build
    ;;
  test)
    with_packages=no
    [ "${2:-}" = --packages ] && with_packages=yes
    [ $with_packages = no ] || ensure_packages "${package_packages[@]}"
    ensure_packages
    configure_and_build
    ctest --test-dir "$build" --output-on-failure -j "$test_jobs" --timeout 300
    run_sanitized
    if [ -d "$top/tests/fuzz" ] && [ -f "$top/tests/fuzz/CMakeLists.txt" ]; then run_fuzzers; fi
    [ $with_packages = no ] || "$top/tests/packaging/check-packages.sh" "$top"
    [ $with_packages = no ] || "$top/tests/packaging/check-systemd.sh" "$top"
    ;;
  package)
    ensure_packages "${package_packages[@]}"
    build_packages "${2:-$top/..}"
    ;;
  run)
    ensure_packages "${demo_packages[@]}"
    configure_and_build
    exec "$top/tests/demo/demo.sh" "$build"
    ;;
  install)
    install_client
    ;;
  bench)
    ensure_packages "${bench_packages[@]}"
    configure_and_build
    exec "$top/bench/run.sh" "$build"
    ;;
  *)
    echo "usage: ./tessaro.sh test [--packages]|run|build|bench|package [FOLDER]|install" >&2
    exit 2
    ;;
esac
