#include "orbrix/telegram/log.hpp"

#include <cstdio>
#include <mutex>
#include <string>

namespace orbrix::telegram {

void write_line(std::string_view line) {
  std::string buffer;
  buffer.reserve(line.size() + 1);
  buffer.append(line);
  buffer.push_back('\n');
  static std::mutex mu;
  std::lock_guard<std::mutex> lock(mu);
  std::fwrite(buffer.data(), 1, buffer.size(), stdout);
  std::fflush(stdout);
}

}  // namespace orbrix::telegram
