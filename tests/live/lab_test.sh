#!/usr/bin/env bash
# The simulated switch screening real DHCP traffic in the kernel: a legitimate and a rogue dnsmasq and two
# udhcpc clients in network namespaces of their own, joined by the switch's bridge (scripts/lab.sh). Every
# lease is a fresh exchange: udhcpc starts with a DISCOVER each time.
#
#   lab_test.sh DHCPFTR SOURCE_DIR
#
# Exit 77 (skipped) when not root, when network namespaces cannot be created or BPF programs not loaded, when
# dnsmasq, udhcpc, trafgen or tcpdump is missing, or under an emulator (the lab runs the host's build). The lab has
# namespaces and a work directory of its own (LAB_PREFIX dhcpftr-live), so a developer's lab is not
# disturbed; it is taken down also when a check fails or the test is interrupted.
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
live_up "$1" "$2" dhcpftr-live 2
dhcpftr=$1

# lease N: "SERVER IP" of one exchange of client N, or "none".
lease() {
  local out
  out=$(lab lease "$1")
  if [[ $out =~ ^client\ $1:\ ([0-9.]+)\ from\ ([0-9.]+)$ ]]; then
    echo "${BASH_REMATCH[2]} ${BASH_REMATCH[1]}"
  else
    echo none
  fi
}
# A lease is valid when its address is from the pool of the server that granted it.
valid() {  # SERVER IP
  local host=${2##*.}
  case $1 in
    10.10.0.1) [[ ${2%.*} == 10.10.0 && $host -ge 100 && $host -le 149 ]] ;;
    10.10.0.2) [[ ${2%.*} == 10.10.0 && $host -ge 150 && $host -le 199 ]] ;;
    *) false ;;
  esac
}
# Sets "server" to the server of the lease.
expect_lease() {  # NAME CLIENT SERVER|any
  local got
  got=$(lease "$2")
  if [[ $got == none ]] || ! valid "${got%% *}" "${got#* }" || [[ $3 != any && ${got%% *} != "$3" ]]; then
    fail "$1: client $2 got '$got', expected a lease from $3"
  fi
  server=${got%% *}
}
expect_no_lease() {  # NAME CLIENT
  local got
  got=$(lease "$2")
  [[ $got == none ]] || fail "$1: client $2 got '$got', expected no lease"
}
# The lines the switch printed outside its sessions (the boot's replay reports a refused line there) since
# the line count given.
printed_since() { tail -n +$(($1 + 1)) "$LAB_DIR/switch.out"; }
printed() { wc -l <"$LAB_DIR/switch.out"; }
# Ends the switch with SIGTERM and waits until it has.
end_switch() {
  local pid i
  pid=$(cat "$LAB_DIR/switch.pid")
  kill -TERM "$pid"
  for ((i = 0; i < 50; i++)); do
    grep -qs '^State:[[:space:]]*[^Z]' "/proc/$pid/status" || break
    sleep 0.1
  done
}

rogue_replies() { grep -cE 'DHCP(OFFER|ACK|NAK)\(eth0\)' "$LAB_DIR/rogue.log"; }
reports() { grep -c "kernel: illegal DHCP server ${1//./\\.} on $2, client" "$LAB_DIR/switch.log"; }
# Waits (5 s at most) until every reply the rogue has logged is counted as dropped on eth1.2 by the kernel,
# as the port (platform port show) and the filter (platform traffic show) show it: a reply still in flight
# is waited for.
expect_rogue_dropped() {  # NAME PORT-BASE FILTER-BASE REPLIES-BASE
  local i port filter replies
  for ((i = 0; i < 50; i++)); do
    replies=$(($(rogue_replies) - $4))
    port=$(($(counter "platform port show" eth1.2 Dropped) - $2))
    filter=$(($(counter "platform traffic show" eth1.2 Dropped) - $3))
    [[ $replies -gt 0 && $port -eq $replies && $filter -eq $replies ]] && return 0
    sleep 0.1
  done
  fail "$1: the rogue sent $replies replies; dropped on eth1.2: $port by the port, $filter by the filter"
}

start=$SECONDS

# ---- 1. No screening: both servers' replies reach the clients. With the legitimate server stopped the
# ---- rogue's lease must come through.
first=()
for ((i = 0; i < 3; i++)); do
  expect_lease "no screening" 1 any
  first+=("$server")
done
echo "no screening: client 1 leased from ${first[*]}"
lab server srv stop
expect_lease "no screening, only the rogue" 1 10.10.0.2
lab server srv start

