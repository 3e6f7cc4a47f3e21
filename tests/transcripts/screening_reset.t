# The reset takes every setting back to its default through the kernel filter; a rule whose deletion the
# kernel filter refuses stays, and the reset goes on with the next. A second reset removes it.
# args: --level 15
--- input
configure terminal
ip dhcp screening ports eth1.1-1.8
ip dhcp screening trap-log
ip dhcp screening suppress-duration 3
ip dhcp screening server-ip 10.1.1.1 ports eth1.1
ip dhcp screening server-ip 10.1.1.2 client-mac 00:00:00:00:00:01 ports eth1.2
ip dhcp screening server-ip 10.1.1.3 ports eth1.3
end
platform kernel refuse 1 -5 code 1
clear running-config
show running-config
show ip dhcp screening
clear running-config
show running-config
platform kernel show
--- output
ip dhcp screening server-ip 10.1.1.1 ports eth1.1
!
   Enable ports: 
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.1          All Client MAC     eth1.1

   Total Entries: 1
Kernel filter
  Enabled ports      none
  Trap/log           off
  Suppress duration  10 minutes
  Rules              0
  Messages           received 13, answered 13, refused 1, dropped 0, failed sends 0
Faults
  Refusals pending   0
  Sends to fail      0
  Answers to drop    0
  Answer delay       0 ms
  Rule capacity      unlimited
  Trace              off
