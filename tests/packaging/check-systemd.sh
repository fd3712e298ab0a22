#!/usr/bin/env bash
# check-systemd.sh TOP [DEB_FOLDER]: the packages installed for real. Builds the .debs (or takes
# them from DEB_FOLDER), installs them with apt into a Debian 12 root made by mmdebstrap, boots
# systemd as PID 1 in it (systemd-nspawn, a network namespace of its own with only loopback),
# and lets a oneshot unit check the services there (container/checks.sh). Takes minutes; runs
# with ./tessaro.sh test --packages or `cmake --build build --target check-packaged`.
# The base root is cached in $TESSARO_CACHE_DIR (default ~/.cache/tessaro), one per set of
# dependencies; each run works on a copy of it.
set -uo pipefail
top=$(cd "${1:?usage: check-systemd.sh TOP [DEB_FOLDER]}" && pwd)
here=$top/tests/packaging
cache=${TESSARO_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/tessaro}
started=$SECONDS
# Below /var/tmp: the root is too big for a /tmp in memory.
work=$(mktemp -d /var/tmp/tessaro-systemd.XXXXXX)
trap 'rm -rf "$work"' EXIT
die() { echo "FAIL: $*"; exit 1; }

debs=${2:-}
if [ -z "$debs" ]; then
  debs=$work/debs
  "$top/tessaro.sh" package "$debs" >"$work/package.log" 2>&1 ||
    { tail -n 40 "$work/package.log"; die "the packages did not build"; }
fi
debs=$(cd "$debs" && pwd)
packages=("$debs"/tessaro_*.deb "$debs"/tessaro-hubd_*.deb)
for deb in "${packages[@]}"; do [ -f "$deb" ] || die "no package $deb"; done

# What the packages depend on and recommend (first of each alternative), plus what the checks
# use: systemd as init, CUPS's commands.
wanted=$(for deb in "${packages[@]}"; do
  dpkg-deb -f "$deb" Depends Recommends | sed 's/^[A-Za-z-]*://'
done | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/[[:space:]]//g' | grep -v '^tessaro' | grep . |
  sort -u | tr '\n' ' ')
wanted="$wanted systemd systemd-sysv dbus cups-client"
key=$(echo "$wanted" | tr ' ' '\n' | sort -u | sha256sum | cut -c1-16)
base=$cache/bookworm-$key.tar
if [ ! -f "$base" ]; then
  mkdir -p "$cache" && rm -rf "$base.part"  # what an interrupted run left
  echo "check-systemd: making the base root $base (once per set of dependencies)"
  mmdebstrap --variant=minbase --format=tar --include="$(echo $wanted | tr ' ' ,)" bookworm \
    "$base.part" \
    >"$work/mmdebstrap.log" 2>&1 || { tail -n 30 "$work/mmdebstrap.log"; die "mmdebstrap"; }
  mv "$base.part" "$base"
fi

root=$work/root
mkdir "$root" && tar -C "$root" -xf "$base" || die "cannot unpack $base"
mkdir -p "$root/var/cache/tessaro-check" && cp "${packages[@]}" "$root/var/cache/tessaro-check/"
# Not below /tmp, which nspawn gives a fresh tmpfs. Without booting: apt installs as on any machine; the maintainer scripts create the users and
# folders and enable busd, starting nothing since systemd does not run yet.
nspawn=(systemd-nspawn --register=no --keep-unit --private-network -q -D "$root")
"${nspawn[@]}" --pipe sh -c 'apt-get install -y --no-install-recommends /var/cache/tessaro-check/*.deb' \
  >"$work/install.log" 2>&1 || { tail -n 30 "$work/install.log"; die "apt install of the packages"; }
echo "check-systemd: installed $(cd "$debs" && echo tessaro_*.deb tessaro-hubd_*.deb)"
# A device server's machine need not have procps (/bin/kill): only tessaro's cups-daemon pulls it
# in here, and tessaro-hubd must not rely on it.
"${nspawn[@]}" --pipe dpkg --remove --force-depends procps >>"$work/install.log" 2>&1 ||
  { tail -n 20 "$work/install.log"; die "removing procps"; }

# The administrator's part: a device server from the package's example, on loopback; busd told
# of it (discovery needs a broadcast-capable interface, and loopback is none); a user in the
# group tessaro.
conf=$root/etc/tessaro/demo.conf
sed 's/^address = .*/address = 127.0.0.2/' "$root/usr/share/doc/tessaro-hubd/examples/office.conf" \
  >"$conf" || die "the package ships no example config"
mkdir -p "$root/etc/systemd/system/tessaro-busd.service.d"
printf '[Service]\nEnvironment=TESSARO_SERVERS=127.0.0.2\n' \
  >"$root/etc/systemd/system/tessaro-busd.service.d/servers.conf"
mkdir -p "$root/etc/sysusers.d"
printf 'u alice - "Check user" /home/alice\nm alice tessaro\n' >"$root/etc/sysusers.d/alice.conf"
install -d -m 0755 "$root/usr/local/lib/tessaro-check"
install -m 0755 "$here/container/checks.sh" "$root/usr/local/lib/tessaro-check/"
install -m 0644 "$here/container/tessaro-check.service" "$root/etc/systemd/system/"
"${nspawn[@]}" --pipe sh -c 'systemd-sysusers /etc/sysusers.d/alice.conf &&
  install -d -o alice -g alice /home/alice &&
  systemctl enable tessaro-hubd@demo.service tessaro-check.service' >>"$work/install.log" 2>&1 ||
  { tail -n 20 "$work/install.log"; die "setting up the checks"; }

echo "check-systemd: booting systemd in the container"
# The checks bound every wait; this bounds a boot that never reaches them.
timeout 900 "${nspawn[@]}" -b >"$work/console.log" 2>&1 </dev/null
status=$?
result=$root/var/log/tessaro-check.log
if [ ! -f "$result" ]; then
  tail -n 40 "$work/console.log"
  die "the checks did not run (systemd-nspawn exit $status)"
fi
cat "$result"
echo "check-systemd: $((SECONDS - started)) s"
grep -qx 'RESULT: all checks passed' "$result" || die "the installed packages under systemd"
echo "packaged-install checks passed"
