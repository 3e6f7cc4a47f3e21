# Every refusal prints its exact message and changes nothing: server addresses that cannot be a host's,
# MAC texts in none of the four forms, unknown, unsupported and missing interfaces (one line for each refused
# name of a range, in its order), malformed ranges and runs beyond the chassis, values the shell refuses; a
# configuration command typed in interface mode. At the end nothing is configured.
--- input
configure terminal
ip dhcp screening server-ip 10.1.1.255 ports eth1.1
ip dhcp screening server-ip 169.254.1.1 ports eth1.1
ip dhcp screening server-ip 0.1.2.3 ports eth1.1
ip dhcp screening server-ip 127.0.0.1 ports eth1.1
ip dhcp screening server-ip 224.0.0.1 ports eth1.1
ip dhcp screening server-ip 10.0.0.0 ports eth1.1
ip dhcp screening server-ip 172.16.0.0 ports eth1.1
ip dhcp screening server-ip 223.255.255.1 ports eth1.1
ip dhcp screening server-ip 10.1.1.1 client-mac 00:11:22:33:44 ports eth1.1
ip dhcp screening server-ip 10.1.1.1 client-mac 00:11:22:33:44:5g ports eth1.1
ip dhcp screening server-ip 10.1.1.1 client-mac 0011.2233 ports eth1.1
no ip dhcp screening server-ip 10.1.1.1 client-mac 00112233445 ports eth1.1
ip dhcp screening ports eth11.1
ip dhcp screening ports vlan1,eth1.1,port-channel60
ip dhcp screening ports port-channel7-10
ip dhcp screening ports port-channel9
no ip dhcp screening ports port-channel9
ip dhcp screening ports eth1.40-1.50
ip dhcp screening ports eth1.5-1.2
ip dhcp screening ports eth1.1,,eth1.2
ip dhcp screening server-ip 10.1.1.1 ports bogus
ip dhcp screening suppress-duration 0
ip dhcp screening suppress-duration 31
ip dhcp screening server-ip 10.1.1 ports eth1.1
ip dhcp screening server-ip 10.1.1.1
ip dhcp screening
ip dhcp screening trap-log now
interface port-channel9
ip dhcp screening ports port-channel9
exit
end
show ip dhcp screening
show running-config
--- output
% Invalid IPv4 address
% Invalid IPv4 address
% Invalid IPv4 address
% Invalid IPv4 address
% Invalid IPv4 address
% Invalid IPv4 address
% Invalid IPv4 address
% Invalid IPv4 address
% Unable to translate mac address 00:11:22:33:44
% Unable to translate mac address 00:11:22:33:44:5g
% Unable to translate mac address 0011.2233
% Unable to translate mac address 00112233445
% No such interface eth11.1
% vlan1 is not support
% No such interface port-channel60
% No such interface port-channel9
% No such interface port-channel10
% No such interface port-channel9
% No such interface port-channel9
% Invalid interface range: eth1.40-1.50
% Invalid interface range: eth1.5-1.2
% Invalid interface range: eth1.1,,eth1.2
% No such interface bogus
ip dhcp screening suppress-duration 0
                                    ^
% Invalid input detected at '^' marker.
ip dhcp screening suppress-duration 31
                                    ^
% Invalid input detected at '^' marker.
ip dhcp screening server-ip 10.1.1 ports eth1.1
                            ^
% Invalid input detected at '^' marker.
% Incomplete command
% Incomplete command
ip dhcp screening trap-log now
                           ^
% Invalid input detected at '^' marker.
% Interface port-channel9 can not configure DHCP server screening
   Enable ports: 
   Filter DHCP Server Trap_Log State: Disable
   Illegal Server Log Suppress Duration: 10 minutes
   Filter DHCP Server/Client List: 
