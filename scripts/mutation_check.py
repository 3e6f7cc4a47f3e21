#!/usr/bin/env python3
"""Breaks the daemon on purpose, one fault at a time, and reports which faults the tests catch.

    scripts/mutation_check.py [--tests REGEX] [--exclude REGEX] [--faults LIST] [--rev REV] [--work DIR]

The tree at REV (default HEAD, committed changes only) is checked out into a git worktree at DIR (default
/tmp/dhcpftr-mutation, reused by later runs) and built once with the debug preset. Then, for each fault below,
one line of a daemon source is replaced, the tests are built again and the ctest tests matching REGEX (default:
all but the live lab and the SNMP agent, which need more than the build) run until the first failure; the line
is put back before the next fault. A fault is caught when a test fails; a fault that does not build is reported as
such and counts as not caught (the table needs mending).

Typical uses: the mirror tests alone (--tests Mirror) and the whole suite, before and after changing tests, so
that folding tests keeps every fault caught that was caught before.
"""
import argparse
import os
import signal
import subprocess
import sys
import time

SRC = "modules/dhcpftr/user/src/"

# (file, text of the line as it stands, what it becomes, the fault in words)
FAULTS = [
    ("dhcpftr_db_commit.cpp", "        PORTLIST_or(&stored->portlist, &stored->portlist, &rule->portlist);", "        (void)0;",
     "ports added to an existing rule are not stored"),
    ("dhcpftr_db_commit.cpp", "    PORTLIST_maskout(&stored->portlist, &stored->portlist, &rule->portlist);", "    (void)0;",
     "ports removed from a rule stay stored"),
    ("dhcpftr_db_commit.cpp", "if (PORTLIST_chk_empty(&stored->portlist) && Dhcpftr_DB_Delete_Rule(rule) == 0)",
     "if (0 && PORTLIST_chk_empty(&stored->portlist) && Dhcpftr_DB_Delete_Rule(rule) == 0)",
     "a rule without ports is kept"),
    ("dhcpftr_db_commit.cpp", "> DHCPFTR_MAX_RULES - 1)", "> DHCPFTR_MAX_RULES)", "one rule more than the maximum"),
    ("dhcpftr_db_commit.cpp", "    if (!PORTLIST_chk_overlap(&stored->portlist, &rule->portlist)) {",
     "    if (0) {", "a removal without ports in common is sent"),
    ("dhcpftr_db_commit.cpp", "_dhcpftr_pack_set_ports_entry(&msg, ports, op);",
     "_dhcpftr_pack_set_ports_entry(&msg, ports, DHCPFTR_OP_ADD_PORTS);", "every port commit sent as an enabling"),
    ("dhcpftr_db_commit.cpp", "        *result = DHCPFTR_RET_SEND_FAIL;\n        return 0;", "        return 1;",
     "a failed send taken for a sent message"),
    ("dhcpftr_ukcomm.cpp", "        if (_dhcpftr_check_syn_flag(op)) {", "        if (dhcpftr_syn_flag.load()) {",
     "the wait takes an answer of any code"),
    ("dhcpftr_ukcomm.cpp", "    if (answer.op > DHCPFTR_OP_MAX)", "    if (answer.op > DHCPFTR_OP_MAX + 1)",
     "an answer with code 8 is recorded"),
    ("dhcpftr_cli.cpp", "        PORTLIST_or(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);", "        (void)0;",
     "enabled ports are not remembered"),
    ("dhcpftr_cli.cpp", "        PORTLIST_maskout(&dhcpftr_cfg_portlist_db, &dhcpftr_cfg_portlist_db, &ports);",
     "        (void)0;",
     "disabled ports stay enabled"),
    ("dhcpftr_nsm.cpp", "    if (ifp->state != IF_STATE_DELETED_FOR_GOOD)\n        return 0;\n", "",
     "an interface deleted keeping its configuration is flushed"),
    ("dhcpftr_nsm.cpp", "            PORTLIST_clear_port(&dhcpftr_cfg_portlist_db, lport);", "            (void)0;",
     "an interface deleted for good stays enabled"),
    ("dhcpftr_nsm.cpp", "            PORTLIST_clear_port(&dhcpftr_cfg_portlist_db, member);", "            (void)0;",
     "a port joining a trunk stays enabled"),
    ("dhcpftr_nsm.cpp", "    if (notify->change == DHCPFTR_LACP_MEMBER_ADDED)",
     "    if (notify->change != DHCPFTR_LACP_MEMBER_REMOVED)", "every other notification taken for a join"),
    ("dhcpftr_nsm.cpp", "    PORTLIST_set_port(&dhcpftr_portlist_db, lport);", "    (void)0;",
     "an added interface is not marked present"),
    ("dhcpftr_nsm.cpp", "    PORTLIST_clear_port(&dhcpftr_portlist_db, lport);", "    (void)0;",
     "a deleted interface stays present"),
    ("dhcpftr_portrange.cpp", "    if (ifp->state == IF_STATE_TRUNK_MEMBER) {", "    if (0) {",
     "a trunk member accepted in a port range"),
    ("dhcpftr_portrange.cpp", "        if (first == 127)", "        if (first == 126)",
     "a loopback server address accepted"),
    ("dhcpftr_cli_show.cpp", "    if (_dhcpftr_get_trap_duration() != DHCPFTR_DEFAULT_TRAP_DURATION) {",
     "    if (_dhcpftr_get_trap_duration() != 0) {", "the default suppress duration written to the configuration"),
    ("dhcpftr_cli_show.cpp", "        if (printed % DHCPFTR_DBG_NAMES_PER_LINE == 0)",
     "        if (printed % (DHCPFTR_DBG_NAMES_PER_LINE + 1) == 0)", "one port name too many per line of the show"),
    ("dhcpftr_ukcomm.cpp", "    msg->server_ip = entry->server_ip;", "    msg->server_ip = __builtin_bswap32(entry->server_ip);",
     "the server address of a rule message in the wrong byte order"),
    ("dhcpftr_db_commit.cpp", "\"%s [%d]: set rule to kernel failed,ret %d\\n\"",
     "\"%s [%d]: set rule to kernel failed, ret %d\\n\"", "a log line with a blank too many"),
    ("dhcpftr_db_commit.cpp", "_dhcpftr_delete_rule_to_k(__func__, __LINE__, rule, result, DHCPFTR_OP_STK_DEL_RULE);",
     "_dhcpftr_delete_rule_to_k(__func__, __LINE__, rule, result, DHCPFTR_OP_DEL_RULE);",
     "the stacking removal of a rule's ports sent with the operator's code"),
    ("dhcpftr_ukcomm.cpp", "        if (polls >= dhcpftr_wait_max_polls) {",
     "        if (polls > dhcpftr_wait_max_polls) {", "the wait gives up one poll late"),
    ("dhcpftr_ukcomm.cpp", "    if (!_dhcpftr_check_syn_flag(op)) {\n        qvprintf",
     "    if (0) {\n        qvprintf", "a code whose wait gave up sends again before its late answer came"),
    ("dhcpftr_ukcomm.cpp", "    _dhcpftr_clear_syn_flag(op);\n    dhcpftr_late_ops",
     "    dhcpftr_late_ops", "a late answer taken for the next request's"),
    ("dhcpftr_cli_show.cpp", "snprintf(mac, sizeof(mac), \"%s\", \"All Client MAC\");",
     "snprintf(mac, sizeof(mac), \"%s\", \"All Clients MAC\");", "the show's text of a rule for all clients"),
    ("dhcpftr_cli_show.cpp", "        DHCPFTR_CLI_OUT(cli, \"ip dhcp screening trap-log\\n\");\n        DHCPFTR_CLI_OUT(cli, \"!\\n\");",
     "        DHCPFTR_CLI_OUT(cli, \"ip dhcp screening trap-log\\n\");",
     "the running configuration's trap-log line without its \"!\""),
    ("dhcpftr_snmp.cpp", "    key[0] = (uint8_t)(server >> 24);\n    key[1] = (uint8_t)(server >> 16);",
     "    key[1] = (uint8_t)(server >> 24);\n    key[0] = (uint8_t)(server >> 16);",
     "the bridge's row key with two bytes swapped"),
    ("dhcpftr_nsm.cpp", "        _dhcpftr_remove_list_first(trunk_id);\n    }\n    return 0;",
     "        _dhcpftr_remove_list_first(trunk_id);\n        break;\n    }\n    return 0;",
     "only the newest pending rule applied when a trunk appears"),
]


