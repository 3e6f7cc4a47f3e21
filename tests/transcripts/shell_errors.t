# The shell's own errors. A word that fits nothing (a wrong keyword, a value out of range, a word too many, a
# control character, a "|" after a command that takes no output filter) is pointed at: batch mode prints the
# line, then a caret under the first character of that word (a tab counts as one character), then "% Invalid
# input detected at '^' marker.". The caret counts the whole line, also after "do" and in "?" help; of the
# modes searched, the one whose command the line got furthest into is pointed into. The other errors are
# plain: an unknown first word, a command not typed whole, an abbreviation of two keywords ("c": clear,
# configure, copy); a platform command above the session's level is as unknown as a word that names nothing.
--- input
bogus
configure bogus
configure
c terminal
write memory now
show running-config	extra
platform kernel show
show bogus ?
show running-config | include x ?
clear running-config | count
conf t
do
do bogus
do configure
do  show ip dhcp screening snmp 99
interface eth1.1
ip dhcp screening suppress-duration 31
write memory
exit
exit
--- output
% Unknown command
configure bogus
          ^
% Invalid input detected at '^' marker.
% Incomplete command
% Ambiguous command
write memory now
             ^
% Invalid input detected at '^' marker.
show running-config	extra
                    ^
% Invalid input detected at '^' marker.
% Unknown command
show bogus ?
     ^
% Invalid input detected at '^' marker.
  LINE                   Regular expression
  <cr>
clear running-config | count
                     ^
% Invalid input detected at '^' marker.
% Incomplete command
% Unknown command
% Incomplete command
do  show ip dhcp screening snmp 99
                           ^
% Invalid input detected at '^' marker.
ip dhcp screening suppress-duration 31
                                    ^
% Invalid input detected at '^' marker.
write  memory
     ^
% Invalid input detected at '^' marker.
