#include "orbrix/cqg/testing/captured_output.hpp"

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <cctype>
#include <stdexcept>
#include <thread>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::cqg::testing {

CapturedOutput::CapturedOutput() : file_(std::tmpfile()) {
  if (!file_) {
    throw std::runtime_error("cannot create a temporary file for captured output");
  }
  previous_ = set_output_stream(file_);
}

CapturedOutput::~CapturedOutput() {
  set_output_stream(previous_ == stdout ? nullptr : previous_);
  std::fclose(file_);
}

std::string CapturedOutput::text() const {
#if defined(_WIN32)
  // No pread: read from the start under the stream's lock, then go back to
  // where the writers write.
  _lock_file(file_);
  std::fflush(file_);
  std::string all;
  const long end = std::ftell(file_);
  if (end > 0 && std::fseek(file_, 0, SEEK_SET) == 0) {
    all.resize(static_cast<std::size_t>(end));
    all.resize(std::fread(all.data(), 1, all.size(), file_));
  }
  std::fseek(file_, 0, SEEK_END);
  _unlock_file(file_);
  return all;
#else
  flockfile(file_);
  fflush_unlocked(file_);
  std::string all;
  char buf[4096];
  off_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fileno(file_), buf, sizeof buf, offset);
    if (n <= 0) {
      break;
    }
    all.append(buf, static_cast<std::size_t>(n));
    offset += n;
  }
  funlockfile(file_);
  return all;
#endif
}

std::vector<CapturedOutput::Line> CapturedOutput::lines() const {
  std::vector<Line> out;
  const std::string all = text();
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\n', start);
    if (end == std::string::npos) {
      end = all.size();
    }
    const std::string_view line(all.data() + start, end - start);
    std::size_t digits = 0;
    while (digits < line.size() && std::isdigit(static_cast<unsigned char>(line[digits]))) {
      ++digits;
    }
    if (digits > 0 && line.substr(digits, 2) == ": ") {
      out.push_back(Line{std::stol(std::string(line.substr(0, digits))),
                         std::string(line.substr(digits + 2))});
    } else {
      out.push_back(Line{-1, std::string(line)});
    }
    start = end + 1;
  }
  return out;
}

std::vector<std::string> CapturedOutput::messages_of(long thread) const {
  std::vector<std::string> out;
  for (auto& l : lines()) {
    if (l.thread == thread) {
      out.push_back(std::move(l.message));
    }
  }
  return out;
}

std::vector<std::string> CapturedOutput::messages() const {
  std::vector<std::string> out;
  for (auto& l : lines()) {
    out.push_back(std::move(l.message));
  }
  return out;
}

bool CapturedOutput::contains(std::string_view message) const {
  for (const auto& l : lines()) {
    if (l.message == message) {
      return true;
    }
  }
  return false;
}

bool CapturedOutput::wait_for(std::string_view message, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!contains(message)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace orbrix::cqg::testing
