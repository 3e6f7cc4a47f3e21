#!/usr/bin/env bash
# The Debian package on this host: built by cpack from the build tree, checked by lintian (no error), installed
# with dpkg: its files where they belong, the group dhcpftr, a unit systemd-analyze finds nothing wrong with,
# the installed switch serving its client on a socket of the group dhcpftr and saving to /etc/dhcpftr; then
# purged: nothing of it left, neither the saved configuration nor the group nor the unit's enablement.
#
#   package_test.sh CPACK BUILD_DIR
#
# Exit 77 (skipped) when not root, without dpkg, or when the package or a group dhcpftr is already on the host
# (the test would replace or remove them). The switch it starts runs in a network namespace of its own when
# one can be made. However the test ends, also when interrupted, the switch is stopped by its PID and the
# package purged.
set -uo pipefail

cpack=$1
build=$2

[[ $(id -u) -eq 0 ]] || { echo "skipped: needs root (dpkg -i)"; exit 77; }
command -v dpkg >/dev/null 2>&1 || { echo "skipped: no dpkg"; exit 77; }
installed() { dpkg-query -W -f='${db:Status-Status}' dhcpftr 2>/dev/null | grep -qv '^not-installed$'; }
if installed; then
  echo "skipped: the package dhcpftr is installed on this host (dpkg --purge dhcpftr to run the test)"
  exit 77
fi
if getent group dhcpftr >/dev/null; then
  echo "skipped: a group dhcpftr exists on this host (the package's purge would remove it)"
  exit 77
fi

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

tmp=$(mktemp -d)
switch=
cleanup() {
  if [[ -n $switch ]] && kill -0 "$switch" 2>/dev/null; then
    kill -TERM "$switch"
    for ((i = 0; i < 50; i++)); do
      kill -0 "$switch" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$switch" 2>/dev/null
  fi
  installed && dpkg --purge dhcpftr >/dev/null 2>&1
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# ---- Build and lint.
if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$tmp/package" >"$tmp/cpack.log" 2>&1; then
  cat "$tmp/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
deb=$(echo "$tmp"/package/dhcpftr_*.deb)
[[ -f $deb ]] || { echo "FAIL: no package in $tmp/package"; exit 1; }
echo "package ${deb##*/}"
if command -v lintian >/dev/null 2>&1; then
  lintian --fail-on error "$deb" >"$tmp/lintian.log" 2>&1 || fail "lintian reports errors"
  grep -v 'running with root privileges' "$tmp/lintian.log"
fi

# ---- Install.
dpkg -i "$deb" >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; echo "FAIL: dpkg -i"; exit 1; }
mapfile -t files < <(dpkg -L dhcpftr)
for f in /usr/sbin/dhcpftr /usr/bin/dhcpftr-cli /lib/systemd/system/dhcpftr.service \
         /usr/share/snmp/mibs/DHCPFTR-MIB.txt /usr/share/man/man8/dhcpftr.8.gz /usr/share/man/man1/dhcpftr-cli.1.gz \
         /usr/share/doc/dhcpftr/copyright /usr/share/doc/dhcpftr/changelog.gz; do
  [[ -f $f ]] || fail "$f is not installed"
done
[[ -d /etc/dhcpftr ]] || fail "/etc/dhcpftr is not installed"
getent group dhcpftr >/dev/null || fail "the postinst did not create the group dhcpftr"
dpkg --verify dhcpftr || fail "the installed files differ from the package's md5sums"
if command -v readelf >/dev/null 2>&1; then
  for f in /usr/sbin/dhcpftr /usr/bin/dhcpftr-cli; do
    readelf -S "$f" | grep -qE '\.symtab|\.debug_' && fail "$f is not stripped"
  done
