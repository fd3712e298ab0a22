#!/usr/bin/env bash
# The demo: busd and two device servers on 127.0.0.2 and 127.0.0.3, inside a network namespace
# of their own with only loopback up; what tessaro-cli shows of servers and devices; then the
# client. Without a display (or with TESSARO_DEMO_XVFB=1) the client runs on Xvfb with a tray
# host, a screenshot is saved and the demo ends; with a display it runs until it is closed.
#   demo.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
build=${1:?usage: demo.sh BUILD_DIR}
if [ -z "${TESSARO_DEMO_INSIDE:-}" ]; then
  export TESSARO_DEMO_INSIDE=1
  exec "$top/tests/netns-run.sh" bash "$0" "$build"
fi

demo=$(mktemp -d /tmp/tessaro-demo.XXXXXX)
mkdir -p /tmp/tessaro-demo-prints
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$demo"
}
trap cleanup EXIT

wait_for() {  # wait_for FILE TEXT
  for _ in $(seq 1 250); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.02; done
  echo "demo: timed out waiting for '$2' in $1" >&2; cat "$1" >&2; return 1
}

export TESSARO_RUNTIME_DIR=$demo/run TESSARO_COMPUTERNAME=DEMO-PC
export TESSARO_USER_HIVE=$demo/user.hive TESSARO_MACHINE_HIVE=$demo/machine.hive
export TESSARO_LOCK_DIR=$demo/lock XDG_RUNTIME_DIR=$demo/xdg XDG_CONFIG_HOME=$demo/config
export XDG_DATA_HOME=$demo/data
mkdir -p "$XDG_RUNTIME_DIR" && chmod 0700 "$XDG_RUNTIME_DIR"
for hub in hub-one hub-two; do
  "$build/hubd/tessaro-hubd" --config "$top/tests/fixtures/demo/$hub.conf" \
    --pins "$demo/$hub.pins" 2>"$demo/$hub.log" &
  pids+=($!)
  wait_for "$demo/$hub.log" "hubd: ready"
done
# STUDIO-HUB's MFP and scanner are served by saned on the server's own address, with SANE's test
# backend standing in for the devices; this PC reaches them through SANE's net backend.
mkdir -p "$demo/saned" "$demo/sane"
echo test >"$demo/saned/dll.conf"
printf 'number_of_devices 2\nresolution 75.0\n' >"$demo/saned/test.conf"
echo 127.0.0.0/8 >"$demo/saned/saned.conf"
echo net >"$demo/sane/dll.conf"
printf 'connect_timeout = 3\n127.0.0.3\n' >"$demo/sane/net.conf"
SANE_CONFIG_DIR=$demo/saned /usr/sbin/saned -l -b 127.0.0.3 -p 6566 2>"$demo/saned.log" &
pids+=($!)
export SANE_CONFIG_DIR=$demo/sane
"$build/busd/tessaro-busd" --server 127.0.0.2 --server 127.0.0.3 --group root 2>"$demo/busd.log" &
pids+=($!)
wait_for "$demo/busd.log" "busd: ready"

cli=$build/cli/tessaro-cli
for _ in $(seq 1 100); do
  [ "$("$cli" servers 2>/dev/null | grep -c .)" -ge 2 ] && break; sleep 0.05
done
echo "== Servers"
"$cli" servers
for ip in 127.0.0.2 127.0.0.3; do "$cli" attach "$ip" >/dev/null; done
for _ in $(seq 1 100); do
  [ "$("$cli" spurs 2>/dev/null | grep -c .)" -ge 2 ] && break; sleep 0.05
done
echo "== Buses"
"$cli" spurs
for ip in 127.0.0.2 127.0.0.3; do
  echo "== Devices on $ip"
  "$cli" devices "$ip"
done

# Scan Now without windows: a page from the MFP's document feeder. Windows knows a device as a
# scanner once it has been connected, so it is connected once first.
scans=${TESSARO_DEMO_SCANS:-/tmp/tessaro-demo-scans}
mkdir -p "$scans"
"$cli" link 127.0.0.3 1 >/dev/null && "$cli" unlink 127.0.0.3 1 >/dev/null
echo "== Scan Now from the command line"
if scanned=$("$cli" scan 127.0.0.3 1 "$scans" --name Demo --resolution 75 2>"$demo/scan.log"); then
  echo "demo: STUDIO-HUB's MFP scanned a page into $(echo "$scanned" | head -n 1)"
else
  echo "demo: the scan failed:" >&2
  cat "$demo/scan.log" >&2
fi

# The page every device server serves, as a browser shows it.
page_shot=${TESSARO_DEMO_PAGE_SHOT:-/tmp/tessaro-hub-page.png}
if command -v chromium >/dev/null; then
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1000,640 \
    --virtual-time-budget=3000 --screenshot="$page_shot" http://127.0.0.2/ >"$demo/chromium.log" 2>&1 &&
    echo "demo: OFFICE-HUB's page (http://127.0.0.2/) rendered by headless Chromium: $page_shot"
fi

