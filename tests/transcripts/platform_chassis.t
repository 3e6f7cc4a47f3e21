# The chassis commands through the switch's console: the show before and after ports join trunks and one
# port is deleted (state 0), then after the card of physical slot 3 (user slot 4) is pulled, which takes its
# member out of port-channel1 and its ports out of the table, a trunk is created with the widest name, another
# deleted and a VLAN added; and once every trunk and VLAN is gone. A refusal prints its reason and changes
# nothing.
# args: --level 15
--- input
platform chassis show
platform chassis trunk member add port-channel2 eth3.1
platform chassis trunk member add port-channel2 eth3.2
platform chassis trunk member add port-channel1 eth4.48
platform chassis trunk member add port-channel1 eth3.2
platform chassis interface delete eth3.21 state 0
platform chassis show
platform chassis slot remove 3
platform chassis slot remove 3
platform chassis trunk member add port-channel1 eth4.1
platform chassis trunk create port-channel128
platform chassis trunk delete port-channel3
platform chassis interface add vlan20
platform chassis show
platform chassis interface delete vlan1
platform chassis interface delete vlan20
platform chassis trunk delete port-channel1
platform chassis trunk delete port-channel2
platform chassis trunk delete port-channel4
platform chassis trunk delete port-channel5
platform chassis trunk delete port-channel6
platform chassis trunk delete port-channel7
platform chassis trunk delete port-channel8
platform chassis trunk delete port-channel128
platform chassis show
--- output
Slots
  Slot  Card       Ports
  1     CPU        eth1.1-1.48
  2     CPU        eth2.1-2.48
  3     line card  eth3.1-3.48
  4     line card  eth4.1-4.48
  5     line card  eth5.1-5.48
  6     line card  eth6.1-6.48
  7     line card  eth7.1-7.48
  8     line card  eth8.1-8.48
  9     line card  eth9.1-9.48
  10    line card  eth10.1-10.48
Trunks
  Trunk            Members
  port-channel1    none
  port-channel2    none
  port-channel3    none
  port-channel4    none
  port-channel5    none
  port-channel6    none
  port-channel7    none
  port-channel8    none
Other interfaces  vlan1
% eth3.2 is a member of port-channel2
Slots
  Slot  Card       Ports
  1     CPU        eth1.1-1.48
  2     CPU        eth2.1-2.48
  3     line card  eth3.1-3.20,eth3.22-3.48
  4     line card  eth4.1-4.48
  5     line card  eth5.1-5.48
  6     line card  eth6.1-6.48
  7     line card  eth7.1-7.48
  8     line card  eth8.1-8.48
  9     line card  eth9.1-9.48
  10    line card  eth10.1-10.48
Trunks
  Trunk            Members
  port-channel1    eth4.48
  port-channel2    eth3.1-3.2
  port-channel3    none
  port-channel4    none
  port-channel5    none
  port-channel6    none
  port-channel7    none
  port-channel8    none
Other interfaces  vlan1
% Physical slot 3 (slot 4) has no card
% No such interface eth4.1
Slots
  Slot  Card       Ports
  1     CPU        eth1.1-1.48
  2     CPU        eth2.1-2.48
  3     line card  eth3.1-3.20,eth3.22-3.48
  4     empty      none
  5     line card  eth5.1-5.48
  6     line card  eth6.1-6.48
  7     line card  eth7.1-7.48
  8     line card  eth8.1-8.48
  9     line card  eth9.1-9.48
  10    line card  eth10.1-10.48
Trunks
  Trunk            Members
  port-channel1    none
  port-channel2    eth3.1-3.2
  port-channel4    none
  port-channel5    none
  port-channel6    none
  port-channel7    none
  port-channel8    none
  port-channel128  none
Other interfaces  vlan1,vlan20
Slots
  Slot  Card       Ports
  1     CPU        eth1.1-1.48
  2     CPU        eth2.1-2.48
  3     line card  eth3.1-3.20,eth3.22-3.48
  4     empty      none
  5     line card  eth5.1-5.48
  6     line card  eth6.1-6.48
  7     line card  eth7.1-7.48
  8     line card  eth8.1-8.48
  9     line card  eth9.1-9.48
  10    line card  eth10.1-10.48
Trunks
  none
Other interfaces  none