def run(command, cwd, quiet=True):
    return subprocess.run(command, cwd=cwd, shell=True, text=True,
                          stdout=subprocess.PIPE if quiet else None, stderr=subprocess.STDOUT if quiet else None)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--tests", default="", help="ctest -R: the tests to run (default all)")
    parser.add_argument("--exclude", default=r"^live\.|^snmp\.agent", help="ctest -E: tests left out")
    parser.add_argument("--rev", default="HEAD", help="the revision whose tests are checked")
    parser.add_argument("--faults", default="", help="the faults to try by number, as 3,5-8 (default all)")
    parser.add_argument("--work", default="/tmp/dhcpftr-mutation", help="the worktree to build in")
    args = parser.parse_args()
    # Stopped from outside, it still puts the broken line back (the finally below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))

    repo = subprocess.run("git rev-parse --show-toplevel", shell=True, text=True, capture_output=True,
                          check=True).stdout.strip()
    work = args.work
    if not os.path.isdir(work):
        run(f"git worktree add --detach {work} {args.rev}", repo, quiet=False)
    elif run(f"git checkout -q --detach {args.rev}", work, quiet=False).returncode != 0:
        sys.exit(f"cannot check {args.rev} out in {work}")
    head = run("git log --oneline -1", work).stdout.strip()
    print(f"tests of {head}, built in {work}", flush=True)
    if run("cmake --preset debug && cmake --build --preset debug", work).returncode != 0:
        sys.exit("the unbroken tree does not build")
    select = (f"-R '{args.tests}' " if args.tests else "") + (f"-E '{args.exclude}'" if args.exclude else "")
    ctest = f"ctest --preset debug -j2 --stop-on-failure {select}"
    listed = run(f"ctest --preset debug -N {select}", work).stdout
    print(listed.strip().splitlines()[-1], flush=True)
    if run(ctest, work).returncode != 0:
        sys.exit("the tests fail on the unbroken tree")

    chosen = set()
    for part in filter(None, args.faults.split(",")):
        first, _, last = part.partition("-")
        chosen.update(range(int(first), int(last or first) + 1))
    caught = tried = 0
    for number, (name, line, replacement, fault) in enumerate(FAULTS, 1):
        if chosen and number not in chosen:
            continue
        tried += 1
        path = os.path.join(work, SRC, name)
        with open(path) as f:
            source = f.read()
        if source.count(line) != 1:
            print(f"{number:2}. {fault}: the line is not in {name} once; fault left out", flush=True)
            continue
        started = time.monotonic()
        try:
            with open(path, "w") as f:
                f.write(source.replace(line, replacement))
            built = run("cmake --build --preset debug", work).returncode == 0
            result = run(ctest, work) if built else None
        finally:
            with open(path, "w") as f:
                f.write(source)
        if not built:
            verdict = "does not build"
        elif result.returncode == 0:
            verdict = "MISSED"
        else:
            failed = [l.split(" - ")[-1].split()[0] for l in result.stdout.splitlines() if " - " in l and "(Failed" in l]
            failed = failed or [l.split()[3] for l in result.stdout.splitlines() if "***Failed" in l]
            verdict = "caught by " + (failed[0] if failed else "a failing test")
        caught += verdict.startswith("caught")
        print(f"{number:2}. {fault}: {verdict} ({time.monotonic() - started:.0f} s)", flush=True)
    run("cmake --build --preset debug", work)
    print(f"caught {caught} of {tried} faults")


if __name__ == "__main__":
    main()
