#include "src/trace_file.hpp"

#include <fmt/format.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string_view>

#include "orbrix/common/mutex.hpp"

namespace orbrix::backtest {

namespace {

// The open file; the sink's copies share it, and the last one closes it.
class LogFile {
 public:
  explicit LogFile(std::FILE* file) : file_(file) {}
  ~LogFile() { std::fclose(file_); }
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  void write(std::string_view line) {
    MutexLock lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fputc('\n', file_);
  }

 private:
  Mutex mutex_;
  std::FILE* const file_ PT_GUARDED_BY(mutex_);
};

}  // namespace

TraceToFile::TraceToFile(const std::filesystem::path& path) {
  std::error_code ec;
  if (path.has_parent_path()) {
    std::filesystem::create_directories(path.parent_path(), ec);
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    throw std::runtime_error(
        fmt::format("cannot write the trace log {}: {}", path.string(), std::strerror(errno)));
  }
  auto log = std::make_shared<LogFile>(file);
  previous_ = cqg::set_trace_sink([log](std::string_view line) { log->write(line); });
}

TraceToFile::~TraceToFile() {
  cqg::set_trace_sink(std::move(previous_));
}

}  // namespace orbrix::backtest
