#!/usr/bin/env bash
# Rule changes under load: 1,000 rule changes reach the switch in one session while trafgen floods
# eth1.2 (the rogue's port, its dnsmasq stopped) with DHCP server replies to client 1 from 20 addresses, as
# fast as one CPU sends them. Whatever the timing, the verdict is exact:
#
#   10.10.2.1-10  never permitted to client 1 on eth1.2 (1-5 have a rule on eth1.1 and, added and removed
#                 all the time, one for client 2 on eth1.2): not one reaches client 1
#   10.10.3.1-5   permitted throughout, their rules updated all the time (eth1.1, eth1.3 and eth1.4 added
#                 and removed): every one reaches client 1; an update that is not one step in the kernel's
#                 map drops some
#   10.10.1.1-5   permitted, then not, all the time: either, but client 1 gets exactly what their rules' hit
#                 counters counted
#
# and the port's counters add up: forwarded and dropped make what the rogue sent, forwarded is what client 1
# got. Meanwhile client 2 leases again and again from the legitimate server, whose rule stays.
#
# Then the kernel filter's order, maps first and the answer after: 10.10.4.1 loses its rule, and 10.10.5.1
# gets one whose answer the filter holds back for a second (platform kernel delay). Replies of both sent
# while the daemon waits for that answer: none of 10.10.4.1 may arrive (its removal was answered), and every
# one of 10.10.5.1 must (the filter has taken the rule, so its map holds it). At the end the filter's tables
# are the daemon's configuration (platform kernel audit).
#
#   churn_test.sh DHCPFTR SOURCE_DIR      skipped (77) as lab_test.sh is
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
live_up "$1" "$2" dhcpftr-churn 2

cli1=dhcpftr-churn-cli1
rogue=dhcpftr-churn-rogue
client2=02:00:00:00:01:02

lab server rogue stop         # eth1.2 carries the flood alone
lab lease 1 >/dev/null        # the bridge learns client 1's port, so the flood goes there alone
setup=("configure terminal" "ip dhcp screening ports eth1.1-1.2" "ip dhcp screening server-ip 10.10.0.1 ports eth1.1")
for i in 1 2 3 4 5; do
  setup+=("ip dhcp screening server-ip 10.10.3.$i ports eth1.2" "ip dhcp screening server-ip 10.10.2.$i ports eth1.1")
done
setup+=("ip dhcp screening server-ip 10.10.4.1 ports eth1.2")
out=$(lab cli "${setup[@]}" "end" "platform traffic clear")
[[ -z $out ]] || fail "setup: $out"

# The changes: 20 rounds of 25 made and 25 undone.
changes=()
for ((round = 0; round < 20; round++)); do
  for no in "" "no "; do
    for i in 1 2 3 4 5; do
      changes+=("${no}ip dhcp screening server-ip 10.10.1.$i ports eth1.2"
        "${no}ip dhcp screening server-ip 10.10.2.$i client-mac $client2 ports eth1.2")
      for port in eth1.1 eth1.3 eth1.4; do changes+=("${no}ip dhcp screening server-ip 10.10.3.$i ports $port"); done
    done
  done
done
# Two thirds of the flood are the replies whose rules are updated: the more there are, the surer one falls
# between the two steps of an update that is not one.
for i in 1 2 3 4 5; do
  a=10.10.3.$i
  for server in $a 10.10.1.$i $a 10.10.2.$i $a 10.10.2.$((i + 5)) $a $a $a; do dhcp_reply $server 1; done
done >"$LAB_DIR/flood.trafgen"
{ dhcp_reply 10.10.4.1 1; dhcp_reply 10.10.5.1 1; } >"$LAB_DIR/held.trafgen"
replies='udp src port 67 and src net'
tap forbidden $cli1 eth0 "$replies (10.10.2.0/24 or 10.10.4.0/24)"
tap permitted $cli1 eth0 "$replies (10.10.3.0/24 or 10.10.5.0/24)"
tap churned $cli1 eth0 "$replies 10.10.1.0/24"
tap sent dhcpftr-churn-sw rogue "$replies (10.10.3.0/24 or 10.10.5.0/24)"   # before the program
tx() { ip netns exec $rogue cat /sys/class/net/eth0/statistics/tx_packets; }
tx0=$(tx)

start=$SECONDS
ip netns exec $rogue trafgen --dev eth0 --conf "$LAB_DIR/flood.trafgen" --cpus 1 --no-sock-mem \
  >"$LAB_DIR/trafgen.log" 2>&1 &
