/* Process manager: the system-ready flag, 0 while the switch is booting, non-zero once it is ready. */
#ifndef PLATFORM_PROCM_H
#define PLATFORM_PROCM_H

#include "platform_types.h"

PLATFORM_BEGIN_DECLS

/* Writes the system-ready flag into *ready; 0 on success. */
int PROCM_Get_System_Ready(int *ready);

PLATFORM_END_DECLS

#endif
