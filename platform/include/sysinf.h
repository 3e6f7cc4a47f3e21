/* System information service: modules announce their protocol status. */
#ifndef PLATFORM_SYSINF_H
#define PLATFORM_SYSINF_H

#include "platform_types.h"

PLATFORM_BEGIN_DECLS

/* Announces the status of protocol `proto`, with an optional text; 0 on success. */
int SYSINF_LIB_Proto_Status_Set(int proto, int status, const char *text);

PLATFORM_END_DECLS

#endif
