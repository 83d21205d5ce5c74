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
#include <memory>
#include <stdexcept>

#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/common/mutex.hpp"

namespace orbrix::cqg {
namespace {

std::atomic<std::FILE*> redirected{nullptr};

// The sink, when one is set. `has_sink` spares the default path the lock.
std::atomic<bool> has_sink{false};
Mutex sink_mutex;
std::shared_ptr<const TraceSink> sink GUARDED_BY(sink_mutex);

std::shared_ptr<const TraceSink> current_sink() {
  if (!has_sink.load(std::memory_order_acquire)) {
    return nullptr;
  }
  MutexLock lock(sink_mutex);
  return sink;
}

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

// Hands one traced message to the sink. What the sink throws is dropped.
void to_sink(const TraceSink& to, std::string_view text) {
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  try {
    to(text);
  } catch (const ForcedUnwind&) {
    throw;
  } catch (...) {
    // A sink that fails loses its line, never the caller's work.
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

TraceSink set_trace_sink(TraceSink to) {
  auto next = to ? std::make_shared<const TraceSink>(std::move(to)) : nullptr;
  {
    MutexLock lock(sink_mutex);
    has_sink.store(next != nullptr, std::memory_order_release);
    sink.swap(next);
  }
  // `next` holds the previous sink now; it is copied out, and let go of,
  // outside the lock (a binding's sink may take its interpreter's lock when
  // released).
  return next ? *next : TraceSink();
}

namespace {

// To the sink when one is set (the whole text as one message), else to the
// stream.
void emit(const fmt::memory_buffer& text, bool flush) {
  if (const auto to = current_sink()) {
    to_sink(*to, std::string_view(text.data(), text.size()));
    return;
  }
  write_locked(output_stream(), text.data(), text.size(), flush);
}

}  // namespace

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
  emit(line, true);
}

void TraceLines(std::span<const std::string> messages) {
  if (messages.empty()) {
    return;
  }
  const fmt::format_int id(current_thread_id());
  if (const auto to = current_sink()) {
    for (const std::string& message : messages) {
      fmt::memory_buffer line;
      append_traced(line, id, message);
      to_sink(*to, std::string_view(line.data(), line.size()));
    }
    return;
  }
  fmt::memory_buffer lines;
  for (const std::string& message : messages) {
    append_traced(lines, id, message);
  }
  write_locked(output_stream(), lines.data(), lines.size(), true);
}

void WriteLine(std::string_view text, bool flush) {
  fmt::memory_buffer line;
  line.append(text.data(), text.data() + text.size());
  line.push_back('\n');
  emit(line, flush);
}

void AssertMessage(bool condition, std::string_view message) {
  if (!condition) {
    throw std::runtime_error(std::string(message));
  }
}

}  // namespace orbrix::cqg
