#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace orbrix::cqg::testing {

// Sends Trace and WriteLine output to a temporary file for the scope and
// reads it back. Lines written with a thread prefix are parsed into the
// writing thread's id and the message.
class CapturedOutput {
 public:
  struct Line {
    long thread;  // -1 for a line without the "<id>: " prefix
    std::string message;
  };

  CapturedOutput();
  ~CapturedOutput();
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  std::string text() const;
  std::vector<Line> lines() const;
  // The messages written by one thread, in order.
  std::vector<std::string> messages_of(long thread) const;
  // The messages of all threads, in file order.
  std::vector<std::string> messages() const;
  bool contains(std::string_view message) const;
  // Waits until a line with exactly this message has been written.
  bool wait_for(std::string_view message, std::chrono::milliseconds timeout) const;

 private:
  std::FILE* file_;
  std::FILE* previous_;
};

}  // namespace orbrix::cqg::testing
