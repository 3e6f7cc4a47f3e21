#!/usr/bin/env bash
# The SNMP agent end to end, with net-snmp's own tools: a private master agent (scripts/snmp_master.sh), the
# simulated switch attached to it with --agentx and configured through its console, and snmpwalk, snmpget,
# snmpset and snmpbulkwalk reading and changing the screening configuration through it.
#
#   agent_e2e.sh DHCPFTR SOURCE_DIR
#
# Exit 77 (skipped) when net-snmp's tools or the IETF MIB modules (mibs/ietf) are missing. The switch and the
# master are stopped by PID and the work directory removed, also when a check fails or the test is
# interrupted.
set -uo pipefail

dhcpftr=$1
root=$2

for tool in snmpd snmpget snmpset snmpwalk snmpbulkwalk; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing"; exit 77; }
done
[[ -f $root/mibs/ietf/SNMPv2-SMI.txt ]] || { echo "skipped: no IETF MIB modules in $root/mibs/ietf"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/dhcpftr-snmp.XXXXXX")
switch_pid=
cleanup() {
  exec 3>&- 2>/dev/null
  if [[ -n $switch_pid ]]; then
    kill "$switch_pid" 2>/dev/null
    wait "$switch_pid" 2>/dev/null
  fi
  "$root/scripts/snmp_master.sh" stop "$work/master" >/dev/null 2>&1
  if [[ -n ${trapd_pid-} ]]; then
    kill "$trapd_pid" 2>/dev/null
    wait "$trapd_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# check NAME EXPECTED ACTUAL: a difference is printed as a unified diff.
check() {
  if [[ $2 != "$3" ]]; then
    fail "$1"
    diff -u <(printf '%s\n' "$2") <(printf '%s\n' "$3") | tail -n +3
  fi
}

# A notification receiver on a free port; the master sends its subagents' notifications there.
trapd_pid=
for ((i = 0; i < 20; i++)); do
  [[ -z $trapd_pid ]] || break
  trap_port=$((10000 + (RANDOM * 32768 + RANDOM) % 22000))
  printf 'disableAuthorization yes\n' >"$work/snmptrapd.conf"
  snmptrapd -f -C -c "$work/snmptrapd.conf" -M "+$root/mibs:$root/mibs/ietf" -m DHCPFTR-MIB -Lf "$work/traps.log" \
    "udp:127.0.0.1:$trap_port" </dev/null >/dev/null 2>&1 &
  trapd_pid=$!
  sleep 0.2
  kill -0 "$trapd_pid" 2>/dev/null || trapd_pid=
done
[[ -n $trapd_pid ]] || { echo "FAIL: no notification receiver"; exit 1; }
export SNMP_TRAP_SINK=127.0.0.1:$trap_port

eval "$("$root/scripts/snmp_master.sh" start "$work/master")" || { echo "FAIL: no master agent"; exit 1; }

# The switch reads its console from a FIFO that the test keeps open; net-snmp's allocations that live until
# the process ends are no leaks of ours. Freed memory is overwritten (MALLOC_PERTURB_), so that a use of it
# fails at once instead of when the block happens to be taken again.
mkfifo "$work/console"
echo "leak:libnetsnmp" >"$work/lsan.supp"
MALLOC_PERTURB_=165 LSAN_OPTIONS="suppressions=$work/lsan.supp" ${DHCPFTR_EMULATOR:-} "$dhcpftr" --batch --level 20 \
  --agentx "$SNMP_AGENTX" --log-file "$work/switch.log" <"$work/console" >"$work/console.out" 2>&1 &
switch_pid=$!
exec 3>"$work/console"

mib=(-M "+$root/mibs:$root/mibs/ietf" -m DHCPFTR-MIB)
reader=(-v2c -c public -t 3 -r 1 "${mib[@]}" "127.0.0.1:$SNMP_PORT")
writer=(-v2c -c private -t 3 -r 1 "${mib[@]}" "127.0.0.1:$SNMP_PORT")

# Runs console lines and waits until the switch has run them: each batch ends with a line that the shell
# refuses, and the refusals are counted.
batches=0
console() {
  local i
  printf '%s\n' "$@" "sync" >&3
  batches=$((batches + 1))
  for ((i = 0; i < 300; i++)); do
    [[ $(grep -c '^% Unknown command$' "$work/console.out") -ge $batches ]] && return 0
    sleep 0.1
  done
  echo "FAIL: the switch did not run: $*"
  exit 1
}

# Waits until the agent answers through the master.
wait_for_agent() {
  local i
  for ((i = 0; i < 100; i++)); do
    snmpget -t 0.5 -r 0 "${reader[@]}" dhcpftrSuppressDuration.0 2>/dev/null | grep -q Gauge32 && return 0
    sleep 0.1
  done
  return 1
}

# The 96 octets of a port list, in hex, holding the logical ports given (ethS.P is 64(S-1)+P, port-channelN
# is 640+N).
portlist() {
  local octets=() p
  for ((p = 0; p < 96; p++)); do octets[p]=0; done
  for p in "$@"; do octets[(p - 1) / 8]=$((octets[(p - 1) / 8] | (0x80 >> ((p - 1) % 8)))); done
  printf '%02X' "${octets[@]}"
}

# The same port list as net-snmp's tools show it: an OCTET STRING without display hint, in hex octets, 16 to a
# line, each followed by a blank.
shown() {
  local hex text= i
  hex=$(portlist "$@")
  for ((i = 0; i < 96; i++)); do
    text+="${hex:2*i:2} "
    ((i % 16 == 15 && i < 95)) && text+=$'\n'
  done
  echo "Hex-STRING: $text"
}

wait_for_agent || { echo "FAIL: the agent does not answer"; exit 1; }

# ---- A walk of the whole module: scalars, then the rules by server address and client MAC, then the ports
# ---- by logical port.
console "configure terminal" \
  "ip dhcp screening ports eth1.1-1.3,eth2.48,port-channel1" \
  "ip dhcp screening server-ip 192.168.1.10 ports eth1.1-1.4" \
  "ip dhcp screening server-ip 10.1.1.1 client-mac 00:11:22:33:44:55 ports eth2.1,port-channel1" \
  "ip dhcp screening server-ip 10.1.1.1 ports eth1.8" \
  "ip dhcp screening trap-log" \
  "ip dhcp screening suppress-duration 5" \
  "end"
walk_expected="DHCPFTR-MIB::dhcpftrTrapLogState.0 = INTEGER: enabled(1)
DHCPFTR-MIB::dhcpftrSuppressDuration.0 = Gauge32: 5 minutes
DHCPFTR-MIB::dhcpftrPermitPorts[10.1.1.1][STRING: 0:0:0:0:0:0] = $(shown 8)
DHCPFTR-MIB::dhcpftrPermitPorts[10.1.1.1][STRING: 0:11:22:33:44:55] = $(shown 65 641)
DHCPFTR-MIB::dhcpftrPermitPorts[192.168.1.10][STRING: 0:0:0:0:0:0] = $(shown 1 2 3 4)
DHCPFTR-MIB::dhcpftrPermitStatus[10.1.1.1][STRING: 0:0:0:0:0:0] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPermitStatus[10.1.1.1][STRING: 0:11:22:33:44:55] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPermitStatus[192.168.1.10][STRING: 0:0:0:0:0:0] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPortStatus[5121] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPortStatus[5122] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPortStatus[5123] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPortStatus[5232] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPortStatus[5761] = INTEGER: active(1)
DHCPFTR-MIB::dhcpftrPortStatus[5761] = No more variables left in this MIB View (It is past the end of the MIB tree)"
walk() { snmpwalk -OX "${reader[@]}" dhcpftrMIB 2>&1; }
check "walk of the module" "$walk_expected" "$(walk)"
check "bulk walk of the module" "$walk_expected" "$(snmpbulkwalk -OX "${reader[@]}" dhcpftrMIB 2>&1)"

# ---- An illegal server dropped on a screened port is reported as a notification, once.
console "platform traffic replay $root/tests/data/captures/netdhcp-DHCP-DISCOVER-OFFER-REQUEST-ACK.cap ingress eth1.1" \
  "platform traffic replay $root/tests/data/captures/netdhcp-DHCP-DISCOVER-OFFER-REQUEST-ACK.cap ingress eth1.1"
for ((i = 0; i < 50; i++)); do
  grep -q dhcpftrIllegalServer "$work/traps.log" 2>/dev/null && break
  sleep 0.1
done
sleep 0.3
check "one notification of the illegal server" "1" "$(grep -c 'dhcpftrIllegalServer' "$work/traps.log" 2>&1)"
for value in "dhcpftrReportServer.0 = IpAddress: 192.168.0.1" "dhcpftrReportIfIndex.0 = INTEGER: 5121" \
  "dhcpftrReportClient.0 = STRING: 0:b:82:1:fc:42"; do
  grep -q "$value" "$work/traps.log" || fail "the notification does not hold $value"
done

# ---- The data path's counters (the replays above: 4 dropped on eth1.1) walked as "platform traffic show" has
# ---- them ("IFNAME FORWARDED DROPPED MALFORMED", "SERVER CLIENT HITS"); a clear empties both tables, the last
# ---- of the module.
counters_walked() {
  local index f d m a b c e
  snmptable -OUb -CH -Ci -Cf ' ' "${reader[@]}" dhcpftrPortCounterTable 2>&1 | while read -r index f d m; do
    ((index > 5760)) && echo "port-channel$((index - 5760)) $f $d $m" ||
      echo "eth$(((index - 5121) / 64 + 1)).$(((index - 5121) % 64 + 1)) $f $d $m"
  done
  snmptable -OUb -CH -Ci -Cf ' ' "${reader[@]}" dhcpftrRuleHitTable 2>&1 | while read -r index f; do
    IFS=. read -r a b c e m <<<"$index" && printf '%s %02X:%02X:%02X:%02X:%02X:%02X %s\n' "$a.$b.$c.$e" ${m//./ } "$f"
  done
}
console "configure terminal" "ip dhcp screening server-ip 192.168.0.1 client-mac 00:0b:82:01:fc:42 ports eth1.2" "end" \
  "platform traffic replay $root/tests/data/captures/netdhcp-DHCP-DISCOVER-OFFER-REQUEST-ACK.cap ingress eth1.2" \
  "platform traffic replay $root/tests/data/captures/tcpdump-dhcp-rfc3004.pcap ingress port-channel1" \
  "platform traffic show"
check "counters walked as shown" "$(sed -n '/^Screening data path$/,/^  Reports/s/^    \([ep1-9]\)/\1/p' \
  "$work/console.out" | sed 's/all clients/00:00:00:00:00:00/' | tr -s ' ')" "$(counters_walked)"
check "the counters' rows" "eth1.1 0 4 0|eth1.2 2 0 0|port-channel1 0 2 0|192.168.0.1 00:0B:82:01:FC:42 2" \
  "$(counters_walked | paste -sd '|')"
console "platform traffic clear"
check "no counters after a clear" \
  "DHCPFTR-MIB::dhcpftrPortCounterTable = No more variables left in this MIB View (It is past the end of the MIB tree)" \
  "$(snmpgetnext "${reader[@]}" dhcpftrPortCounterTable 2>&1)"

# ---- Changes: ports added to a rule, a rule created and destroyed, a port enabled and disabled, the scalars.
rule=dhcpftrPermitPorts.192.168.1.10.0.0.0.0.0.0
snmpset -Oq "${writer[@]}" "$rule" x "$(portlist 1 5 641)" >/dev/null 2>&1 || fail "ports SET on 192.168.1.10"
check "ports added to a rule" "$(shown 1 2 3 4 5 641)" "$(snmpget -Ov "${reader[@]}" "$rule" 2>&1)"

new=172.16.0.5.0.2.4.6.8.10
# set ARGUMENTS...: what snmpset says on standard error (nothing when the SET is accepted).
set_errors() { snmpset -Oq "${writer[@]}" "$@" 2>&1 >/dev/null; }
check "createAndGo with the ports" "" \
  "$(set_errors "dhcpftrPermitPorts.$new" x "$(portlist 65 66)" "dhcpftrPermitStatus.$new" i createAndGo)"
console "show ip dhcp screening"
grep -q '^      172\.16\.0\.5        00:02:04:06:08:0A  eth2\.1-2\.2$' "$work/console.out" ||
  fail "the rule created through SNMP is not shown on the console"
check "destroy" "" "$(set_errors "dhcpftrPermitStatus.$new" i destroy)"
check "the destroyed rule is gone" \
  "DHCPFTR-MIB::dhcpftrPermitStatus[172.16.0.5][STRING: 0:2:4:6:8:a] = No Such Instance currently exists at this OID" \
  "$(snmpget -OX "${reader[@]}" "dhcpftrPermitStatus.$new" 2>&1)"

check "ports enabled and disabled" "" \
  "$(set_errors dhcpftrPortStatus.5125 i createAndGo dhcpftrPortStatus.5121 i destroy)"
check "the port table after it" "5122 5123 5125 5232 5761" \
  "$(snmpwalk -Oqn "${reader[@]}" dhcpftrPortStatus 2>&1 |
    sed -n 's/^\.1\.3\.6\.1\.3\.2026\.1\.4\.1\.2\.\([0-9]*\) active$/\1/p' | tr '\n' ' ' | sed 's/ $//')"
check "scalars set" "" "$(set_errors dhcpftrTrapLogState.0 i disabled dhcpftrSuppressDuration.0 u 20)"
check "scalars read back" "disabled
20 minutes" "$(snmpget -Oqv "${reader[@]}" dhcpftrTrapLogState.0 dhcpftrSuppressDuration.0 2>&1)"

# ---- Refused changes answer with an error and change nothing, the other variables of the request included.
before=$(walk)
# refusal [--bare] NAME EXPECTED-ERROR SNMPSET-ARGUMENTS...: --bare without the MIB, so that snmpset itself does
# not refuse the value's length or type.
refusal() {
  local to=("${writer[@]}") out
  [[ $1 == --bare ]] && to=(-v2c -c private -m '' "127.0.0.1:$SNMP_PORT") && shift
  local name=$1 error=$2
  shift 2
  out=$(snmpset -Oq "${to[@]}" "$@" 2>&1) && fail "$name: accepted"
  [[ $out == *"Reason: $error"* ]] || fail "$name: expected $error, got: $out"
}
refusal "a port that does not exist" inconsistentValue "$rule" x "$(portlist 64)"
# Servers the operator's rule command refuses (the whole rule: sim::snmp::permit_server_allowed).
for server in 0.0.0.0 10.1.1.255; do
  refusal "server $server" wrongValue dhcpftrPermitPorts.$server.0.0.0.0.0.0 x "$(portlist 1)" \
    dhcpftrPermitStatus.$server.0.0.0.0.0.0 i createAndGo
done
refusal "a new rule without ports" inconsistentValue dhcpftrPermitStatus.10.9.9.9.0.0.0.0.0.0 i createAndGo
refusal "ports of a rule that does not exist" inconsistentName dhcpftrPermitPorts.10.9.9.9.0.0.0.0.0.0 x "$(portlist 1)"
refusal "a suppress duration of 31" wrongValue dhcpftrSuppressDuration.0 u 31
refusal --bare "a port list of 95 octets" wrongLength .1.3.6.1.3.2026.1.3.1.3.192.168.1.10.0.0.0.0.0.0 \
  x "$(portlist 1 | cut -c 3-)"
refusal --bare "a counter" notWritable .1.3.6.1.3.2026.1.6.1.3.5121 u 1
refusal "a duration with a port that does not exist" inconsistentName \
  dhcpftrSuppressDuration.0 u 7 dhcpftrPortStatus.5170 i createAndGo
# The port is enabled first; the kernel filter then refuses the rule, and the port is disabled again.
console "platform kernel refuse 1 -1 code 0"
refusal "the kernel filter refusing a new rule" commitFailed \
  dhcpftrPortStatus.5130 i createAndGo dhcpftrPermitPorts.$new x "$(portlist 1)" dhcpftrPermitStatus.$new i createAndGo
# The kernel filter has room for no more rules: the ports added to a rule are taken out again.
console "platform kernel capacity 3"
refusal "a new rule beyond the kernel filter's capacity" inconsistentValue \
  "$rule" x "$(portlist 6)" dhcpftrPermitPorts.$new x "$(portlist 1)" dhcpftrPermitStatus.$new i createAndGo
console "platform kernel capacity unlimited"
check "nothing changed by the refusals" "$before" "$(walk)"

# ---- The master restarts: the agent connects again and serves within a few seconds.
"$root/scripts/snmp_master.sh" restart "$work/master" >/dev/null || fail "master restart"
wait_for_agent || fail "the agent does not serve again after the master's restart"
check "walk after the master's restart" "$before" "$(walk)"

# ---- A kernel filter slower than the master's AgentX timeout (5 s): the master answers genError and drops the
# ---- agent, whose change comes to an end later. The switch keeps running, the agent connects again, and the
# ---- change is kept or taken back, the daemon and the kernel filter agreeing on it.
console "platform kernel delay 6000"
out=$(snmpset -Oq -v2c -c private -t 8 -r 0 "${mib[@]}" "127.0.0.1:$SNMP_PORT" dhcpftrTrapLogState.0 i enabled 2>&1) &&
  fail "a SET slower than the master's timeout: accepted"
[[ $out == *"Reason: (genError)"* ]] || fail "a SET slower than the master's timeout: $out"
wait_for_agent || fail "the agent does not serve again after its master gave up on a SET"
console "platform kernel delay 0" "platform kernel audit"
check "the daemon and the kernel filter after it" "no difference" \
  "$(grep '^Audit: ' "$work/console.out" | tail -n 1 | sed 's/.*, //')"

# ---- 255 rules: a bulk walk of the rule table returns every row once, in order.
console "clear running-config" "configure terminal"
lines=()
for ((i = 1; i <= 255; i++)); do lines+=("ip dhcp screening server-ip 10.1.$i.1 ports eth1.1"); done
console "${lines[@]}" "end"
rows=$(snmpbulkwalk -Oqn "${reader[@]}" dhcpftrPermitStatus 2>&1 |
  sed -n 's/^\.1\.3\.6\.1\.3\.2026\.1\.3\.1\.4\.\([0-9.]*\)\.0\.0\.0\.0\.0\.0 active$/\1/p')
check "255 rows in order" "$(for ((i = 1; i <= 255; i++)); do echo "10.1.$i.1"; done)" "$rows"

# ---- The switch ends with its console, and no process of the test is left.
exec 3>&-
wait "$switch_pid" || fail "the switch ended with status $?"
switch_pid=
grep -i 'runtime error\|AddressSanitizer\|LeakSanitizer' "$work/console.out" && fail "sanitizer report"

if [[ $failures -ne 0 ]]; then
  echo "--- switch log (last lines)"
  tail -n 20 "$work/switch.log"
  echo "$failures check(s) failed"
  exit 1
fi
echo "all SNMP checks passed"
