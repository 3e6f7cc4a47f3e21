# Without --startup-config "write memory" (and "write", "copy running-config startup-config") has nowhere to
# save the running configuration, "show startup-config" and "write erase" no file to show or erase.
--- input
write memory
write
copy running-config startup-config
show startup-config
write erase
y
show version | include Startup
--- output
% No startup-configuration file
% No startup-configuration file
% No startup-configuration file
% No startup-configuration file
% No startup-configuration file
Startup configuration file: none
