/*
 * Platform log.
 *
 * qvprintf(module, sub, level, flag, format, ...) writes one piece of a log line. Flag 0 starts a line; flag 1
 * continues the line started last, so that a heading and the pieces that follow it form one line. The
 * format is printf's, plus "%r": the address of a 4-byte IPv4 address in network byte order, printed dotted,
 * honouring width and "-" as "%s" does. Where lines go and which levels pass is set by the platform.
 */
#ifndef PLATFORM_QVLOG_H
#define PLATFORM_QVLOG_H

#include "platform_types.h"

/* Levels, least to most severe. */
#define QVLOG_LEVEL_DEBUG 101
#define QVLOG_LEVEL_INFO 103
#define QVLOG_LEVEL_WARNING 104
#define QVLOG_LEVEL_ERROR 107

#define QVLOG_FLAG_NEW_LINE 0
#define QVLOG_FLAG_CONTINUE 1

PLATFORM_BEGIN_DECLS

int qvprintf(int module, int sub, int level, int flag, const char *format, ...);

PLATFORM_END_DECLS

#endif
