#pragma once
// Helpers shared by the benchmark programs.

#include <malloc.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

namespace Tavo::Bench {

// Operator new calls of the whole process so far. Defined with the counting
// replacements of the global allocation functions (CountingNew.cpp), which a
// program gets by calling this.
std::uint64_t HeapAllocations();

// The whole file, or "" when it cannot be read.
inline std::string LoadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Fixes the C heap's thresholds so that large blocks come from the heap and
// stay with the process. Otherwise glibc maps and unmaps them per iteration,
// paying page faults, until its adaptive threshold happens to rise, and a
// benchmark's speed depends on what ran before it in the same process.
inline void SteadyHeap() {
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 512 << 20);
}

}  // namespace Tavo::Bench
