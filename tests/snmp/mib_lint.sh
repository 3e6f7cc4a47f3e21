#!/usr/bin/env bash
# DHCPFTR-MIB: smilint at level 6 says nothing about it but that DhcpftrPortList has no display hint (on
# purpose: port lists show as hex octets, like Q-BRIDGE-MIB's PortList), and net-snmp reads it with only mibs/ and
# mibs/ietf/: its objects have the numbers the subagent serves, and a row's OID splits into the index the
# subagent builds (server address, then the client MAC as six sub-identifiers without a length).
# Exit 77 (skipped) when the IETF modules are not in mibs/ietf (scripts/ietf_mibs.sh puts them there).
#   mib_lint.sh REPO SMILINT SNMPTRANSLATE
set -uo pipefail

root=$1 smilint=$2 snmptranslate=$3
mib=$root/mibs/DHCPFTR-MIB.txt
ietf=$root/mibs/ietf

for m in SNMPv2-SMI SNMPv2-TC SNMPv2-CONF SNMPv2-MIB IANAifType-MIB IF-MIB; do
  [[ -s $ietf/$m.txt ]] || { echo "skipped: no $ietf/$m.txt (scripts/ietf_mibs.sh fetches it)"; exit 77; }
done

# net-snmp reads no configuration of the host or the user, and writes its indexes here.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/cert_indexes"
export SNMPCONFPATH=$tmp SNMP_PERSISTENT_DIR=$tmp

failed=0
fail() { echo "FAIL: $*"; failed=1; }

# The port-list type has no display hint on purpose (port lists show as hex octets); smilint's one remark
# about that is the only one let through.
lint=$(SMIPATH=$ietf "$smilint" -l 6 -m "$mib" 2>&1 | grep -v "type \`DhcpftrPortList' has no format")
[[ -z $lint ]] || fail "smilint -l 6:"$'\n'"$lint"

translate() { "$snmptranslate" -M "$root/mibs:$ietf" -m DHCPFTR-MIB "$@" 2>"$tmp/err"; }
expect() {  # what, expected, got
  [[ $3 == "$2" ]] || fail "$1:"$'\n'"  expected: $2"$'\n'"  got:      $3"
}

names=(dhcpftrTrapLogState dhcpftrSuppressDuration dhcpftrPermitPorts dhcpftrPermitStatus dhcpftrPortStatus
       dhcpftrNotifications dhcpftrCompliance)
oids=(.1.3.6.1.3.2026.1.1 .1.3.6.1.3.2026.1.2 .1.3.6.1.3.2026.1.3.1.3 .1.3.6.1.3.2026.1.3.1.4
      .1.3.6.1.3.2026.1.4.1.2 .1.3.6.1.3.2026.0 .1.3.6.1.3.2026.2.1.1)
got=$(translate -On "${names[@]/#/DHCPFTR-MIB::}" | grep -v '^$' | tr '\n' ' ')
expect "OIDs of ${names[*]}" "${oids[*]} " "$got"
[[ -s $tmp/err ]] && fail "snmptranslate: $(cat "$tmp/err")"

expect "permit row index" 'DHCPFTR-MIB::dhcpftrPermitPorts[10.0.0.5][STRING: 0:1a:2b:3c:4d:5e]' \
  "$(translate -OX .1.3.6.1.3.2026.1.3.1.3.10.0.0.5.0.26.43.60.77.94 | grep -v '^$')"
expect "port row index" 'DHCPFTR-MIB::dhcpftrPortStatus[5761]' \
  "$(translate -OX .1.3.6.1.3.2026.1.4.1.2.5761 | grep -v '^$')"

[[ $failed -eq 0 ]] && echo "DHCPFTR-MIB: smilint clean, names and indexes resolve"
exit $failed
