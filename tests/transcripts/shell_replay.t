# The startup configuration is replayed at boot, after the port interfaces and before the trunks, in the
# CONFIG mode: comments and empty lines are skipped, and each line that prints something is reported on
# standard error as "FILE:N: <line>" followed by what it printed. The lines keep the modes they enter ("end"
# leaves for the EXEC mode, where "configure terminal" is found again). The console starts in the EXEC mode.
# args: --startup-config startup-config.conf --log-file - --log-level 103
--- file startup-config.conf
! a comment, then an empty line

bogus
end
configure terminal
configure terminal
  do
--- input
configure terminal
exit
--- output
--- stderr
platform.103 qv_init: start-up record: module 57, flag 1
platform.103 qv_init: start-up record: framework words kept
platform.103 qv_init: module initialiser returned 1
platform.103 qv_init: command installer returned 0
platform.103 qv_init: NSM client start returned 1
platform.103 qv_init: NSM client up
platform.103 qv_init: port interfaces created
startup-config.conf:3: bogus
% Unknown command
startup-config.conf:6: configure terminal
% Unknown command
startup-config.conf:7:   do
% Incomplete command
platform.103 qv_init: startup configuration startup-config.conf replayed
platform.103 qv_init: trunk interfaces created
platform.103 qv_init: system ready
