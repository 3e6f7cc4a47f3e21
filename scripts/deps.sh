#!/usr/bin/env bash
# Installs the Debian packages every make target needs (Debian 12): the host toolchain and CMake/Ninja, clang 14
# with libFuzzer (the fuzz targets), GoogleTest (prebuilt, and its sources for the target build), Google
# Benchmark, readline, libpcap (the capture files of the traffic commands), the PowerPC cross compiler and qemu-user for the target tests,
# net-snmp (the agent library, the master agent snmpd and the command-line tools) and smitools (smilint), the
# kernel data path's libbpf, bpftool (its skeleton) and libnl-route-3 (the bridge's ports), the live lab's
# tools (iproute2, dnsmasq, udhcpc; tcpdump and netsniff-ng's trafgen for its test and benchmark), libsystemd
# (readiness for the service manager) and what builds and checks the Debian package (scdoc for the man pages,
# dpkg-dev's dpkg-shlibdeps, lintian);
# then the IETF MIB modules into mibs/ietf (scripts/ietf_mibs.sh, with npm). Quick when everything is there: one
# dpkg-query and a look at mibs/ietf, nothing else.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

packages=(
  make cmake ninja-build g++ pkg-config
  clang-14 libclang-rt-14-dev
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  libreadline-dev
  libpcap-dev
  g++-powerpc-linux-gnu qemu-user
  valgrind
  snmpd snmp snmptrapd libsnmp-dev smitools
  libbpf-dev bpftool libnl-route-3-dev
  iproute2 dnsmasq-base udhcpc tcpdump netsniff-ng
  libsystemd-dev scdoc dpkg-dev lintian
)
# npm fetches the IETF MIB modules. Debian's package only when there is no npm at all: a Node.js from
# elsewhere (NodeSource's nodejs) brings its own npm and conflicts with Debian's.
command -v npm >/dev/null 2>&1 || packages+=(npm)

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "deps.sh: no dpkg here; install by hand: ${packages[*]}" >&2
  exec "$here/ietf_mibs.sh"
fi

# One dpkg-query for all: packages dpkg has never heard of are simply not listed.
declare -A state=()
while read -r name want flag status; do
  state[${name%%:*}]="$want $flag $status"
done < <(dpkg-query -W -f='${Package} ${Status}\n' "${packages[@]}" 2>/dev/null || true)
missing=()
for p in "${packages[@]}"; do
  [[ ${state[$p]-} == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exec "$here/ietf_mibs.sh"

echo "deps.sh: installing ${missing[*]}" >&2
if [[ $(id -u) -eq 0 ]]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "deps.sh: not root and no sudo; as root run: apt-get install ${missing[*]}" >&2
  exit 1
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
"$here/ietf_mibs.sh"
