#!/usr/bin/env bash
# check-packages.sh TOP: builds the Debian packages, unpacks them into a throwaway root and
# checks the files, modes and owners they promise. It takes minutes (a whole release build), so
# it runs only with ./tessaro.sh test --packages.
set -uo pipefail
top=${1:?usage: check-packages.sh TOP}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$top/tessaro.sh" package "$out" || { echo "FAIL: the packages did not build"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

root=$out/root
for deb in "$out"/tessaro_*.deb "$out"/tessaro-hubd_*.deb; do
  [ -f "$deb" ] || { fail "missing $(basename "$deb")"; continue; }
  dpkg-deb -x "$deb" "$root"
  # Every file in the package belongs to root.
  others=$(dpkg-deb -c "$deb" | awk '$2 != "root/root"')
  [ -z "$others" ] || fail "$(basename "$deb") has files not owned by root: $others"
done

# path mode: what each package promises.
while read -r path mode; do
  [ -e "$root/$path" ] || { fail "missing $path"; continue; }
  actual=$(stat -c %a "$root/$path")
  [ "$actual" = "$mode" ] || fail "$path has mode $actual, not $mode"
done <<'LIST'
usr/bin/tessaro-utility 755
usr/bin/tessaro-cli 755
usr/sbin/tessaro-busd 755
usr/sbin/tessaro-hubd 755
usr/lib/cups/backend/tessaro 700
usr/lib/cups/notifier/tessaro 755
lib/systemd/system/tessaro-busd.service 644
lib/systemd/system/tessaro-hubd@.service 644
usr/lib/sysusers.d/tessaro.conf 644
usr/lib/sysusers.d/tessaro-hubd.conf 644
usr/lib/tmpfiles.d/tessaro.conf 644
usr/lib/tmpfiles.d/tessaro-hubd.conf 644
usr/share/applications/com.corvana.TessaroUtility.desktop 644
usr/share/metainfo/com.corvana.TessaroUtility.metainfo.xml 644
etc/xdg/autostart/com.corvana.TessaroUtility-autostart.desktop 644
usr/share/icons/hicolor/scalable/apps/com.corvana.TessaroUtility.svg 644
usr/share/bash-completion/completions/tessaro-cli 644
etc/tessaro/sane.d/saned.conf 644
usr/share/doc/tessaro-hubd/examples/office.conf 644
usr/share/man/man1/tessaro-cli.1.gz 644
usr/share/man/man5/tessaro-hubd.conf.5.gz 644
usr/share/man/man8/tessaro-busd.8.gz 644
LIST

# The programs run from the unpacked root.
for program in usr/bin/tessaro-cli usr/sbin/tessaro-busd usr/sbin/tessaro-hubd; do
  [[ $("$root/$program" --version 2>&1) == *" 1.0" ]] || fail "$program --version"
done
# The services' users come from sysusers.d, their folders from tmpfiles.d; no script makes them.
grep -q '^u tessaro ' "$root/usr/lib/sysusers.d/tessaro.conf" || fail "no tessaro user"
control=$(mktemp -d)
dpkg-deb -e "$out"/tessaro_*.deb "$control"
grep -q systemd-sysusers "$control/postinst" || fail "the postinst does not create the users"
rm -rf "$control"

[ $failures -eq 0 ] && echo "package checks passed"
exit $((failures > 0))