flood=$!
(while [[ -d $LAB_DIR && ! -e $LAB_DIR/churned ]]; do lab lease 2; done) >"$LAB_DIR/leases" 2>&1 &
leases=$!
sleep 0.3
began=$(date +%s%N)
out=$(lab cli "platform port show" "configure terminal" "${changes[@]}" "end" "platform port show")
ended=$(date +%s%N)
kill -0 $flood 2>/dev/null || fail "the flood ended before the changes did: $(tail -n 3 "$LAB_DIR/trafgen.log")"
kill -INT $(cat /proc/$flood/task/*/children) $flood   # trafgen sends from a child process
wait $flood
touch "$LAB_DIR/churned"
wait $leases

# The held answer: its wait shows in the daemon's log, a line every 100 ms; from the third on, the filter
# has long taken the rule, and the replies go out well within the second.
log0=$(stat -c %s "$LAB_DIR/switch.log")
lab cli "configure terminal" "no ip dhcp screening server-ip 10.10.4.1 ports eth1.2" "end" \
  "platform kernel delay 1000" "configure terminal" "ip dhcp screening server-ip 10.10.5.1 ports eth1.2" "end" \
  "platform kernel delay 0" >"$LAB_DIR/held.out" &
held=$!
for ((i = 0; i < 50; i++)); do
  tail -c +$((log0 + 1)) "$LAB_DIR/switch.log" | grep -q 'time out 2 times' && break
  sleep 0.02
done
ip netns exec $rogue trafgen --dev eth0 --conf "$LAB_DIR/held.trafgen" --num 4000 --cpus 1 --no-sock-mem \
  >>"$LAB_DIR/trafgen.log" 2>&1 || fail "the replies during the held answer were not sent"
kill -0 $held 2>/dev/null || fail "the held answer came before the replies were sent"
wait $held
sleep 0.2   # the last frames on their way

screened=($(awk '$1 == "eth1.2" { print $4 + $5 }' <<<"$out"))
[[ ${#screened[@]} -eq 2 && ${screened[0]} -gt 0 && ${screened[1]} -gt ${screened[0]} ]] ||
  fail "the flood did not run throughout the changes: eth1.2 screened '${screened[*]}' before and after them"
grep '^%' - "$LAB_DIR/held.out" <<<"$out" && fail "a change was refused"
forbidden=$(tapped forbidden) permitted=$(tapped permitted) churned=$(tapped churned) sent=$(tapped sent)
sent_all=$(($(tx) - tx0))
out=$(lab cli "platform traffic show" "platform kernel audit")
read -r forwarded dropped malformed < <(awk '$1 == "eth1.2" { print $2, $3, $4 }' <<<"$out")
# The hits by the rules' server networks, a removed rule's included.
hits() { awk -v net="$1" 'index($1, net) == 1 { sum += $NF } END { print sum + 0 }' <<<"$out"; }

never_hits=$(($(hits 10.10.2.) + $(hits 10.10.4.))) permitted_hits=$(($(hits 10.10.3.) + $(hits 10.10.5.)))
[[ $forbidden == 0 && $never_hits == 0 ]] ||
  fail "$forbidden replies never permitted reached client 1, their rules counted $never_hits hits"
[[ $permitted == "$sent" && $sent -gt 0 && $permitted == "$permitted_hits" ]] ||
  fail "client 1 got $permitted of the $sent permitted replies, their rules counted $permitted_hits hits"
[[ $churned == $(hits 10.10.1.) && $churned -gt 0 ]] ||
  fail "client 1 got $churned of the churned replies, their rules counted $(hits 10.10.1.) hits"
[[ $forwarded == $((permitted + churned)) && $((forwarded + dropped)) == "$sent_all" && $malformed == 0 ]] ||
  fail "eth1.2 forwarded $forwarded, dropped $dropped ($malformed malformed) of the $sent_all sent;" \
    "client 1 got $((permitted + churned))"
[[ $out == *"Audit: "*" rules, 2 ports, no difference"* ]] || fail "audit: $(grep -A5 Audit <<<"$out")"
total=$(grep -c . "$LAB_DIR/leases")
good=$(grep -c '^client 2: 10\.10\.0\.1[0-4][0-9] from 10\.10\.0\.1$' "$LAB_DIR/leases")
[[ $total -gt 0 && $good == "$total" ]] || fail "leases of client 2: $(sort "$LAB_DIR/leases" | uniq -c)"

echo "1000 changes in $(((ended - began) / 1000000)) ms under a flood of $sent_all replies on eth1.2" \
  "($forwarded forwarded, $dropped dropped): client 1 got $permitted of $sent permitted, $churned churned," \
  "$forbidden never permitted; client 2 leased $good of $total times; $((SECONDS - start)) s"
live_end