# ---- 2. Screening on the server ports, a rule for the legitimate server only: every lease comes from it and
# ---- every reply of the rogue is dropped (the report is checked at the end).
lab cli "configure terminal" "ip dhcp screening ports eth1.1-1.2" \
  "ip dhcp screening server-ip 10.10.0.1 ports eth1.1" "ip dhcp screening trap-log" "end" >/dev/null
port0=$(counter "platform port show" eth1.2 Dropped)
filter0=$(counter "platform traffic show" eth1.2 Dropped)
filter0=${filter0:-0}
replies0=$(rogue_replies)
for ((i = 0; i < 10; i++)); do expect_lease "screening" $((i % 2 + 1)) 10.10.0.1; done
expect_rogue_dropped "screening" "$port0" "$filter0" "$replies0"
# The sharper check: without the legitimate server no client gets a lease, though the rogue answers.
lab server srv stop
replies0=$(rogue_replies)
LAB_TRIES=2 expect_no_lease "screening, only the rogue" 1
[[ $(rogue_replies) -gt $replies0 ]] || fail "screening, only the rogue: the rogue did not answer"
lab server srv start

# ---- 3. A rule that lets the rogue serve client 1 (02:00:00:00:01:01) only: client 1 takes a valid lease from
# ---- either server, client 2 only from the legitimate one; without the legitimate server client 1 must get
# ---- its lease from the rogue and client 2 none.
lab cli "configure terminal" "ip dhcp screening server-ip 10.10.0.2 client-mac 02:00:00:00:01:01 ports eth1.2" \
  "end" >/dev/null
servers=()
for ((i = 0; i < 5; i++)); do
  expect_lease "rogue for client 1" 1 any
  servers+=("$server")
  expect_lease "rogue for client 1" 2 10.10.0.1
done
echo "rogue allowed for client 1: client 1 leased from ${servers[*]}"
lab server srv stop
for ((i = 0; i < 3; i++)); do expect_lease "rogue for client 1, only the rogue" 1 10.10.0.2; done
offers0=$(grep -c 'DHCPOFFER(eth0) [0-9.]* 02:00:00:00:01:02' "$LAB_DIR/rogue.log")
LAB_TRIES=2 expect_no_lease "rogue for client 1, only the rogue" 2
[[ $(grep -c 'DHCPOFFER(eth0) [0-9.]* 02:00:00:00:01:02' "$LAB_DIR/rogue.log") -gt $offers0 ]] ||
  fail "rogue for client 1, only the rogue: the rogue made no offer to client 2"

# The rogue's replies dropped on eth1.2 since the trap/log went on all fall within one suppress duration (10
# minutes): one report. The legitimate server is never reported.
[[ $(reports 10.10.0.2 eth1.2) -eq 1 ]] || fail "$(reports 10.10.0.2 eth1.2) reports of 10.10.0.2 on eth1.2, expected 1"
[[ $(reports 10.10.0.1 '[^ ]*') -eq 0 ]] || fail "the legitimate server was reported"

# ---- 4. The switch killed (kill -9) and started again while the rogue floods server replies, one for
# ---- client 1 (permitted) and one for client 2 (not) in turns, 50 us apart for about 3 s (trafgen's --rate
# ---- sends bursts, a second apart, which a restart may fall between). The killed switch's
# ---- program screens until the new switch has replayed its startup configuration and swapped its own
# ---- program in: not one of the rogue's replies reaches client 2 (tcpdump on its interface), and the new
# ---- program both forwards and drops some of the flood (the restart fell within it). The attach lines of
# ---- the startup configuration name the ports the new switch takes over: its replay refuses none. Then the
# ---- permitted exchanges succeed.
lab cli "write memory" >/dev/null
attached=$(grep -c '^platform port attach eth1\.[1-4] \(srv\|rogue\|cli1\|cli2\)$' "$LAB_DIR/startup-config")
[[ $attached -eq 4 ]] || fail "write memory: $attached attach lines in the startup configuration, expected 4"
out0=$(printed)
{ dhcp_reply 10.10.0.2 1; dhcp_reply 10.10.0.2 2; } >"$LAB_DIR/flood.trafgen"
tap leaked dhcpftr-live-cli2 eth0 'udp src port 67 and ether dst 02:00:00:00:01:02'
timeout 10 ip netns exec dhcpftr-live-rogue trafgen --dev eth0 --conf "$LAB_DIR/flood.trafgen" --gap 50us \
  --num 40000 --cpus 1 --no-sock-mem >"$LAB_DIR/trafgen.log" 2>&1 &
