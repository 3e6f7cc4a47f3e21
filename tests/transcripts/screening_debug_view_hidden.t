# Above the session's level the debug port view is not there: its words end the visible command.
--- input
show ip dhcp screening portlist
--- output
show ip dhcp screening portlist
                       ^
% Invalid input detected at '^' marker.
