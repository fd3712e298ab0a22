#!/usr/bin/env bash
# check-install.sh BUILD_DIR: installs the build into a throwaway root and checks what an
# installation promises: the desktop entry and metainfo validate, the service units verify and
# stay well hardened, the manual pages render cleanly, every program answers --help and
# --version, and the backend is root's alone.
set -uo pipefail
build=${1:?usage: check-install.sh BUILD_DIR}
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

DESTDIR=$root cmake --install "$build" --prefix /usr >"$root.log" 2>&1 ||
  { cat "$root.log"; rm -f "$root.log"; echo "FAIL: install"; exit 1; }
rm -f "$root.log"
usr=$root/usr

desktop=$usr/share/applications/com.corvana.TessaroUtility.desktop
out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop entry: $out"
# Under /etc for a /usr installation; the build's configured prefix decides, so look for it.
autostart=$(find "$root" -path '*/xdg/autostart/com.corvana.TessaroUtility-autostart.desktop')
out=$(desktop-file-validate "$autostart" 2>&1) || fail "autostart entry: $out"
grep -qx 'Exec=tessaro-utility -mini' "$autostart" || fail "the autostart entry does not start -mini"
out=$(appstreamcli validate --no-net "$usr/share/metainfo/com.corvana.TessaroUtility.metainfo.xml" 2>&1) ||
  fail "metainfo: $out"
icon=$(sed -n 's/^Icon=//p' "$desktop")
[ -f "$usr/share/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no scalable icon $icon"
for size in 16 24 32 48 64 128 256; do
  [ -f "$usr/share/icons/hicolor/${size}x${size}/apps/$icon.png" ] || fail "no ${size}px icon"
done

# The units name the installed programs; here they run from the throwaway root.
units=$(mktemp -d)
trap 'rm -rf "$root" "$units"' EXIT
for unit in tessaro-busd.service tessaro-hubd@.service; do
  sed "s|/usr/sbin/|$usr/sbin/|g" "$usr/lib/systemd/system/$unit" >"$units/${unit/@./@test.}"
done
for unit in "$units"/*.service; do
  out=$(systemd-analyze verify --man=no "$unit" 2>&1) || fail "$(basename "$unit"): $out"
  [ -z "$out" ] || fail "$(basename "$unit") verifies with remarks: $out"
  exposure=$(systemd-analyze security --offline=true "$unit" 2>&1 |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  echo "$(basename "$unit"): exposure $exposure"
  awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' ||
    fail "$(basename "$unit") exposure ${exposure:-unknown} above 2.0"
done

pages=$(find "$usr/share/man" -type f 2>/dev/null | sort)
[ "$(echo "$pages" | grep -c .)" -eq 6 ] || fail "manual pages installed: $(echo $pages)"
for page in $pages; do
  out=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$out" ] || fail "$(basename "$page"): $out"
done

for program in bin/tessaro-utility bin/tessaro-cli sbin/tessaro-busd sbin/tessaro-hubd \
  lib/cups/backend/tessaro lib/cups/notifier/tessaro; do
  out=$("$usr/$program" --help 2>&1) || fail "$program --help exits $?"
  [ -n "$out" ] || fail "$program --help says nothing"
  version=$("$usr/$program" --version 2>&1) || fail "$program --version exits $?"
  [[ $version == *" 1.0" ]] || fail "$program --version says '$version'"
done
# The completion offers the commands a person types first.
completion=$usr/share/bash-completion/completions/tessaro-cli
words=$(bash -c "source '$completion' && COMP_WORDS=(tessaro-cli au) COMP_CWORD=1 && _tessaro_cli && echo \"\${COMPREPLY[*]}\"" 2>&1)
[ "$words" = auto-print ] || fail "completion of 'tessaro-cli au' gave '$words'"
words=$(bash -c "source '$completion' && COMP_WORDS=(tessaro-cli auto-print '') COMP_CWORD=2 && _tessaro_cli && echo \"\${COMPREPLY[*]}\"" 2>&1)
[ "$words" = "add list remove" ] || fail "completion after auto-print gave '$words'"

mode=$(stat -c %a "$usr/lib/cups/backend/tessaro")
[ "$mode" = 700 ] || fail "backend mode $mode, not 700"

[ $failures -eq 0 ] && echo "installation checks passed"
exit $((failures > 0))
