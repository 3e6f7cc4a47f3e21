#!/usr/bin/env bash
# Round trip of the running configuration: for each seed, a random screening configuration is typed into
# one `dhcpftr --batch`, its running configuration is saved with "write memory", and a fresh `dhcpftr` boots
# from that file. Both must then show the same running configuration, the same "show ip dhcp screening" and
# the same kernel filter tables.
#
#   usage: roundtrip.sh DHCPFTR FIRST_SEED COUNT
#
# Runs under $DHCPFTR_EMULATOR if set (e.g. "qemu-ppc -L /usr/powerpc-linux-gnu"). Prints the seed and a
# unified diff on failure.
set -uo pipefail

if [[ $# -ne 3 ]]; then
  echo "usage: $0 DHCPFTR FIRST_SEED COUNT" >&2
  exit 2
fi
dhcpftr=$(realpath -- "$1") || exit 2
first_seed=$2
count=$3
read -r -a emulator <<<"${DHCPFTR_EMULATOR-}"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dhcpftr-roundtrip.XXXXXX") || exit 2
trap 'rm -rf -- "$scratch"' EXIT

# Trunks named in a startup configuration are created by the boot only after the replay: their enabling
# and rules wait in the pending lists and are applied by the interface-add hook when the trunk appears.

# One interface name: a port of any slot, or one of the trunks the default chassis boots with.
random_name() {
  if ((RANDOM % 8 == 0)); then
    echo "port-channel$((RANDOM % 8 + 1))"
  else
    echo "eth$((RANDOM % 10 + 1)).$((RANDOM % 48 + 1))"
  fi
}

# A range text of one to four pieces, single names or runs within a slot, spaces here and there.
random_range() {
  local pieces=() n=$((RANDOM % 4 + 1)) i slot port end
  for ((i = 0; i < n; i++)); do
    if ((RANDOM % 2)); then
      slot=$((RANDOM % 10 + 1)) port=$((RANDOM % 40 + 1))
      end=$((port + RANDOM % 8))
      pieces+=("eth$slot.$port-$slot.$end")
    else
      pieces+=("$(random_name)")
    fi
  done
  local IFS=,
  echo "${pieces[*]}"
}

# A client MAC in one of the four forms the rule command reads.
random_mac() {
  local b=() i
  for ((i = 0; i < 6; i++)); do b+=($((RANDOM % 256))); done
  case $((RANDOM % 4)) in
    0) printf '%02x:%02x:%02x:%02x:%02x:%02x' "${b[@]}" ;;
    1) printf '%02X-%02X-%02X-%02X-%02X-%02X' "${b[@]}" ;;
    2) printf '%02x%02x.%02x%02x.%02x%02x' "${b[@]}" ;;
    3) printf '%02x%02x%02x%02x%02x%02x' "${b[@]}" ;;
  esac
}

# The commands of one random configuration, "no" forms included.
random_config() {
  local i servers=()
  for ((i = 0; i < 6; i++)); do servers+=("10.$((RANDOM % 256)).$((RANDOM % 256)).$((RANDOM % 254 + 1))"); done
  echo "configure terminal"
  for ((i = 0; i < 30; i++)); do
    case $((RANDOM % 10)) in
      0 | 1) echo "ip dhcp screening ports $(random_range)" ;;
      2) echo "no ip dhcp screening ports $(random_range)" ;;
      3 | 4 | 5) echo "ip dhcp screening server-ip ${servers[RANDOM % 6]} ports $(random_range)" ;;
      6) echo "ip dhcp screening server-ip ${servers[RANDOM % 6]} client-mac $(random_mac) ports $(random_range)" ;;
      7) echo "no ip dhcp screening server-ip ${servers[RANDOM % 6]} ports $(random_range)" ;;
      8) if ((RANDOM % 2)); then echo "ip dhcp screening trap-log"; else echo "no ip dhcp screening trap-log"; fi ;;
      9) if ((RANDOM % 3)); then echo "ip dhcp screening suppress-duration $((RANDOM % 30 + 1))"
         else echo "no ip dhcp screening suppress-duration"; fi ;;
    esac
  done
  echo "end"
}

views="show running-config
show ip dhcp screening
platform kernel show"

failed=0
for ((seed = first_seed; seed < first_seed + count; seed++)); do
  RANDOM=$seed
  dir="$scratch/$seed"
  mkdir -p "$dir/first" "$dir/second"
  { random_config; echo "write memory"; echo "$views"; } >"$dir/input"
  (cd "$dir/first" && exec "${emulator[@]}" "$dhcpftr" --batch --level 15 --startup-config saved.conf) \
    <"$dir/input" >"$dir/first.out" 2>&1
  # The save's own line, and the kernel filter's message counters (the two runs send different numbers of
  # messages), are no part of the configuration.
  sed -i -e '/^Building configuration\.\.\.$/d' -e '/^\[OK\]$/d' -e '/^  Messages /d' "$dir/first.out"
  cp "$dir/first/saved.conf" "$dir/second/saved.conf" 2>/dev/null || : >"$dir/second/saved.conf"
  (cd "$dir/second" && exec "${emulator[@]}" "$dhcpftr" --batch --level 15 --startup-config saved.conf) \
    <<<"$views" >"$dir/second.out" 2>&1
  sed -i -e '/^  Messages /d' "$dir/second.out"
  if ! grep -q '^ip dhcp screening server-ip ' "$dir/first/saved.conf"; then
    echo "FAIL: seed $seed saved no rule"
    failed=1
  elif ! diff -u --label "seed $seed: configured" --label "seed $seed: replayed" "$dir/first.out" "$dir/second.out"; then
    echo "FAIL: seed $seed; its commands:"
    cat "$dir/input"
    failed=1
  fi
done
if ((failed)); then
  exit 1
fi
echo "ok: $count configurations round-tripped (seeds $first_seed to $((first_seed + count - 1)))"
