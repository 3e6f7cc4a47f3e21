# The configuration commands end to end: ports (a range with blanks around its separators), rules with
# and without a client MAC in its four forms (one key whatever the form; a dotted group of one digit stands
# for two bytes), trap/log and suppress duration; then the show output and the running configuration, block
# by block; then the "no" forms (a missing rule is no error).
--- input
configure terminal
ip dhcp screening ports eth1.1-1.8, eth2.1 ,port-channel1-2
no ip dhcp screening ports eth1.3
ip dhcp screening server-ip 192.168.1.1 ports eth1.1-1.2
ip dhcp screening server-ip 192.168.1.1 ports eth1.4
ip dhcp screening server-ip 10.0.0.1 client-mac 00-1a-2b-3c-4d-5e ports port-channel1
ip dhcp screening server-ip 10.0.0.1 client-mac 001a.2b3c.4d5e ports eth3.1
ip dhcp screening server-ip 10.0.0.2 client-mac 1.2.3 ports eth10.48
ip dhcp screening server-ip 10.0.0.2 client-mac 00:01:00:02:00:03 ports eth10.47
ip dhcp screening trap-log
ip dhcp screening suppress-duration 25
end
show ip dhcp screening
show running-config
configure terminal
no ip dhcp screening server-ip 192.168.1.1 ports eth1.1-1.2,eth1.4
no ip dhcp screening server-ip 10.0.0.1 client-mac 001A2B3C4D5E ports eth3.1
no ip dhcp screening server-ip 10.9.9.9 ports eth3.1
no ip dhcp screening trap-log
no ip dhcp screening suppress-duration
do show ip dhcp screening
do show running-config
--- output
   Enable ports: eth1.1-1.2,eth1.4-1.8,eth2.1,port-channel1-2
   Filter DHCP Server Trap_Log State: Enable
   Illegal Server Log Suppress Duration: 25 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.0.0.1          00:1A:2B:3C:4D:5E  eth3.1,port-channel1
      10.0.0.2          00:01:00:02:00:03  eth10.47-10.48
      192.168.1.1       All Client MAC     eth1.1-1.2,eth1.4

   Total Entries: 3
ip dhcp screening ports eth1.1-1.2,eth1.4-1.8,eth2.1,port-channel1-2
!
ip dhcp screening trap-log
!
ip dhcp screening suppress-duration 25
!
ip dhcp screening server-ip 10.0.0.1 client-mac 00:1A:2B:3C:4D:5E ports eth3.1,port-channel1
!
ip dhcp screening server-ip 10.0.0.2 client-mac 00:01:00:02:00:03 ports eth10.47-10.48
!
ip dhcp screening server-ip 192.168.1.1 ports eth1.1-1.2,eth1.4
!
   Enable ports: eth1.1-1.2,eth1.4-1.8,eth2.1,port-channel1-2
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.0.0.1          00:1A:2B:3C:4D:5E  port-channel1
      10.0.0.2          00:01:00:02:00:03  eth10.47-10.48

   Total Entries: 2
ip dhcp screening ports eth1.1-1.2,eth1.4-1.8,eth2.1,port-channel1-2
!
ip dhcp screening server-ip 10.0.0.1 client-mac 00:1A:2B:3C:4D:5E ports port-channel1
!
ip dhcp screening server-ip 10.0.0.2 client-mac 00:01:00:02:00:03 ports eth10.47-10.48
!
