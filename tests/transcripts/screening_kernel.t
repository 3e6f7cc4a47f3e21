# The kernel filter refusing: out of resources (-100) prints "% Resource unavailable" and changes nothing;
# any other refusal is silent and changes nothing; a rule capacity of one refuses the second rule but not
# ports added to the first. An unchanged trap/log state sends nothing. The kernel filter's tables then equal
# the daemon's.
# args: --level 15
--- input
configure terminal
do platform kernel refuse 1 -100
ip dhcp screening ports eth1.1-1.4
do platform kernel refuse 1 -3
ip dhcp screening ports eth1.1-1.4
ip dhcp screening ports eth1.1-1.2
do platform kernel capacity 1
ip dhcp screening server-ip 10.1.1.1 ports eth1.1
ip dhcp screening server-ip 10.1.1.2 ports eth1.1
ip dhcp screening server-ip 10.1.1.1 ports eth1.2
do platform kernel refuse 1 -100
no ip dhcp screening server-ip 10.1.1.1 ports eth1.1
do platform kernel refuse 1 -100
no ip dhcp screening ports eth1.1
do platform kernel refuse 1 -9
ip dhcp screening trap-log
ip dhcp screening trap-log
ip dhcp screening trap-log
no ip dhcp screening trap-log
no ip dhcp screening trap-log
end
show ip dhcp screening
platform kernel show
--- output
% Resource unavailable
% Resource unavailable
% Resource unavailable
% Resource unavailable
   Enable ports: eth1.1-1.2
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.1          All Client MAC     eth1.1-1.2

   Total Entries: 1
Kernel filter
  Enabled ports      eth1.1-1.2
  Trap/log           off
  Suppress duration  10 minutes
  Rules              1
    Server           Client             Ports
    10.1.1.1         all clients        eth1.1-1.2
  Messages           received 11, answered 11, refused 5, dropped 0, failed sends 0
Faults
  Refusals pending   0
  Sends to fail      0
  Answers to drop    0
  Answer delay       0 ms
  Rule capacity      1
  Trace              off
