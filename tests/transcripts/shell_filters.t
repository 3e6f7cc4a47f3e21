# Output filters after "|" on show commands, "do show" and "write terminal": include, exclude, begin (from the
# first line that matches on) and count (of the lines that match, or of all lines without an expression).
# The expression is a POSIX extended one, the rest of the line with its blanks. An empty output counts 0. A
# bad expression, a filter keyword missing or unknown, "|" glued to a word, or "|" after a command that is not
# a show command runs nothing. "?" after "|" lists the filters.
--- input
show running-config | count
configure terminal
ip dhcp screening ports eth1.1-1.8
ip dhcp screening trap-log
ip dhcp screening server-ip 10.0.0.5 client-mac 00:1a:2b:3c:4d:5e ports eth1.5
ip dhcp screening server-ip 192.168.1.10 ports eth1.1-1.4
end
show running-config | include server-ip
show running-config | exclude ^!$
show running-config | begin trap
show running-config | count
show running-config | count server-ip|trap
show running-config | include ports eth1\.[1-4](-1\.4)?$
show ip dhcp screening | begin Server IP
write terminal | count !
configure terminal
do show ip dhcp screening | include Client MAC|Enable
ip dhcp screening trap-log | include trap
end
show running-config | include (
show running-config | include
show running-config | grep x
show running-config |include x
show running-config | ?
show running-config | c?
--- output
Number of lines which match regexp = 0
ip dhcp screening server-ip 10.0.0.5 client-mac 00:1A:2B:3C:4D:5E ports eth1.5
ip dhcp screening server-ip 192.168.1.10 ports eth1.1-1.4
ip dhcp screening ports eth1.1-1.8
ip dhcp screening trap-log
ip dhcp screening server-ip 10.0.0.5 client-mac 00:1A:2B:3C:4D:5E ports eth1.5
ip dhcp screening server-ip 192.168.1.10 ports eth1.1-1.4
ip dhcp screening trap-log
!
ip dhcp screening server-ip 10.0.0.5 client-mac 00:1A:2B:3C:4D:5E ports eth1.5
!
ip dhcp screening server-ip 192.168.1.10 ports eth1.1-1.4
!
Number of lines which match regexp = 8
Number of lines which match regexp = 3
ip dhcp screening server-ip 192.168.1.10 ports eth1.1-1.4
      Server IP Address Client MAC Address Port
      10.0.0.5          00:1A:2B:3C:4D:5E  eth1.5
      192.168.1.10      All Client MAC     eth1.1-1.4

   Total Entries: 2
Number of lines which match regexp = 4
   Enable ports: eth1.1-1.8
   Filter DHCP Server Trap_Log State: Enable
      Server IP Address Client MAC Address Port
      192.168.1.10      All Client MAC     eth1.1-1.4
ip dhcp screening trap-log | include trap
                           ^
% Invalid input detected at '^' marker.
% Invalid regular expression: Unmatched ( or \(
% Incomplete command
show running-config | grep x
                      ^
% Invalid input detected at '^' marker.
show running-config |include x
                    ^
% Invalid input detected at '^' marker.
  begin                  Begin with the line that matches
  count                  Count number of lines which match regexp
  exclude                Exclude lines that match
  include                Include lines that match
  count                  Count number of lines which match regexp
