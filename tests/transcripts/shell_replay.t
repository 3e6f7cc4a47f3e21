# The startup configuration is replayed at boot, after the port interfaces and before the trunks, in the
# CONFIG mode at the highest level: comments and empty lines are skipped, and each line that prints something
# is reported on standard error as "FILE:N: <line>" followed by what it printed. The lines keep the modes they
# enter (the interface mode runs the CONFIG mode's commands; "end" leaves for the EXEC mode, where "configure
# terminal" is found again). The console starts in the EXEC mode.
# args: --startup-config startup-config.conf --log-file - --log-level 103
--- file startup-config.conf
! a comment, then an empty line

interface eth1.1
 ip dhcp screening ports eth1.49
do show ip dhcp screening snmp
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
startup-config.conf:4:  ip dhcp screening ports eth1.49
% No such interface eth1.49
startup-config.conf:5: do show ip dhcp screening snmp
210
startup-config.conf:6: bogus
% Unknown command
startup-config.conf:9: configure terminal
% Unknown command
startup-config.conf:10:   do
% Incomplete command
platform.103 qv_init: startup configuration startup-config.conf replayed
platform.103 qv_init: trunk interfaces created
platform.103 qv_init: system ready
