#pragma once

#include <cstdio>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::testing {

// The gateway's traced lines go nowhere while it lives, so a test's own
// output stays readable.
class QuietTrace {
 public:
  QuietTrace() : null_(std::fopen("/dev/null", "w")), previous_(cqg::set_output_stream(null_)) {}
  ~QuietTrace() {
    cqg::set_output_stream(previous_);
    std::fclose(null_);
  }
  QuietTrace(const QuietTrace&) = delete;
  QuietTrace& operator=(const QuietTrace&) = delete;

 private:
  std::FILE* null_;
  std::FILE* previous_;
};

}  // namespace orbrix::testing
