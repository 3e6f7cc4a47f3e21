# The debug port view, a level-20 command: the present ports, then the enabled ports, five names of 10
# columns a line, no newline at the end (the next command's output follows on the same line).
# args: --level 20
--- input
configure terminal
ip dhcp screening ports eth1.1-1.3,eth2.5,eth3.7,port-channel2,port-channel8
end
show ip dhcp screening portlist
show running-config
--- output
Physical ports: 
Configured ports:
eth1.1    eth1.2    eth1.3    eth2.5    eth3.7    
port-channel2port-channel8ip dhcp screening ports eth1.1-1.3,eth2.5,eth3.7,port-channel2,port-channel8
!
