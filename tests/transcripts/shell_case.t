# Keywords match without regard to case, whole or abbreviated, in commands, "?" help and filters; values keep
# the case typed: the interface name in the daemon's message, and the expression of a filter ("PORTS"
# matches no line of the running configuration).
--- input
CONFIGURE TERMINAL
IP DHCP SCREENING PORTS eth1.1-1.2
Ip Dh Scr Server-Ip 10.1.1.1 Client-Mac aa:bb:cc:dd:ee:ff Ports eth1.1
ip dhcp screening ports ETH1.3
END
SH RUN
SHOW IP DHCP SCREENING | INCLUDE Enable
Sh Run | I PORTS
SH?
sh IP ?
CONF T
Do Show Running-Config | Count ports
--- output
% No such interface ETH1.3
ip dhcp screening ports eth1.1-1.2
!
ip dhcp screening server-ip 10.1.1.1 client-mac AA:BB:CC:DD:EE:FF ports eth1.1
!
   Enable ports: eth1.1-1.2
  show                   Show running system information
  dhcp                   DHCP
Number of lines which match regexp = 2
