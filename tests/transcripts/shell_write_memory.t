# An unconfigured daemon's running configuration is empty: "show running-config" prints nothing, and
# "write memory" saves it to the --startup-config file. "clear running-config" prints nothing either.
# args: --startup-config startup-config.conf
--- input
show running-config
write memory
clear running-config
configure terminal
do show running-config
do write memory
--- output
Building configuration...
[OK]
Building configuration...
[OK]
