# The daemon follows the chassis: a port joining a trunk hands its screening to the trunk (the member leaves
# every rule and the enabled ports, the trunk keeps its own), and the member cannot be configured while it is
# one; pulling the card of physical slot 2 (user slot 3) takes its ports out of every rule and the enabled
# ports, and a rule of that slot only disappears; a port deleted with state 0 keeps its configuration, one
# deleted for good loses it. The kernel filter's tables equal the daemon's after each event.
# args: --level 15
--- input
configure terminal
ip dhcp screening ports eth1.1-1.3,eth3.1-3.2,port-channel1
ip dhcp screening server-ip 10.1.1.1 ports eth1.1,eth3.5
ip dhcp screening server-ip 10.1.1.2 ports eth1.1,port-channel1
ip dhcp screening server-ip 10.1.1.3 ports eth3.1-3.48
ip dhcp screening server-ip 10.1.1.4 ports eth1.2
end
platform chassis trunk member add port-channel1 eth1.1
configure terminal
ip dhcp screening ports eth1.1
end
platform chassis trunk notify port-channel1 eth1.2 2
show ip dhcp screening
platform chassis slot remove 2
show ip dhcp screening
platform chassis interface delete eth1.2 state 0
platform chassis interface add eth1.2
platform chassis interface delete eth1.3
show ip dhcp screening
platform chassis trunk member remove port-channel1 eth1.1
show running-config
platform kernel show
--- output
% eth1.1 conflict with trunk
   Enable ports: eth1.2-1.3,eth3.1-3.2,port-channel1
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.1          All Client MAC     eth3.5
      10.1.1.2          All Client MAC     port-channel1
      10.1.1.3          All Client MAC     eth3.1-3.48
      10.1.1.4          All Client MAC     eth1.2

   Total Entries: 4
   Enable ports: eth1.2-1.3,port-channel1
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.2          All Client MAC     port-channel1
      10.1.1.4          All Client MAC     eth1.2

   Total Entries: 2
   Enable ports: eth1.2,port-channel1
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.2          All Client MAC     port-channel1
      10.1.1.4          All Client MAC     eth1.2

   Total Entries: 2
ip dhcp screening ports eth1.2,port-channel1
!
ip dhcp screening server-ip 10.1.1.2 ports port-channel1
!
ip dhcp screening server-ip 10.1.1.4 ports eth1.2
!
Kernel filter
  Enabled ports      eth1.2,port-channel1
  Trap/log           off
  Suppress duration  10 minutes
  Rules              2
    Server           Client             Ports
    10.1.1.2         all clients        port-channel1
    10.1.1.4         all clients        eth1.2
  Messages           received 16, answered 16, refused 0, dropped 0, failed sends 0
Faults
  Refusals pending   0
  Sends to fail      0
  Answers to drop    0
  Answer delay       0 ms
  Rule capacity      unlimited
  Trace              off
