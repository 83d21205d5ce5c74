#pragma once

// The engine's records (quotes, order books) are shared, immutable and made
// per event: one heap block each (the record with its reference count).
// make_record takes the block from a cache of freed blocks of its size kept
// per thread, and a record's last release gives its block back to the cache
// of the thread that releases it, so the worker, which makes a record and
// releases the one it replaces, runs without the heap once warm. A block
// crosses threads only with the record's last reference (the shared count's
// release and acquire order the reuse). Each cache keeps at most kKept
// blocks; the rest go back to the heap, and so does a cache when its thread
// ends.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace orbrix::cqg::detail {

template <std::size_t Size, std::size_t Align>
class BlockCache {
 public:
  static constexpr std::size_t kKept = 256;

  static void* take() {
    if (BlockCache* cache = local(); cache != nullptr && cache->count_ > 0) {
      return cache->blocks_[--cache->count_];
    }
    return ::operator new(Size, std::align_val_t(Align));
  }
  static void give(void* block) noexcept {
    if (BlockCache* cache = local(); cache != nullptr && cache->count_ < kKept) {
      cache->blocks_[cache->count_++] = block;
      return;
    }
    ::operator delete(block, std::align_val_t(Align));
  }

 private:
  enum State : unsigned char { unmade, alive, gone };
  BlockCache() {
    state_ = alive;
    current_ = this;
  }
  ~BlockCache() {
    current_ = nullptr;
    state_ = gone;  // a record released later on this thread goes to the heap
    while (count_ > 0) {
      ::operator delete(blocks_[--count_], std::align_val_t(Align));
    }
  }
  // This thread's cache, made on first use; null once the thread has
  // destroyed it.
  static BlockCache* local() noexcept {
    if (BlockCache* cache = current_) {
      return cache;
    }
    if (state_ == gone) {
      return nullptr;
    }
    thread_local BlockCache cache;
    return &cache;
  }

  // Trivial, so they can be read on this thread even after the cache is
  // gone; the hot path reads only the cache's address. (Not initial-exec:
  // a module loaded late, such as Python's, finds no static block left.)
  static thread_local BlockCache* current_;
  static thread_local State state_;
  void* blocks_[kKept];
  std::size_t count_ = 0;
};

template <std::size_t Size, std::size_t Align>
thread_local BlockCache<Size, Align>* BlockCache<Size, Align>::current_ = nullptr;
template <std::size_t Size, std::size_t Align>
thread_local typename BlockCache<Size, Align>::State BlockCache<Size, Align>::state_ =
    BlockCache<Size, Align>::unmade;

// An allocator of single objects from the BlockCache of their size.
template <class T>
struct CachedAllocator {
  using value_type = T;
  CachedAllocator() = default;
  template <class U>
  CachedAllocator(const CachedAllocator<U>&) noexcept {}  // NOLINT(google-explicit-constructor)

  T* allocate(std::size_t n) {
    if (n != 1) {
      return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(alignof(T))));
    }
    return static_cast<T*>(BlockCache<sizeof(T), alignof(T)>::take());
  }
  void deallocate(T* p, std::size_t n) noexcept {
    if (n != 1) {
      ::operator delete(p, std::align_val_t(alignof(T)));
      return;
    }
    BlockCache<sizeof(T), alignof(T)>::give(p);
  }
  template <class U>
  bool operator==(const CachedAllocator<U>&) const noexcept {
    return true;
  }
};

// A shared record made from `args`, its block from the calling thread's
// cache.
template <class T, class... A>
std::shared_ptr<const T> make_record(A&&... args) {
  return std::allocate_shared<T>(CachedAllocator<T>(), std::forward<A>(args)...);
}

}  // namespace orbrix::cqg::detail
