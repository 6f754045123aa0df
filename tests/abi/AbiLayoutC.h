#pragma once
// The layout table that AbiLayoutC.c fills with C's view of the records: one
// row per size or offset of tests/abi/AbiLayoutRows.h, in that order.

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TavoAbiLayoutRow {
    const char* name;  // "sizeof HostValue", "HostResponse.release"
    size_t value;
} TavoAbiLayoutRow;

extern const TavoAbiLayoutRow tavoAbiLayoutC[];
extern const size_t tavoAbiLayoutCCount;

#ifdef __cplusplus
}
#endif
