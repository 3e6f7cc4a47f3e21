#!/usr/bin/env bash
# Runs one CLI transcript case through `dhcpftr --batch` and compares what it prints.
#
#   usage: run.sh DHCPFTR CASE.t
#   TRANSCRIPT_UPDATE=1 run.sh DHCPFTR CASE.t   rewrites the case's expected output (and stderr, when the
#                                                case compares it) with what dhcpftr printed; review the diff
#
# A case file:
#   # args: --level 15 --log-level 7    extra options for dhcpftr (optional; other "#" lines are comments)
#   --- file startup-config.conf        optional, repeatable: a file created in the scratch directory first
#   ...its lines...
#   --- input                           lines fed to standard input
#   ...
#   --- output                          the exact expected standard output
#   ...
#   --- stderr                          optional: the exact expected standard error (otherwise not compared)
#   ...
#   --- exit N                          optional: the expected exit status (default 0)
#
# In expected texts "[#]" stands for "[" digits "]" (log lines carry source line numbers): every "[digits]" is
# rewritten to "[#]" on both sides before comparing, and the time stamp that starts a line of the log buffer
# ("Dec  8 08:30:01.123: ") to "MMM DD HH:MM:SS.mmm: ". dhcpftr runs in a fresh scratch directory (so files it
# writes, such as the startup configuration, never land in the tree), under $DHCPFTR_EMULATOR if set
# (e.g. "qemu-ppc -L /usr/powerpc-linux-gnu" for the target build).
set -uo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 DHCPFTR CASE.t" >&2
  exit 2
fi
dhcpftr=$(realpath -- "$1") || exit 2
case_file=$(realpath -- "$2") || exit 2
case_name=$(basename -- "$case_file")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/dhcpftr-transcript.XXXXXX") || exit 2
trap 'rm -rf -- "$scratch"' EXIT
mkdir "$scratch/run" "$scratch/expected"

fail_format() {
  echo "$case_name:$1: $2" >&2
  exit 2
}

# ---- Parse the case into files.
args=()
section=""        # "", file, input, output, stderr
target=""
expect_exit=0
have_input=0 have_output=0 have_stderr=0 have_exit=0
lineno=0
while IFS= read -r line || [[ -n $line ]]; do
  lineno=$((lineno + 1))
  if [[ $line == "--- "* ]]; then
    read -r -a words <<<"${line#--- }"
    case "${words[0]-}" in
      file)
        [[ ${#words[@]} -eq 2 && ${words[1]} != */* && ${words[1]} != .* ]] \
          || fail_format "$lineno" "expected '--- file NAME' (a plain file name)"
        [[ $section == "" || $section == file ]] || fail_format "$lineno" "'--- file' must come before '--- input'"
        section=file target="$scratch/run/${words[1]}"
        [[ -e $target ]] && fail_format "$lineno" "file ${words[1]} given twice"
        : >"$target" ;;
      input)
        [[ $have_input -eq 0 && ${#words[@]} -eq 1 ]] || fail_format "$lineno" "misplaced '--- input'"
        section=input have_input=1 target="$scratch/input" ; : >"$target" ;;
      output)
        [[ $have_input -eq 1 && $have_output -eq 0 && ${#words[@]} -eq 1 ]] \
          || fail_format "$lineno" "'--- output' must follow '--- input', once"
        section=output have_output=1 target="$scratch/expected/stdout" ; : >"$target" ;;
      stderr)
        [[ $have_output -eq 1 && $have_stderr -eq 0 && $have_exit -eq 0 && ${#words[@]} -eq 1 ]] \
          || fail_format "$lineno" "'--- stderr' must follow '--- output', once"
        section=stderr have_stderr=1 target="$scratch/expected/stderr" ; : >"$target" ;;
      exit)
        [[ $have_output -eq 1 && $have_exit -eq 0 && ${#words[@]} -eq 2 && ${words[1]} =~ ^[0-9]+$ ]] \
          || fail_format "$lineno" "expected '--- exit N' after the output"
        section=exit have_exit=1 expect_exit=${words[1]} target="" ;;
      *)
        fail_format "$lineno" "unknown section '$line'" ;;
    esac
    continue
  fi
  case "$section" in
    "")
      if [[ $line =~ ^#[[:space:]]*args:(.*)$ ]]; then
        [[ ${#args[@]} -eq 0 ]] || fail_format "$lineno" "'# args:' given twice"
        read -r -a args <<<"${BASH_REMATCH[1]}"
      elif [[ -n $line && $line != "#"* ]]; then
        fail_format "$lineno" "text before '--- input'"
      fi ;;
    exit)
      [[ -z $line ]] || fail_format "$lineno" "text after '--- exit N'" ;;
    *)
      printf '%s\n' "$line" >>"$target" ;;
  esac
done <"$case_file"
[[ $have_output -eq 1 ]] || fail_format "$lineno" "no '--- input' / '--- output' sections"

# ---- Run.
read -r -a emulator <<<"${DHCPFTR_EMULATOR-}"
(cd "$scratch/run" && exec "${emulator[@]}" "$dhcpftr" --batch "${args[@]}") \
  <"$scratch/input" >"$scratch/stdout" 2>"$scratch/stderr"
status=$?

# ---- Rewrite the expected texts, when asked to.
if [[ ${TRANSCRIPT_UPDATE-} == 1 ]]; then
  {
    sed -n '1,/^--- output$/p' "$case_file"
    cat "$scratch/stdout"
    if [[ $have_stderr -eq 1 ]]; then
      echo "--- stderr"
      cat "$scratch/stderr"
    fi
    sed -n '/^--- exit /,$p' "$case_file"
  } >"$scratch/updated"
  cp -- "$scratch/updated" "$case_file"
  cp -- "$scratch/stdout" "$scratch/expected/stdout"
  [[ $have_stderr -eq 1 ]] && cp -- "$scratch/stderr" "$scratch/expected/stderr"
fi

# ---- Compare.
normalise() {
  sed -E -e 's/\[[0-9]+\]/[#]/g' \
    -e 's/^[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2}\.[0-9]{3}: /MMM DD HH:MM:SS.mmm: /' "$1"
}
ok=1
compare() {  # compare LABEL EXPECTED ACTUAL
  if ! diff -u --label "$1 expected" --label "$1 actual" <(normalise "$2") <(normalise "$3"); then
    ok=0
  fi
}
compare stdout "$scratch/expected/stdout" "$scratch/stdout"
if [[ $have_stderr -eq 1 ]]; then
  compare stderr "$scratch/expected/stderr" "$scratch/stderr"
fi
if [[ $status -ne $expect_exit ]]; then
  echo "exit status: expected $expect_exit, got $status"
  ok=0
fi
if [[ $ok -eq 0 ]]; then
  if [[ $have_stderr -eq 0 && -s $scratch/stderr ]]; then
    echo "--- stderr of dhcpftr:"
    cat "$scratch/stderr"
  fi
  echo "FAIL: $case_name"
  exit 1
fi
echo "ok: $case_name"
