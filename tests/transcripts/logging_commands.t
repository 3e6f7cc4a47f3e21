# The logging commands, replayed from the startup file and typed. The running configuration holds the
# buffer's and the consoles' settings only when they differ from the defaults, after the screening blocks;
# show logging has its header, then the buffer's lines oldest first, each with its stamp; a buffer of 10
# lines keeps the last 10; clear logging empties it; a change the kernel filter refuses leaves its lines in
# the buffer (its answers delayed, so that the wait's time-out line always comes before the answer); sizes
# and levels outside the commands are refused; clear running-config puts the defaults back.
# args: --level 15 --startup-config startup-config.conf
--- file startup-config.conf
logging buffered 500 warnings
no logging console
!
--- input
show running-config
configure terminal
ip dhcp screening ports eth1.1
logging buffered 500 warnings
logging console informational
do show running-config
no logging console
no logging buffered
do show running-config
do show logging
logging buffered
logging console
do show running-config
no logging console
logging buffered 10
do show running-config
no ip dhcp screening server-ip 10.2.2.2 ports eth1.1
no ip dhcp screening server-ip 10.2.2.3 ports eth1.1
no ip dhcp screening server-ip 10.2.2.4 ports eth1.1
no ip dhcp screening server-ip 10.2.2.5 ports eth1.1
do show logging
do clear logging
do show logging
logging buffered 50 warnings
do platform kernel delay 20
do platform kernel refuse 1 -100
ip dhcp screening ports eth1.2
do show logging
logging buffered 9
logging buffered 100001
logging buffered 50 notifications
logging console critical
end
clear running-config
show running-config
clear logging
show logging
--- output
logging buffered 500 warnings
no logging console
!
ip dhcp screening ports eth1.1
!
logging buffered 500 warnings
logging console informational
!
ip dhcp screening ports eth1.1
!
no logging buffered
no logging console
!
Console logging: disabled
Monitor logging: disabled
Buffer logging: disabled
ip dhcp screening ports eth1.1
!
logging console debugging
!
ip dhcp screening ports eth1.1
!
logging buffered 10
no logging console
!
Console logging: disabled
Monitor logging: disabled
Buffer logging: level debugging, 12 messages logged

Log Buffer (10 lines):

MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: rule not found=> server_ip A020202, MAC= 00:00:00:00:00:00
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: Delete ports rule (server_ip A020203, MAC=00:00:00:00:00:00)
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]:Ports to be deleted: eth1.1
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: rule not found=> server_ip A020203, MAC= 00:00:00:00:00:00
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: Delete ports rule (server_ip A020204, MAC=00:00:00:00:00:00)
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]:Ports to be deleted: eth1.1
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: rule not found=> server_ip A020204, MAC= 00:00:00:00:00:00
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: Delete ports rule (server_ip A020205, MAC=00:00:00:00:00:00)
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]:Ports to be deleted: eth1.1
MMM DD HH:MM:SS.mmm: dhcpftr.101 Dhcpftr_DB_Delete_Rule_to_K [178]: rule not found=> server_ip A020205, MAC= 00:00:00:00:00:00
Console logging: disabled
Monitor logging: disabled
Buffer logging: level debugging, 12 messages logged

Log Buffer (10 lines):

% Resource unavailable
Console logging: disabled
Monitor logging: disabled
Buffer logging: level warnings, 15 messages logged

Log Buffer (50 lines):

MMM DD HH:MM:SS.mmm: dhcpftr.104 _dhcpftr_wait_for_event [188]: time out 0 times
MMM DD HH:MM:SS.mmm: dhcpftr.107 Dhcpftr_U_value_msg_process [130]: rx response from kernel for 4
MMM DD HH:MM:SS.mmm: dhcpftr.104 Dhcpftr_DB_Update_Ports_to_K [223]: set ports to kernel failed, ret -100
logging buffered 9
                 ^
% Invalid input detected at '^' marker.
logging buffered 100001
                 ^
% Invalid input detected at '^' marker.
logging buffered 50 notifications
                    ^
% Invalid input detected at '^' marker.
logging console critical
                ^
% Invalid input detected at '^' marker.
Console logging: level warnings, platform messages only, 0 messages logged
Monitor logging: level warnings, platform messages only, 0 messages logged
Buffer logging: level debugging, 21 messages logged

Log Buffer (1000 lines):

