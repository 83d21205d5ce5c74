#include "orbrix/cqg/trace.hpp"

#include <fmt/format.h>

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <stdexcept>

namespace orbrix::cqg {
namespace {

std::atomic<std::FILE*> redirected{nullptr};

// Writes the bytes and flushes under the stream's lock, so the whole line
// reaches the file as one piece whatever other threads write.
void write_locked(std::FILE* out, const char* data, std::size_t size, bool flush) {
#if defined(_WIN32)
  // The stream's lock is recursive: fwrite and fflush take it again.
  _lock_file(out);
  const bool ok = std::fwrite(data, 1, size, out) == size && (!flush || std::fflush(out) == 0);
  _unlock_file(out);
#else
  flockfile(out);
  const bool ok =
      fwrite_unlocked(data, 1, size, out) == size && (!flush || fflush_unlocked(out) == 0);
  funlockfile(out);
#endif
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
#if defined(_WIN32)
  thread_local const long id = static_cast<long>(::GetCurrentThreadId());
#else
  thread_local const long id = static_cast<long>(::syscall(SYS_gettid));
#endif
  return id;
}

namespace {

void append_traced(fmt::memory_buffer& out, const fmt::format_int& id, std::string_view message) {
  out.append(id.data(), id.data() + id.size());
  out.push_back(':');
  out.push_back(' ');
  out.append(message.data(), message.data() + message.size());
  out.push_back('\n');
}

}  // namespace

void Trace(std::string_view message) {
  fmt::memory_buffer line;
  append_traced(line, fmt::format_int(current_thread_id()), message);
  write_locked(output_stream(), line.data(), line.size(), true);
}

void TraceLines(std::span<const std::string> messages) {
  if (messages.empty()) {
    return;
  }
  fmt::memory_buffer lines;
  const fmt::format_int id(current_thread_id());
  for (const std::string& message : messages) {
    append_traced(lines, id, message);
  }
  write_locked(output_stream(), lines.data(), lines.size(), true);
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