fi
version=$(dpkg-query -W -f='${Version}' dhcpftr)
[[ $(/usr/sbin/dhcpftr --version) == "dhcpftr $version" ]] || fail "dhcpftr --version is not the package's $version"
if command -v systemd-analyze >/dev/null 2>&1; then
  man=yes
  command -v man >/dev/null 2>&1 || man=no   # the unit's man: pages are looked up with man
  out=$(systemd-analyze verify --man=$man /lib/systemd/system/dhcpftr.service 2>&1) && [[ -z $out ]] ||
    fail "systemd-analyze verify: $out"
fi

# ---- With systemd running, the postinst started the service; Type=notify: active once the switch is ready.
if [[ -d /run/systemd/system ]]; then
  systemctl is-active --quiet dhcpftr.service || fail "the service is not active: $(systemctl status dhcpftr.service 2>&1)"
fi

# ---- The installed switch and client. The switch saves to the package's directory, whose purge must take
# ---- the saved file too.
netns=()
unshare -n true 2>/dev/null && netns=(unshare -n)
"${netns[@]}" /usr/sbin/dhcpftr --no-console --vty-socket "$tmp/vty.sock" \
  --startup-config /etc/dhcpftr/startup-config </dev/null >"$tmp/switch.log" 2>&1 &
switch=$!
for ((i = 0; i < 100; i++)); do
  [[ -S $tmp/vty.sock ]] && break
  sleep 0.1
done
[[ -S $tmp/vty.sock ]] || { cat "$tmp/switch.log"; echo "FAIL: the switch serves no socket"; exit 1; }
[[ $(stat -c '%a %G' "$tmp/vty.sock") == "660 dhcpftr" ]] ||
  fail "socket mode and group: $(stat -c '%a %G' "$tmp/vty.sock"), expected 660 dhcpftr"

out=$(/usr/bin/dhcpftr-cli -s "$tmp/vty.sock" -c "configure terminal" -c "ip dhcp screening ports eth1.1-1.2" \
        -c "ip dhcp screening server-ip 192.168.1.10 ports eth1.1" -c end -c "write memory" 2>&1) ||
  fail "dhcpftr-cli, configuration: exit $?: $out"
expected='   Enable ports: eth1.1-1.2
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      192.168.1.10      All Client MAC     eth1.1

   Total Entries: 1'
out=$(/usr/bin/dhcpftr-cli -s "$tmp/vty.sock" -c "show ip dhcp screening" 2>&1) ||
  fail "dhcpftr-cli -c 'show ip dhcp screening': exit $?"
[[ $out == "$expected" ]] || fail "show ip dhcp screening:"$'\n'"$(diff <(echo "$expected") <(echo "$out"))"
grep -qx 'ip dhcp screening server-ip 192.168.1.10 ports eth1.1' /etc/dhcpftr/startup-config 2>/dev/null ||
  fail "write memory saved no rule to /etc/dhcpftr/startup-config"

kill -TERM "$switch"
wait "$switch"
status=$?
switch=
[[ $status -eq 0 ]] || fail "the switch ended on SIGTERM with exit status $status"
[[ ! -e $tmp/vty.sock ]] || fail "the switch left its socket behind"

# ---- Purge: nothing left.
dpkg --purge dhcpftr >"$tmp/dpkg.log" 2>&1 || { cat "$tmp/dpkg.log"; fail "dpkg --purge"; }
installed && fail "the package is still known to dpkg after its purge"
for f in "${files[@]}"; do
  [[ $f == / || ! -e $f || -d $f && ! $f =~ dhcpftr ]] || fail "$f is left after the purge"
done
getent group dhcpftr >/dev/null && fail "the group dhcpftr is left after the purge"
for f in /etc/systemd/system/dhcpftr.service /etc/systemd/system/multi-user.target.wants/dhcpftr.service \
         /var/lib/systemd/deb-systemd-helper-enabled/dhcpftr.service.dsh-also \
         /var/lib/systemd/deb-systemd-helper-masked/dhcpftr.service; do
  [[ ! -e $f && ! -L $f ]] || fail "$f is left after the purge"
done

if [[ $failures -ne 0 ]]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
