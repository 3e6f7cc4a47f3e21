# Help ("?") of the screening commands: the next tokens with their help texts.
--- input
configure terminal
ip dhcp screening ?
ip dhcp screening server-ip 10.1.1.1 ?
ip dhcp screening server-ip 10.1.1.1 client-mac ?
no ip dhcp screening ?
interface ?
end
show ip dhcp screening ?
--- output
  ports                  Ports
  server-ip              Server IP
  suppress-duration      Set suppress-duration
  trap-log               Enable trap/log
  client-mac             CLient MAC Address
  ports                  Ports
  MAC                    Mac-address in XX-XX-XX-XX-XX-XX format
  ports                  Ports
  server-ip              Server IP
  suppress-duration      Set suppress-duration
  trap-log               Disable trap/log
  IFNAME                 Interface Name
  <cr>
