# Boot replay of a startup configuration: the commands run while the system is not ready, so the trunks,
# which the boot creates after the replay, are deferred instead of refused (port-channel1, port-channel20,
# port-channel21). port-channel1 is enabled when the boot creates it; port-channel20 and port-channel21 never
# appear, so their enabling and rules stay pending. Names no trunk can have (port-channel0, port-channel129)
# are refused as at any time, with the rest of their line. A line the shell or the daemon refuses is reported
# on standard error with its place.
# args: --startup-config startup.conf
--- file startup.conf
ip dhcp screening ports eth1.1-1.4,port-channel1,port-channel20
!
ip dhcp screening suppress-duration 7
!
ip dhcp screening server-ip 10.1.1.1 ports eth2.1-2.3,port-channel20
!
ip dhcp screening server-ip 10.1.1.2 ports port-channel21
!
ip dhcp screening server-ip 10.1.1.300 ports eth1.1
!
ip dhcp screening ports eth11.1
!
ip dhcp screening ports port-channel0,eth1.5,port-channel129
!
ip dhcp screening server-ip 10.1.1.3 ports port-channel129
!
--- input
show running-config
show ip dhcp screening
--- output
ip dhcp screening ports eth1.1-1.4,port-channel1
!
ip dhcp screening suppress-duration 7
!
ip dhcp screening server-ip 10.1.1.1 ports eth2.1-2.3
!
   Enable ports: eth1.1-1.4,port-channel1
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 7 minutes
   Filter DHCP Server/Client List: 
      Server IP Address Client MAC Address Port
      10.1.1.1          All Client MAC     eth2.1-2.3

   Total Entries: 1
--- stderr
startup.conf:9: ip dhcp screening server-ip 10.1.1.300 ports eth1.1
ip dhcp screening server-ip 10.1.1.300 ports eth1.1
                            ^
% Invalid input detected at '^' marker.
startup.conf:11: ip dhcp screening ports eth11.1
% No such interface eth11.1
startup.conf:13: ip dhcp screening ports port-channel0,eth1.5,port-channel129
% No such interface port-channel0
% No such interface port-channel129
startup.conf:15: ip dhcp screening server-ip 10.1.1.3 ports port-channel129
% No such interface port-channel129
