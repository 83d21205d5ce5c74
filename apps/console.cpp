#include "console.hpp"

#include <stdexcept>
#include <string>

#include "orbrix/cqg/trace.hpp"

namespace orbrix::demo {

void Console::market(std::string_view line) const {
  if (level_ == OutputLevel::everything) {
    write(line);
  }
}

void Console::event(std::string_view line) const {
  if (level_ != OutputLevel::summary) {
    write(line);
  }
}

void Console::summary(std::string_view line) const {
  write(line);
}

void Console::write(std::string_view line) const {
  // The line and its end in one fwrite, which holds the stream's own lock
  // for the call: a traced line of another thread comes before or after it.
  std::string whole;
  whole.reserve(line.size() + 1);
  whole.append(line).push_back('\n');
  std::fwrite(whole.data(), 1, whole.size(), out_);
  std::fflush(out_);
}

namespace {

// Opened once and never closed: a thread of the gateway that is still
// writing when the demo ends finds it open.
std::FILE* null_stream() {
  static std::FILE* const stream = std::fopen("/dev/null", "w");
  if (stream == nullptr) {
    throw std::runtime_error("cannot open /dev/null to silence the gateway's traced lines");
  }
  return stream;
}

}  // namespace

TracedLines::TracedLines(OutputLevel level) {
  if (level != OutputLevel::everything) {
    previous_ = cqg::set_output_stream(null_stream());
    redirected_ = true;
  }
}

TracedLines::~TracedLines() {
  if (redirected_) {
    cqg::set_output_stream(previous_ == stdout ? nullptr : previous_);
  }
}

}  // namespace orbrix::demo