TESSARO_BUILD_DIR=$build "$top/tessaro.sh" install
# The user has enabled both servers (their entries in the user hive), so the client lists their
# devices at once.
"$build/tests/demo/demo_enable_servers" OFFICE-HUB=127.0.0.2=00:1C:F0:AA:0B:01 \
  STUDIO-HUB=127.0.0.3=00:1C:F0:AA:0B:02

# A private cupsd with a queue on the demo printer, stored as an auto-connect printer: the client's
# print monitor holds the queue and, when a job waits, connects the printer by itself.
"$build/tests/demo/demo_cups" "$TESSARO_RUNTIME_DIR" "$build/cups-backend/tessaro" demo-laser \
  "tessaro://00-1C-F0-AA-0B-01/04F9/0042?serial=LW2040-00731" "$build/cups-notifier/tessaro" \
  >"$demo/cups.out" 2>"$demo/cups.log" &
pids+=($!)
wait_for "$demo/cups.out" "cups: ready"
CUPS_SERVER=$(sed -n 's/^cups: ready //p' "$demo/cups.out")
export CUPS_SERVER
echo "== Auto-connect printer"
"$cli" auto-print add 127.0.0.2 1 demo-laser
"$cli" auto-print list
page=$demo/page.txt
printf 'Tessaro Utility demo page\nPrinted through CUPS to OFFICE-HUB with nobody pressing Connect.\n' >"$page"
prints_before=$(ls /tmp/tessaro-demo-prints | grep -c "DEMO-PC.prn" || true)
# Prints the page and says where the device server wrote the job (at most 30 s).
print_page() {
  lp -d demo-laser "$page"
  for _ in $(seq 1 300); do
    [ "$(ls /tmp/tessaro-demo-prints | grep -c "DEMO-PC.prn" || true)" -gt "$prints_before" ] && break
    sleep 0.1
  done
  local file
  file=$(ls -t /tmp/tessaro-demo-prints/*-DEMO-PC.prn 2>/dev/null | head -n 1)
  if [ -n "$file" ] && cmp -s "$file" "$page"; then
    echo "demo: the page arrived at OFFICE-HUB, in $file"
  else
    echo "demo: the page did not arrive; lpstat says:" >&2
    lpstat -l -p demo-laser >&2 || true
  fi
}

client=$build/app/tessaro-utility
# The server menu's "Configuration..." opens the server's page through xdg-open, which takes the
# browser from BROWSER; as root Chromium runs only without its sandbox.
if [ -z "${BROWSER:-}" ] && command -v chromium >/dev/null; then
  if [ "$(id -u)" = 0 ]; then export BROWSER="chromium --no-sandbox %s"; else export BROWSER=chromium; fi
fi
if [ -n "${DISPLAY:-}" ] && [ -z "${TESSARO_DEMO_XVFB:-}" ]; then
  echo "== The client (close it from its tray menu: Exit); a page is printed meanwhile"
  (sleep 5 && print_page) &
  "$client"
  exit 0
fi

shot=${TESSARO_DEMO_SHOT:-/tmp/tessaro-demo-shot.png}
export DISPLAY=:77
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp 2>"$demo/xvfb.log" &
pids+=($!)
for _ in $(seq 1 100); do [ -e /tmp/.X11-unix/X77 ] && break; sleep 0.05; done
trayer --edge top --align right --widthtype request --height 24 --SetDockType true \
  --transparent false 2>"$demo/trayer.log" &
pids+=($!)
sleep 0.5
TESSARO_TRACE=1 "$client" >"$demo/client.log" 2>&1 &
pids+=($!)
wait_for "$demo/client.log" "main window shown"
sleep 1.5
import -window root "$shot"
echo "== The client"
grep "tessaro-utility:" "$demo/client.log" || true
echo "demo: screenshot of the client on Xvfb: $shot"

echo "== A page printed while the window runs"
print_page

# Another PC takes the printer; the client's row follows by the driver's events.
"$build/busd/tessaro-busd" --runtime-dir "$demo/run-lab" --computer-name LAB-PC \
  --machine-hive "$demo/machine-lab.hive" --server 127.0.0.2 --no-discovery --group root \
  2>"$demo/busd-lab.log" &
pids+=($!)
wait_for "$demo/busd-lab.log" "busd: ready"
lab() { TESSARO_RUNTIME_DIR=$demo/run-lab TESSARO_COMPUTERNAME=LAB-PC "$cli" "$@"; }
for _ in $(seq 1 100); do lab servers 2>/dev/null | grep -q "state 1" && break; sleep 0.05; done
lab attach 127.0.0.2 >/dev/null
for _ in $(seq 1 100); do [ -n "$(lab spurs 2>/dev/null)" ] && break; sleep 0.05; done
lab link 127.0.0.2 1 >/dev/null && lab lock 127.0.0.2 1 2 3600 >/dev/null
echo "== LAB-PC took the printer"
sleep 0.5
shot2=${shot%.png}-lab-pc.png
import -window root "$shot2"
echo "demo: screenshot after LAB-PC took the printer: $shot2"
