#!/bin/bash
# The checks of the installed packages, run by systemd inside the container. Each check prints
# PASS or FAIL with what it saw; the last line is the verdict the host reads.
set -u
log=/var/log/tessaro-check.log
failures=0
pass() { echo "PASS: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# Until COMMAND succeeds, for at most SECONDS: services start, connect and print on their own time.
wait_for() {
  local end=$((SECONDS + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    [ $SECONDS -lt $end ] || return 1
    sleep 0.2
  done
}
show_unit() {  # why a unit is not as it should be
  systemctl status --no-pager --lines=0 "$1" | sed 's/^/    /'
  journalctl --no-pager -b -o cat -u "$1" | tail -n 8 | sed 's/^/    /'
}
as_user() { runuser -u alice -- "$@"; }
hub=127.0.0.2
prints=/var/lib/tessaro-hubd/prints

# The whole run in one function piped through tee: systemd ends every process of the unit once
# this script ends, so a tee left running on its own could lose the last lines.
run_checks() {
  echo "== tessaro-busd and tessaro-hubd@demo under systemd $(systemctl --version | sed -n '1s/systemd \([0-9]*\).*/\1/p')"
  for unit in tessaro-busd.service tessaro-hubd@demo.service; do
    if wait_for 60 systemctl is-active --quiet "$unit"; then
      pass "$unit is active (main PID $(systemctl show -P MainPID "$unit"), user $(systemctl show -P User "$unit"))"
    else
      fail "$unit is $(systemctl is-active "$unit") ($(systemctl show -P Result "$unit"))"
      show_unit "$unit"
    fi
  done

  echo "== a user in group tessaro runs tessaro-cli list"
  if id -nG alice | grep -qw tessaro; then
    pass "alice is in group tessaro ($(id -nG alice))"
  else
    fail "alice is not in group tessaro"
  fi
  if wait_for 60 sh -c "runuser -u alice -- tessaro-cli --json list | grep -q '\"ip\":\"$hub\"'"; then
    pass "tessaro-cli list: $(as_user tessaro-cli --json list | grep '"server":true' | head -n 1)"
  else
    fail "tessaro-cli list does not show $hub"
    as_user tessaro-cli --json list 2>&1 | sed 's/^/    /'
  fi

  if as_user tessaro-cli --json server enable $hub >/dev/null &&
    as_user tessaro-cli --json list | grep -q "\"ip\":\"$hub\".*\"enabled\":true"; then
    pass "tessaro-cli server enable $hub: list shows it enabled"
  else
    fail "tessaro-cli server enable $hub did not enable it"
  fi
  # busd made it under UMask=0007; every user reads the installed version from it.
  hive=/var/lib/tessaro/machine.hive
  mode=$(stat -c %a "$hive" 2>&1)
  if [ "$mode" = 644 ] && as_user test -r "$hive"; then
    pass "$hive has mode $mode, readable by alice"
  else
    fail "$hive has mode $mode"
  fi

  echo "== a raw CUPS queue on a tessaro:// URI prints into the server's output folder"
  uri='tessaro://02-00-00-00-00-02/04f9/0042?serial=L1-0001'
  job=/usr/share/doc/tessaro-hubd/examples/office.conf
  if ! wait_for 60 systemctl is-active --quiet cups.service; then
    fail "cups.service is $(systemctl is-active cups.service)"
  elif ! lpadmin -p hub-laser -E -v "$uri" 2>&1; then
    fail "lpadmin -v $uri"
  elif ! wait_for 60 sh -c "runuser -u alice -- tessaro-cli attach $hub &&
      runuser -u alice -- tessaro-cli link $hub 1"; then
    # The Spur of a server appears a moment after the attach: retried until the link holds.
    fail "alice cannot attach $hub and link device 1: $(as_user tessaro-cli link $hub 1 2>&1)"
  else
    pass "queue hub-laser on $uri; device 1 linked by alice"
    lp -d hub-laser "$job" | sed 's/^/    /'
    if wait_for 120 sh -c "ls $prints/job-*.prn"; then
      printed=$(ls $prints/job-*.prn | head -n 1)
      if cmp -s "$printed" "$job"; then
        pass "job written whole to $printed ($(stat -c %s "$printed") bytes)"
      else
        fail "$printed differs from what was printed"
      fi
    else
      fail "no job in $prints; queue: $(lpstat -p hub-laser 2>&1 | tr '\n' ' ')"
      show_unit cups.service
    fi
  fi

  echo "== systemctl reload re-reads the config"
  sed -i 's/^name = .*/name = Reloaded Hub/' /etc/tessaro/demo.conf
  since=$(date '+%Y-%m-%d %H:%M:%S')
  if systemctl reload tessaro-hubd@demo.service; then
    if wait_for 30 sh -c "journalctl --no-pager -o cat -u tessaro-hubd@demo --since '$since' | grep -q 'config reloaded'"; then
      pass "reload: $(journalctl --no-pager -o cat -u tessaro-hubd@demo --since "$since" | grep 'config reloaded' | tail -n 1)"
    else
      fail "reload did not re-read the config"
      show_unit tessaro-hubd@demo.service
    fi
  else
    fail "systemctl reload tessaro-hubd@demo failed"
    show_unit tessaro-hubd@demo.service
  fi

  echo "== systemd-analyze security"
  for unit in tessaro-busd.service tessaro-hubd@demo.service; do
    line=$(systemd-analyze security --no-pager "$unit" 2>&1 | grep 'Overall exposure level')
    exposure=$(echo "$line" | sed -n 's/.*: \([0-9.]*\).*/\1/p')
    # At most 2.0, compared as text: the root may lack awk and bc.
    if [[ $exposure =~ ^[01]\.[0-9]$ || $exposure == 2.0 ]]; then
      pass "$unit exposure $exposure"
    else
      fail "$unit exposure ${exposure:-unknown} above 2.0 ($line)"
    fi
  done

  echo "== systemctl stop leaves no process"
  running() { grep -lE '^tessaro-(busd|hubd)$' /proc/[0-9]*/comm 2>/dev/null; }
  for unit in tessaro-hubd@demo.service tessaro-busd.service; do
    systemctl stop "$unit" || fail "systemctl stop $unit"
    state=$(systemctl is-active "$unit")
    [ "$state" = inactive ] && pass "$unit stopped" || fail "$unit is $state after stop"
  done
  left=$(running)
  [ -z "$left" ] && pass "no tessaro-busd or tessaro-hubd process left" ||
    fail "processes left: $(echo "$left" | tr '\n' ' ')"

  if [ $failures -eq 0 ]; then echo "RESULT: all checks passed"; else echo "RESULT: $failures checks failed"; fi
}
run_checks 2>&1 | tee "$log"
