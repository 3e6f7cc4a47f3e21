# The modes, seen through what "e?" lists in each ("exit" ends the session in the EXEC mode and leaves the
# configuration mode), and through commands that exist in one mode only. "do" runs an EXEC command from the
# configuration mode and stays there. "exit" in the EXEC mode ends the session: the lines after it are not
# read, and the process exits 0.
--- input
e?
configure terminal
e?
configure terminal
do write ?
exit
e?
conf t
end
configure ?
exit
show running-config
bogus
--- output
  exit                   End the session
  end                    End the configuration and return to the EXEC mode
  exit                   Exit to the enclosing mode
% Unknown command
  erase                  Erase the startup-configuration file
  memory                 Save it to the startup-configuration file
  terminal               Print it on the terminal
  <cr>
  exit                   End the session
  terminal               Configure from the terminal
