#pragma once

// Every allocation of the process, counted so a benchmark can report how
// many its operation makes (on any thread). Replaces the global operator new
// and delete: include it in exactly one file of a benchmark program.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

// GCC takes these replacements for a mismatch with the inlined library
// allocator; they are the process's only operator new and delete.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

std::atomic<std::uint64_t> g_allocations{0};

void* operator new(std::size_t size) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) {
    return p;
  }
  throw std::bad_alloc();
}
// The nothrow form (std::stable_sort's buffer) from the same heap.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
