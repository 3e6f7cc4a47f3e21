// The port-list library of portlist.h. Every operation works on the words' values, never on their bytes,
// so the layout is the same on hosts of either byte order.
#include "portlist.h"

#include <bit>
#include <cstdint>

namespace {

bool valid_port(std::uint32_t lport) {
    return lport >= 1 && lport <= PORTLIST_MAX_PORT;
}

}  // namespace

void PORTLIST_clear_all(PORTLIST_T *list) {
    for (std::uint32_t &word : list->word)
        word = 0;
}

void PORTLIST_copy(PORTLIST_T *dst, const PORTLIST_T *src) {
    *dst = *src;
}

// Word by word, each word read before it is written, so dst may be a or b.
void PORTLIST_or(PORTLIST_T *dst, const PORTLIST_T *a, const PORTLIST_T *b) {
    for (int i = 0; i < PORTLIST_WORDS; ++i)
        dst->word[i] = a->word[i] | b->word[i];
}

void PORTLIST_maskout(PORTLIST_T *dst, const PORTLIST_T *a, const PORTLIST_T *b) {
    for (int i = 0; i < PORTLIST_WORDS; ++i)
        dst->word[i] = a->word[i] & ~b->word[i];
}

void PORTLIST_set_port(PORTLIST_T *list, uint32_t lport) {
    if (valid_port(lport))
        list->word[PORTLIST_WORD_OF(lport)] |= PORTLIST_MASK_OF(lport);
}

void PORTLIST_clear_port(PORTLIST_T *list, uint32_t lport) {
    if (valid_port(lport))
        list->word[PORTLIST_WORD_OF(lport)] &= ~PORTLIST_MASK_OF(lport);
}

int PORTLIST_chk_port_exist(const PORTLIST_T *list, uint32_t lport) {
    return valid_port(lport) && (list->word[PORTLIST_WORD_OF(lport)] & PORTLIST_MASK_OF(lport)) != 0;
}

int PORTLIST_chk_empty(const PORTLIST_T *list) {
    for (std::uint32_t word : list->word)
        if (word != 0)
            return 0;
    return 1;
}

int PORTLIST_chk_overlap(const PORTLIST_T *a, const PORTLIST_T *b) {
    for (int i = 0; i < PORTLIST_WORDS; ++i)
        if ((a->word[i] & b->word[i]) != 0)
            return 1;
    return 0;
}

// Port p is bit 31 - (p - 1) % 32, so within a word the lowest port is the most significant bit set.
uint32_t PORTLIST_get_first_port(const PORTLIST_T *list, uint32_t after) {
    if (after >= PORTLIST_MAX_PORT)
        return 0;
    // Port after + 1 is bit index `after` counted from the top of the list; drop the ports before it.
    std::uint32_t w = after / 32;
    std::uint32_t word = list->word[w] & (0xFFFFFFFFu >> (after % 32));
    while (word == 0) {
        if (++w == PORTLIST_WORDS)
            return 0;
        word = list->word[w];
    }
    return w * 32 + static_cast<std::uint32_t>(std::countl_zero(word)) + 1;
}
