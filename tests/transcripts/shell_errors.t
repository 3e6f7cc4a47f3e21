# The shell's own errors, each on a line of its own: an unknown first word, a later word that fits nothing,
# a command not typed whole, an abbreviation of two keywords ("c": clear, configure), extra words, a control
# character; a platform command above the session's level is as unknown as a word that names nothing.
# "do" alone is incomplete, and the words after it are matched as an EXEC command.
--- input
bogus
configure bogus
configure
c terminal
write memory now
show running-config	extra
platform kernel show
conf t
do
do bogus
do configure
write memory
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
% Incomplete command
% Unknown command
% Incomplete command
write  memory
     ^
% Invalid input detected at '^' marker.
