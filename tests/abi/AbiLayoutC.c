// The boundary records as a C11 compiler lays them out (the host's side is
// plain C), for AbiLayoutTest to compare with the C++ layout.

#include <stddef.h>
#include <stdint.h>

#include "abi/ApiExport.h"
#include "abi/HostAbi.h"
#include "abi/HostValue.h"
#include "tests/abi/AbiLayoutC.h"

// A few sizes checked by the C compiler itself (the headers' own asserts run
// here too): the host's 32-bit numbers, and those that hold on every target.
#if UINTPTR_MAX == 0xFFFFFFFFu
_Static_assert(sizeof(HostValue) == 12, "HostValue: type word and 8-byte payload, packed");
_Static_assert(sizeof(HostResponse) == 62, "HostResponse: packed, unaligned offsets");
_Static_assert(sizeof(PluginLoadRecord) == 28, "PluginLoadRecord: seven words");
#endif
_Static_assert(sizeof(PluginMemoryStats) == 56, "PluginMemoryStats: no pointer in it");

#define TAVO_ABI_SIZE(record) {"sizeof " #record, sizeof(record)},
#define TAVO_ABI_OFFSET(record, member) {#record "." #member, offsetof(record, member)},
const TavoAbiLayoutRow tavoAbiLayoutC[] = {
#include "tests/abi/AbiLayoutRows.h"
};
const size_t tavoAbiLayoutCCount = sizeof tavoAbiLayoutC / sizeof tavoAbiLayoutC[0];
