/*
 * Common definitions of the switch platform's C interfaces.
 *
 * Every platform header is plain C with C linkage, so that the daemon builds unchanged against the real
 * platform libraries of the target. Records that the platform exchanges as 32-bit words have their layout
 * checked here with PLATFORM_ASSERT_LAYOUT; word offsets of fields that hold pointers are checked only where
 * pointers are 32 bits wide, as on the target.
 */
#ifndef PLATFORM_TYPES_H
#define PLATFORM_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define PLATFORM_BEGIN_DECLS extern "C" {
#define PLATFORM_END_DECLS }
#define PLATFORM_ASSERT_LAYOUT(cond, what) static_assert(cond, what)
#else
#define PLATFORM_BEGIN_DECLS
#define PLATFORM_END_DECLS
#define PLATFORM_ASSERT_LAYOUT(cond, what) _Static_assert(cond, what)
#endif

/* Non-zero where pointers are 32 bits wide (the target); pointer-bearing word offsets are checked only there. */
#define PLATFORM_PTR32 (UINTPTR_MAX == 0xFFFFFFFFu)

#endif
