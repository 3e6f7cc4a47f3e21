/*
 * Numbers shared by the whole daemon: its identities towards the platform, the log module and levels,
 * the limits of its tables and the results of its commits.
 */
#ifndef DHCPFTR_DEFS_H
#define DHCPFTR_DEFS_H

#include <stdint.h>

#include "qvlog.h"

/* Module id towards the start-up framework and protocol id towards the NSM client. */
#define DHCPFTR_MODULE_ID 57

/* Log module number of every line the daemon writes; lines begin with "%s [%d]: " (function, line). */
#define DHCPFTR_LOG_MODULE 153

/* Permit rules the store holds at most. */
#define DHCPFTR_MAX_RULES 255

/* Trunk ids run from 0 to 127: the trunk interface's ifindex minus the first trunk ifindex. */
#define DHCPFTR_TRUNK_NUM 128

/* Suppress duration of illegal-server reports, in minutes. */
#define DHCPFTR_DEFAULT_TRAP_DURATION 10
#define DHCPFTR_MIN_TRAP_DURATION 1
#define DHCPFTR_MAX_TRAP_DURATION 30

/* Commit results (written through a signed 32-bit out-parameter). Any other non-zero value is the kernel
 * filter's own result, passed through unchanged. */
#define DHCPFTR_RET_OK 0
#define DHCPFTR_RET_DB_FAIL (-20)       /* the kernel filter accepted, the store could not follow */
#define DHCPFTR_RET_SEND_FAIL (-30)     /* the message could not be sent; nothing changed */
#define DHCPFTR_RET_DB_FULL (-50)       /* a new rule was refused: the store is full */
#define DHCPFTR_RET_TIMEOUT (-60)       /* the kernel filter did not answer in time; nothing changed */
#define DHCPFTR_RET_NO_RESOURCE (-100)  /* the kernel filter is out of resources */

/* The six bytes of a MAC address as arguments of "%02X:%02X:%02X:%02X:%02X:%02X". */
#define DHCPFTR_MAC_ARGS(mac) (mac)[0], (mac)[1], (mac)[2], (mac)[3], (mac)[4], (mac)[5]

#endif
