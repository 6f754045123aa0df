#pragma once
// What every boundary header shares: the layout assert, spelled so that the
// same line compiles as C11 and as C++17 or later.
//
// TAVO_ABI_ASSERT(expression): a compile-time check of a record's size or
// offset. The numbers under `#if UINTPTR_MAX == 0xFFFFFFFFu` are the host's
// (32-bit pointers); the 32-bit builds prove them.

#ifdef __cplusplus
#define TAVO_ABI_ASSERT(expression) static_assert(expression, #expression)
#else
#define TAVO_ABI_ASSERT(expression) _Static_assert(expression, #expression)
#endif
