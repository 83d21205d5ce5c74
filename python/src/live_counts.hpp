#pragma once

// Counts of the objects the binding made and has not yet released: API
// hosts, gateways made from Python and the links Python holds. A test runs
// whole sessions in a loop and checks the counts come back to where they
// were, so nothing a session made is kept across Shutdown.

#include <atomic>

namespace orbrix::python {

struct LiveCounts {
  std::atomic<long> hosts{0};
  std::atomic<long> gateways{0};
  std::atomic<long> links{0};
};

LiveCounts& live_counts() noexcept;

// Counts one object of a kind for as long as it lives.
class Counted {
 public:
  explicit Counted(std::atomic<long>& counter) noexcept : counter_(counter) { ++counter_; }
  ~Counted() { --counter_; }
  Counted(const Counted&) = delete;
  Counted& operator=(const Counted&) = delete;

 private:
  std::atomic<long>& counter_;
};

}  // namespace orbrix::python
