#!/usr/bin/env bash
# Installs the Debian packages every make target needs (Debian 12): the host toolchain and CMake/Ninja,
# GoogleTest (prebuilt, and its sources for the target build), Google Benchmark, readline, the PowerPC cross
# compiler and qemu-user for the target tests. Quick when everything is there: one dpkg-query, nothing else.
set -euo pipefail

packages=(
  make cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  libreadline-dev
  g++-powerpc-linux-gnu qemu-user
  valgrind
)

if ! command -v dpkg-query >/dev/null 2>&1; then
  echo "deps.sh: no dpkg here; install by hand: ${packages[*]}" >&2
  exit 0
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
[[ ${#missing[@]} -eq 0 ]] && exit 0

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
