# A startup-configuration file that cannot be written: the boot finds no file to replay (logged), and
# "write memory" reports that it cannot write it.
# args: --startup-config no-such-directory/startup-config.conf --log-file - --log-level 103
--- input
write memory
--- output
% Cannot write no-such-directory/startup-config.conf
--- stderr
platform.103 qv_init: start-up record: module 57, flag 1
platform.103 qv_init: start-up record: framework words kept
platform.103 qv_init: module initialiser returned 1
platform.103 qv_init: command installer returned 0
platform.103 qv_init: NSM client start returned 1
platform.103 qv_init: NSM client up
platform.103 qv_init: port interfaces created
platform.103 qv_init: startup configuration no-such-directory/startup-config.conf not found
platform.103 qv_init: trunk interfaces created
platform.103 qv_init: system ready
