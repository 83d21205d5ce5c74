#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace orbrix::automation::detail {

// A first-in first-out queue over one growable ring of slots. Unlike
// std::deque it allocates only when it grows past its largest size so far,
// so a steady stream of push/pop allocates nothing. Not thread-safe.
template <class T>
class RingQueue {
 public:
  bool empty() const noexcept { return size_ == 0; }
  std::size_t size() const noexcept { return size_; }

  void push_back(T value) {
    if (size_ == slots_.size()) {
      grow();
    }
    slots_[(head_ + size_) & (slots_.size() - 1)] = std::move(value);
    ++size_;
  }
  T& front() noexcept { return slots_[head_]; }
  void pop_front() noexcept {
    slots_[head_] = T{};
    head_ = (head_ + 1) & (slots_.size() - 1);
    --size_;
  }
  // The i-th element from the front.
  T& operator[](std::size_t i) noexcept { return slots_[(head_ + i) & (slots_.size() - 1)]; }

  // Empties the queue and keeps its slots, so refilling it allocates nothing.
  void clear() noexcept {
    for (std::size_t i = 0; i < size_; ++i) {
      (*this)[i] = T{};
    }
    head_ = 0;
    size_ = 0;
  }
  // Exchanges contents and slots with `other`; allocates nothing.
  void swap(RingQueue& other) noexcept {
    slots_.swap(other.slots_);
    std::swap(head_, other.head_);
    std::swap(size_, other.size_);
  }

  // Moves every element out, oldest first, and leaves the queue empty.
  std::vector<T> take_all() {
    std::vector<T> out;
    out.reserve(size_);
    while (!empty()) {
      out.push_back(std::move(front()));
      pop_front();
    }
    return out;
  }

 private:
  void grow() {
    std::vector<T> bigger(slots_.empty() ? 16 : slots_.size() * 2);  // a power of two
    for (std::size_t i = 0; i < size_; ++i) {
      bigger[i] = std::move((*this)[i]);
    }
    slots_ = std::move(bigger);
    head_ = 0;
  }

  std::vector<T> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace orbrix::automation::detail