flood=$!
sleep 0.5
lab restart -9 || fail "restart: the switch did not come back"
wait "$flood"
[[ $(grep -c 'ports: eth1\.[1-4] on [a-z0-9]* taken over' "$LAB_DIR/switch.log") -eq 4 ]] ||
  fail "restart: the new switch did not take over the 4 ports"
[[ -z $(printed_since "$out0") ]] || fail "restart: the switch printed: $(printed_since "$out0")"
sleep 0.2
leaked=$(tapped leaked)
forwarded=$(counter "platform port show" eth1.2 Forwarded)
dropped=$(counter "platform port show" eth1.2 Dropped)
[[ ${forwarded:-0} -gt 0 && ${dropped:-0} -gt 0 ]] ||
  fail "restart: the new switch's program forwarded ${forwarded:-0} and dropped ${dropped:-0} of the flood"
[[ $leaked == 0 ]] || fail "restart: $leaked replies reached client 2"
echo "restart during a flood: the new program forwarded $forwarded and dropped $dropped, client 2 received $leaked"
expect_lease "after the restart, only the rogue" 1 10.10.0.2
lab server srv start
expect_lease "after the restart" 2 10.10.0.1
echo "checks took $((SECONDS - start)) s"

# ---- The switch ends on SIGTERM: it takes its ports out of the bridge, which it deletes, and leaves no
# ---- sanitizer report.
end_switch
ip -n dhcpftr-live-sw link show dhcpftr0 >/dev/null 2>&1 && fail "the switch's bridge is left after its end"
ip -n dhcpftr-live-sw link show | grep -q ' master ' && fail "an interface is left in a bridge after the switch's end"

# ---- Started again with the same startup configuration (and nothing attached by hand), the switch has its
# ---- ports back from the replay, screened by the new program: client 2 leases from the legitimate server and
# ---- the rogue's offers to it are dropped on eth1.2.
out0=$(printed)
(source "$2/scripts/lab.sh" && lab_run_switch) || fail "start again: the switch did not start"
ports=$(lab cli "platform port show" | awk 'NR > 1 { printf "%s:%s ", $1, $2 }')
[[ $ports == "eth1.1:srv eth1.2:rogue eth1.3:cli1 eth1.4:cli2 " ]] || fail "start again: the ports are '$ports'"
[[ -z $(printed_since "$out0") ]] || fail "start again: the switch printed: $(printed_since "$out0")"
expect_lease "start again" 2 10.10.0.1
for ((i = 0; i < 20; i++)); do
  dropped=$(counter "platform port show" eth1.2 Dropped)
  [[ ${dropped:-0} -gt 0 ]] && break
  sleep 0.1
done
[[ ${dropped:-0} -gt 0 ]] || fail "start again: nothing of the rogue's was dropped on eth1.2"
end_switch
ip -n dhcpftr-live-sw link show | grep -q ' master ' && fail "an interface is left in a bridge after the second end"

# ---- A bridge of the host (--bridge): an interface that was in it before stays in it after the switch's
# ---- end, one the switch put in leaves it again, the bridge stays; an interface of another bridge is refused.
sw=dhcpftr-live-sw
ip -n $sw link add br-host type bridge && ip -n $sw link set cli1 master br-host &&
  ip -n $sw link add br-other type bridge && ip -n $sw link set srv master br-other || fail "no host bridges"
out=$(printf '%s\n' "platform port attach eth1.3 cli1" "platform port attach eth1.4 cli2" \
  "platform port attach eth1.1 srv" "platform port show" |
  ip netns exec $sw "$dhcpftr" --batch --level 15 --bridge br-host 2>&1)
[[ $out == "% srv is enslaved to br-other"*"eth1.3    cli1"*"eth1.4    cli2"* ]] || fail "--bridge: $out"
masters=$(ip -n $sw -o link show | grep -o '^[0-9]*: [a-z0-9-]*@[^:]*:.* master [a-z-]*' |
  sed 's/^[0-9]*: \([a-z0-9-]*\)@.* master \([a-z-]*\)$/\1:\2/' | sort | tr '\n' ' ')
[[ $masters == "cli1:br-host srv:br-other " ]] || fail "--bridge: after the switch's end the masters are '$masters'"
lab down >/dev/null 2>&1
grep -i 'runtime error\|AddressSanitizer\|LeakSanitizer\|ThreadSanitizer' "$LAB_DIR/switch.out" &&
  fail "sanitizer report"

live_end
