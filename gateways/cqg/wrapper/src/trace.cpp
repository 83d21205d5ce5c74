#include "orbrix/cqg/trace.hpp"

#include <fmt/format.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <stdexcept>

namespace orbrix::cqg {
namespace {

std::atomic<std::FILE*> redirected{nullptr};

// Writes the bytes and flushes under the stream's lock, so the whole line
// reaches the file as one piece whatever other threads write.
void write_locked(std::FILE* out, const char* data, std::size_t size, bool flush) {
  flockfile(out);
  const bool ok =
      fwrite_unlocked(data, 1, size, out) == size && (!flush || fflush_unlocked(out) == 0);
  funlockfile(out);
  if (!ok) {
    throw std::runtime_error("cannot write to standard output");
  }
}

}  // namespace

std::FILE* output_stream() noexcept {
  std::FILE* r = redirected.load(std::memory_order_acquire);
  return r ? r : stdout;
}

std::FILE* set_output_stream(std::FILE* stream) noexcept {
  std::FILE* previous = redirected.exchange(stream, std::memory_order_acq_rel);
  return previous ? previous : stdout;
}

long current_thread_id() noexcept {
  thread_local const long id = static_cast<long>(::syscall(SYS_gettid));
  return id;
}

void Trace(std::string_view message) {
  fmt::memory_buffer line;
  const fmt::format_int id(current_thread_id());
  line.append(id.data(), id.data() + id.size());
  line.push_back(':');
  line.push_back(' ');
  line.append(message.data(), message.data() + message.size());
  line.push_back('\n');
  write_locked(output_stream(), line.data(), line.size(), true);
}

void WriteLine(std::string_view text, bool flush) {
  fmt::memory_buffer line;
  line.append(text.data(), text.data() + text.size());
  line.push_back('\n');
  write_locked(output_stream(), line.data(), line.size(), flush);
}

void AssertMessage(bool condition, std::string_view message) {
  if (!condition) {
    throw std::runtime_error(std::string(message));
  }
}

}  // namespace orbrix::cqg
