#!/usr/bin/env bash
# Runs one fuzz target of tests/fuzz on its committed inputs (under $DHCPFTR_EMULATOR when set: the cross-built
# target under qemu).
#
#   run.sh TARGET NAME replay [OPTION...]  runs every input of corpus/NAME and regressions/NAME once
#   run.sh TARGET NAME fuzz [OPTION...]    fuzzes starting from them, with libFuzzer's options (-runs=N,
#                                          -max_total_time=S, -artifact_prefix=DIR/NAME-, ...)
#
# The committed directories are only read: new inputs go into FUZZ_WORK_DIR when it is set (kept, so that a
# later run goes on from them), otherwise into a scratch directory removed at the end. NAME.dict, when there is
# one, is the dictionary of words libFuzzer inserts.
set -euo pipefail

if [[ $# -lt 3 ]]; then
  echo "usage: $0 TARGET NAME replay|fuzz [LIBFUZZER-OPTION...]" >&2
  exit 2
fi
target=$1 name=$2 mode=$3
shift 3
read -r -a emulator <<<"${DHCPFTR_EMULATOR-}"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
inputs=()
for dir in "$here/corpus/$name" "$here/regressions/$name"; do
  [[ -d $dir ]] && inputs+=("$dir")
done

# libFuzzer writes a failing input where -artifact_prefix says; make its directory.
for option in "$@"; do
  if [[ $option == -artifact_prefix=* ]]; then
    prefix=${option#-artifact_prefix=}
    if [[ $prefix == */ ]]; then mkdir -p "$prefix"; else mkdir -p "$(dirname "$prefix")"; fi
  fi
done

case $mode in
  replay)
    files=()
    if [[ ${#inputs[@]} -gt 0 ]]; then
      mapfile -t files < <(find "${inputs[@]}" -type f ! -name '.*' | sort)
    fi
    if [[ ${#files[@]} -eq 0 ]]; then
      echo "$name: no inputs to replay"
      exit 0
    fi
    # Files (not directories) as arguments: libFuzzer runs each once and stops.
    exec "${emulator[@]}" "$target" "$@" "${files[@]}"
    ;;
  fuzz)
    work=${FUZZ_WORK_DIR:-}
    if [[ -z $work ]]; then
      work=$(mktemp -d "${TMPDIR:-/tmp}/dhcpftr-fuzz-$name.XXXXXX")
      trap 'rm -rf -- "$work"' EXIT
    fi
    mkdir -p "$work"
    dict=()
    [[ -f $here/$name.dict ]] && dict=("-dict=$here/$name.dict")
    # The first directory is the one libFuzzer writes new inputs into.
    "$target" "${dict[@]}" "$@" "$work" "${inputs[@]}"
    ;;
  *)
    echo "$0: unknown mode $mode (replay or fuzz)" >&2
    exit 2
    ;;
esac
