#pragma once

// Heap bytes in use, for the benchmarks that weigh what a structure keeps.

#include <malloc.h>

// glibc's count of what is allocated and not freed: the figure per item,
// exact and untouched by what earlier runs in this process left mapped.
inline double heap_bytes() {
  const struct mallinfo2 m = mallinfo2();
  return static_cast<double>(m.uordblks + m.hblkhd);
}
