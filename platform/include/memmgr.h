/*
 * Platform memory manager.
 *
 * Blocks are accounted by the source file that allocated them (the tag) and the line of the call.
 */
#ifndef PLATFORM_MEMMGR_H
#define PLATFORM_MEMMGR_H

#include "platform_types.h"

PLATFORM_BEGIN_DECLS

/* Zero-filled memory of `size` bytes, or NULL. `type` is reserved (0). */
void *mfh_calloc(uint32_t size, uint32_t type, const char *file, int line);
/* Releases a block of mfh_calloc; NULL is ignored. `type` is reserved (0). */
void memmgr_free(uint32_t type, void *ptr, const char *file, int line);

PLATFORM_END_DECLS

#endif
