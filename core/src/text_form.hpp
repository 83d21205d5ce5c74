#pragma once

// Pieces of the one-line text forms of the records: texts in double quotes,
// numbers in their shortest exact form, "none" for an absent value.

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include <fmt/format.h>

#include "orbrix/common/datetime.hpp"
#include "orbrix/core/constants.hpp"

namespace orbrix::text_form {

inline std::string quoted(std::string_view text) {
  return fmt::format("\"{}\"", text);
}

template <class T>
std::string value(const T& v) {
  if constexpr (std::is_enum_v<T>) {
    return to_text(v);
  } else if constexpr (std::is_same_v<T, DateTime>) {
    return to_text(v);
  } else {
    return fmt::format("{}", v);
  }
}

template <class T>
std::string optional(const std::optional<T>& v) {
  return v ? value(*v) : std::string("none");
}

inline std::string optional_quoted(const std::optional<std::string>& v) {
  return v ? quoted(*v) : std::string("none");
}

}  // namespace orbrix::text_form
