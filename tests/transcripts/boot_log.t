# The boot of the simulated switch as the start-up framework logs it: the daemon's start-up record (module
# 57, flag 1, the framework's own words untouched), its three entry points and their results, then the boot
# steps up to the system ready.
# args: --log-file - --log-level 103
--- input
--- output
--- stderr
platform.103 qv_init: start-up record: module 57, flag 1
platform.103 qv_init: start-up record: framework words kept
platform.103 qv_init: module initialiser returned 1
platform.103 qv_init: command installer returned 0
platform.103 qv_init: NSM client start returned 1
platform.103 qv_init: NSM client up
platform.103 qv_init: port interfaces created
platform.103 qv_init: trunk interfaces created
platform.103 qv_init: system ready
