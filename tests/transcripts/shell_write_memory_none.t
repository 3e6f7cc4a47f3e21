# Without --startup-config "write memory" has nowhere to save the running configuration.
--- input
write memory
--- output
% No startup-configuration file
