#include "program_options.hpp"

#include <fmt/format.h>

#include <charconv>
#include <cstdint>
#include <limits>

namespace orbrix::demo {

std::string version_text(const std::string& program) {
  return fmt::format("{} {}", program, ORBRIX_VERSION);
}

void add_version_flag(CLI::App& app, const std::string& program) {
  app.set_version_flag("--version", version_text(program), "print the version and exit");
}

CLI::Validator seed_check() {
  return CLI::Validator(
      [](std::string& text) -> std::string {
        std::uint64_t value = 0;
        const char* end = text.data() + text.size();
        const auto [stop, ec] = std::from_chars(text.data(), end, value);
        if (text.empty() || ec != std::errc() || stop != end) {
          return fmt::format("'{}' is not a seed: give a whole number from 0 to {}", text,
                             std::numeric_limits<std::uint64_t>::max());
        }
        return {};
      },
      "UINT64");
}

}  // namespace orbrix::demo
