# Boot with trunks that do not exist during the replay: port-channel1 and port-channel2, which the boot
# creates after the replay, get their enabling and rules then (rules of several pending keys included);
# port-channel9 is created only once the system is ready, so its configuration stays pending and is never
# applied; the reset then clears everything.
# args: --level 15 --startup-config startup.conf
--- file startup.conf
ip dhcp screening ports eth1.1,port-channel1,port-channel9
!
ip dhcp screening server-ip 10.1.1.1 ports eth2.1,port-channel1,port-channel2
!
ip dhcp screening server-ip 10.1.1.2 client-mac 00:11:22:33:44:55 ports port-channel2
!
ip dhcp screening server-ip 10.1.1.3 ports port-channel9
!
--- input
show running-config
platform chassis trunk create port-channel9
show ip dhcp screening
clear running-config
show running-config
platform kernel show
--- output
ip dhcp screening ports eth1.1,port-channel1
!
ip dhcp screening server-ip 10.1.1.1 ports eth2.1,port-channel1-2
!
ip dhcp screening server-ip 10.1.1.2 client-mac 00:11:22:33:44:55 ports port-channel2
!
   Enable ports: eth1.1,port-channel1
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.1          All Client MAC     eth2.1,port-channel1-2
      10.1.1.2          00:11:22:33:44:55  port-channel2

   Total Entries: 2
Kernel filter
  Enabled ports      none
  Trap/log           off
  Suppress duration  10 minutes
  Rules              0
  Messages           received 9, answered 9, refused 0, dropped 0, failed sends 0
Faults
  Refusals pending   0
  Sends to fail      0
  Answers to drop    0
  Answer delay       0 ms
  Rule capacity      unlimited
  Trace              off
