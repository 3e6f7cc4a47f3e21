# An unknown option stops the simulated switch before it boots: the reason and the usage on standard error,
# exit status 2.
# args: --log-level high
--- input
--- output
--- stderr
dhcpftr: --log-level needs a number from 0 to 1000
usage: dhcpftr [--help] [--version] [--batch | --no-console] [--startup-config FILE] [--level N]
               [--log-level N] [--log-file FILE|-|syslog] [--agentx SOCKET] [--bridge NAME]
               [--vty-socket PATH [--vty-group NAME]]
  --batch               read commands from standard input, print only their output
  --no-console          no session on standard input (also when it is not a terminal)
  --startup-config FILE replay FILE at boot; 'write memory' saves to it
  --level N             privilege level of the console (1-20, default 2) and of the
                        operator sessions (default 15)
  --log-level N         lowest log level written (default 0: all)
  --log-file FILE       write the log to FILE, '-' for standard error, 'syslog' for syslog
  --agentx SOCKET       serve SNMP as an AgentX subagent of the master agent at SOCKET
  --bridge NAME         attach ports to the existing Linux bridge NAME instead of the
                        switch's own bridge dhcpftr0
  --vty-socket PATH     serve operator sessions (dhcpftr-cli) on the unix socket PATH
  --vty-group NAME      group of the socket (default: dhcpftr when that group exists)
  --version             print the release and stop
--- exit 2
