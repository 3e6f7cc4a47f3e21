# Saving and reading the configuration. "write" alone, "wr mem" and "copy running-config startup-config" save
# as "write memory" does; "show startup-config" prints the file as saved; "write terminal" prints the running
# configuration. "write erase" asks first (the question is the prompt, not shown in batch mode): "n" keeps the
# file; an empty line (or "y") removes it. "show version" says the release, the uptime, the chassis and the
# startup file, "show clock" the local time, and "show history" the last 20 lines of the session, oldest first
# (the answers to a question are no lines of their own).
# args: --startup-config startup-config.conf
--- input
show startup-config
configure terminal
ip dhcp screening ports eth1.1
end
write
show startup-config
configure terminal
ip dhcp screening trap-log
end
wr mem
show startup-config | count
configure terminal
no ip dhcp screening trap-log
end
copy running-config startup-config
write terminal
show startup-config
write erase
n
show startup-config | count
write erase

show startup-config
write erase
y
show version | exclude ^dhcpftr version|uptime
show version | count ^dhcpftr version [0-9]+\.[0-9]+\.[0-9]+$|^switch uptime is ([0-9]+ (week|day|hour)s?, )*[0-9]+ minutes?$
show clock | count ^\*[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3} [^ ]+ (Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} [1-3]?[0-9] [0-9]{4}$
show history
--- output
% No startup-configuration file
Building configuration...
[OK]
ip dhcp screening ports eth1.1
!
Building configuration...
[OK]
Number of lines which match regexp = 4
Building configuration...
[OK]
ip dhcp screening ports eth1.1
!
ip dhcp screening ports eth1.1
!
Number of lines which match regexp = 2
[OK]
% No startup-configuration file
% No startup-configuration file
Chassis: 10 slots, 480 Ethernet ports
Startup configuration file: startup-config.conf
Number of lines which match regexp = 2
Number of lines which match regexp = 1
  configure terminal
  ip dhcp screening trap-log
  end
  wr mem
  show startup-config | count
  configure terminal
  no ip dhcp screening trap-log
  end
  copy running-config startup-config
  write terminal
  show startup-config
  write erase
  show startup-config | count
  write erase
  show startup-config
  write erase
  show version | exclude ^dhcpftr version|uptime
  show version | count ^dhcpftr version [0-9]+\.[0-9]+\.[0-9]+$|^switch uptime is ([0-9]+ (week|day|hour)s?, )*[0-9]+ minutes?$
  show clock | count ^\*[0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3} [^ ]+ (Mon|Tue|Wed|Thu|Fri|Sat|Sun) [A-Z][a-z]{2} [1-3]?[0-9] [0-9]{4}$
  show history
