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
eth1.1    eth1.2    eth1.3    eth1.4    eth1.5    
eth1.6    eth1.7    eth1.8    eth1.9    eth1.10   
eth1.11   eth1.12   eth1.13   eth1.14   eth1.15   
eth1.16   eth1.17   eth1.18   eth1.19   eth1.20   
eth1.21   eth1.22   eth1.23   eth1.24   eth1.25   
eth1.26   eth1.27   eth1.28   eth1.29   eth1.30   
eth1.31   eth1.32   eth1.33   eth1.34   eth1.35   
eth1.36   eth1.37   eth1.38   eth1.39   eth1.40   
eth1.41   eth1.42   eth1.43   eth1.44   eth1.45   
eth1.46   eth1.47   eth1.48   eth2.1    eth2.2    
eth2.3    eth2.4    eth2.5    eth2.6    eth2.7    
eth2.8    eth2.9    eth2.10   eth2.11   eth2.12   
eth2.13   eth2.14   eth2.15   eth2.16   eth2.17   
eth2.18   eth2.19   eth2.20   eth2.21   eth2.22   
eth2.23   eth2.24   eth2.25   eth2.26   eth2.27   
eth2.28   eth2.29   eth2.30   eth2.31   eth2.32   
eth2.33   eth2.34   eth2.35   eth2.36   eth2.37   
eth2.38   eth2.39   eth2.40   eth2.41   eth2.42   
eth2.43   eth2.44   eth2.45   eth2.46   eth2.47   
eth2.48   eth3.1    eth3.2    eth3.3    eth3.4    
eth3.5    eth3.6    eth3.7    eth3.8    eth3.9    
eth3.10   eth3.11   eth3.12   eth3.13   eth3.14   
eth3.15   eth3.16   eth3.17   eth3.18   eth3.19   
eth3.20   eth3.21   eth3.22   eth3.23   eth3.24   
eth3.25   eth3.26   eth3.27   eth3.28   eth3.29   
eth3.30   eth3.31   eth3.32   eth3.33   eth3.34   
eth3.35   eth3.36   eth3.37   eth3.38   eth3.39   
eth3.40   eth3.41   eth3.42   eth3.43   eth3.44   
eth3.45   eth3.46   eth3.47   eth3.48   eth4.1    
eth4.2    eth4.3    eth4.4    eth4.5    eth4.6    
eth4.7    eth4.8    eth4.9    eth4.10   eth4.11   
eth4.12   eth4.13   eth4.14   eth4.15   eth4.16   
eth4.17   eth4.18   eth4.19   eth4.20   eth4.21   
eth4.22   eth4.23   eth4.24   eth4.25   eth4.26   
eth4.27   eth4.28   eth4.29   eth4.30   eth4.31   
eth4.32   eth4.33   eth4.34   eth4.35   eth4.36   
eth4.37   eth4.38   eth4.39   eth4.40   eth4.41   
eth4.42   eth4.43   eth4.44   eth4.45   eth4.46   
eth4.47   eth4.48   eth5.1    eth5.2    eth5.3    
eth5.4    eth5.5    eth5.6    eth5.7    eth5.8    
eth5.9    eth5.10   eth5.11   eth5.12   eth5.13   
eth5.14   eth5.15   eth5.16   eth5.17   eth5.18   
eth5.19   eth5.20   eth5.21   eth5.22   eth5.23   
eth5.24   eth5.25   eth5.26   eth5.27   eth5.28   
eth5.29   eth5.30   eth5.31   eth5.32   eth5.33   
eth5.34   eth5.35   eth5.36   eth5.37   eth5.38   
eth5.39   eth5.40   eth5.41   eth5.42   eth5.43   
eth5.44   eth5.45   eth5.46   eth5.47   eth5.48   
eth6.1    eth6.2    eth6.3    eth6.4    eth6.5    
eth6.6    eth6.7    eth6.8    eth6.9    eth6.10   
eth6.11   eth6.12   eth6.13   eth6.14   eth6.15   
eth6.16   eth6.17   eth6.18   eth6.19   eth6.20   
eth6.21   eth6.22   eth6.23   eth6.24   eth6.25   
eth6.26   eth6.27   eth6.28   eth6.29   eth6.30   
eth6.31   eth6.32   eth6.33   eth6.34   eth6.35   
eth6.36   eth6.37   eth6.38   eth6.39   eth6.40   
eth6.41   eth6.42   eth6.43   eth6.44   eth6.45   
eth6.46   eth6.47   eth6.48   eth7.1    eth7.2    
eth7.3    eth7.4    eth7.5    eth7.6    eth7.7    
eth7.8    eth7.9    eth7.10   eth7.11   eth7.12   
eth7.13   eth7.14   eth7.15   eth7.16   eth7.17   
eth7.18   eth7.19   eth7.20   eth7.21   eth7.22   
eth7.23   eth7.24   eth7.25   eth7.26   eth7.27   
eth7.28   eth7.29   eth7.30   eth7.31   eth7.32   
eth7.33   eth7.34   eth7.35   eth7.36   eth7.37   
eth7.38   eth7.39   eth7.40   eth7.41   eth7.42   
eth7.43   eth7.44   eth7.45   eth7.46   eth7.47   
eth7.48   eth8.1    eth8.2    eth8.3    eth8.4    
eth8.5    eth8.6    eth8.7    eth8.8    eth8.9    
eth8.10   eth8.11   eth8.12   eth8.13   eth8.14   
eth8.15   eth8.16   eth8.17   eth8.18   eth8.19   
eth8.20   eth8.21   eth8.22   eth8.23   eth8.24   
eth8.25   eth8.26   eth8.27   eth8.28   eth8.29   
eth8.30   eth8.31   eth8.32   eth8.33   eth8.34   
eth8.35   eth8.36   eth8.37   eth8.38   eth8.39   
eth8.40   eth8.41   eth8.42   eth8.43   eth8.44   
eth8.45   eth8.46   eth8.47   eth8.48   eth9.1    
eth9.2    eth9.3    eth9.4    eth9.5    eth9.6    
eth9.7    eth9.8    eth9.9    eth9.10   eth9.11   
eth9.12   eth9.13   eth9.14   eth9.15   eth9.16   
eth9.17   eth9.18   eth9.19   eth9.20   eth9.21   
eth9.22   eth9.23   eth9.24   eth9.25   eth9.26   
eth9.27   eth9.28   eth9.29   eth9.30   eth9.31   
eth9.32   eth9.33   eth9.34   eth9.35   eth9.36   
eth9.37   eth9.38   eth9.39   eth9.40   eth9.41   
eth9.42   eth9.43   eth9.44   eth9.45   eth9.46   
eth9.47   eth9.48   eth10.1   eth10.2   eth10.3   
eth10.4   eth10.5   eth10.6   eth10.7   eth10.8   
eth10.9   eth10.10  eth10.11  eth10.12  eth10.13  
eth10.14  eth10.15  eth10.16  eth10.17  eth10.18  
eth10.19  eth10.20  eth10.21  eth10.22  eth10.23  
eth10.24  eth10.25  eth10.26  eth10.27  eth10.28  
eth10.29  eth10.30  eth10.31  eth10.32  eth10.33  
eth10.34  eth10.35  eth10.36  eth10.37  eth10.38  
eth10.39  eth10.40  eth10.41  eth10.42  eth10.43  
eth10.44  eth10.45  eth10.46  eth10.47  eth10.48  
port-channel1port-channel2port-channel3port-channel4port-channel5
port-channel6port-channel7port-channel8
Configured ports:
eth1.1    eth1.2    eth1.3    eth2.5    eth3.7    
port-channel2port-channel8ip dhcp screening ports eth1.1-1.3,eth2.5,eth3.7,port-channel2,port-channel8
!
