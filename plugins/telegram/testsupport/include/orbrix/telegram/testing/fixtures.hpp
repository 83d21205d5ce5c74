#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace orbrix::telegram::testing {

// The text of a file of tests/fixtures (Bot API bodies captured from real
// servers and clients). Throws std::runtime_error when it cannot be read.
std::string fixture_text(std::string_view name);
nlohmann::json fixture_json(std::string_view name);

}  // namespace orbrix::telegram::testing
