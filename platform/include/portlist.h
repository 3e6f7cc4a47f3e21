/*
 * Port-list library.
 *
 * A port list holds logical ports 1 to 768, one bit each, in 24 unsigned 32-bit words in the machine's byte
 * order. Port p lives in word (p - 1) / 32 at bit 31 - ((p - 1) % 32): port 1 is the most significant bit of
 * word 0, port 768 the least significant bit of word 23. A list has no header; an all-zero list is empty.
 * Port numbers outside 1 to 768 are ignored by the setters and never reported as present.
 */
#ifndef PLATFORM_PORTLIST_H
#define PLATFORM_PORTLIST_H

#include "platform_types.h"

#define PORTLIST_WORDS 24
#define PORTLIST_MAX_PORT 768

typedef struct {
    uint32_t word[PORTLIST_WORDS];
} PORTLIST_T;

PLATFORM_ASSERT_LAYOUT(sizeof(PORTLIST_T) == 96, "a port list is 96 bytes");

/* Word index and bit mask of logical port p (1 to 768) in a port list. */
#define PORTLIST_WORD_OF(p) (((p) - 1u) / 32u)
#define PORTLIST_MASK_OF(p) (0x80000000u >> (((p) - 1u) % 32u))

PLATFORM_BEGIN_DECLS

void PORTLIST_clear_all(PORTLIST_T *list);
void PORTLIST_copy(PORTLIST_T *dst, const PORTLIST_T *src);
/* dst = a | b; dst may be a or b. */
void PORTLIST_or(PORTLIST_T *dst, const PORTLIST_T *a, const PORTLIST_T *b);
/* dst = a without the ports of b; dst may be a or b. */
void PORTLIST_maskout(PORTLIST_T *dst, const PORTLIST_T *a, const PORTLIST_T *b);
void PORTLIST_set_port(PORTLIST_T *list, uint32_t lport);
void PORTLIST_clear_port(PORTLIST_T *list, uint32_t lport);
/* Non-zero when lport is in the list. */
int PORTLIST_chk_port_exist(const PORTLIST_T *list, uint32_t lport);
/* Non-zero when no port is in the list. */
int PORTLIST_chk_empty(const PORTLIST_T *list);
/* Non-zero when a and b share at least one port. */
int PORTLIST_chk_overlap(const PORTLIST_T *a, const PORTLIST_T *b);
/* The lowest port of the list above `after` (0 = from the start), or 0 when there is none. */
uint32_t PORTLIST_get_first_port(const PORTLIST_T *list, uint32_t after);

PLATFORM_END_DECLS

#endif
