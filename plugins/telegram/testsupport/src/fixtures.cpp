#include "orbrix/telegram/testing/fixtures.hpp"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace orbrix::telegram::testing {

std::string fixture_text(std::string_view name) {
  const std::string path = std::string(ORBRIX_TELEGRAM_FIXTURE_DIR) + "/" + std::string(name);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw std::runtime_error("cannot read fixture " + path);
  }
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

nlohmann::json fixture_json(std::string_view name) {
  return nlohmann::json::parse(fixture_text(name));
}

}  // namespace orbrix::telegram::testing
