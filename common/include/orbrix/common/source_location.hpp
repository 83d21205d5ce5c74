#pragma once

// Where a call was made: std::source_location where the standard library
// provides it; otherwise (clang 14 over libstdc++, which lacks the builtin
// it needs) a type with the same members, filled by the builtins both
// compilers have.

#include <cstdint>
#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

namespace orbrix {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
class SourceLocation {
 public:
  static constexpr SourceLocation current(const char* file = __builtin_FILE(),
                                          int line = __builtin_LINE(),
                                          const char* function = __builtin_FUNCTION()) noexcept {
    SourceLocation l;
    l.file_ = file;
    l.line_ = static_cast<std::uint_least32_t>(line);
    l.function_ = function;
    return l;
  }
  constexpr SourceLocation() noexcept = default;
  constexpr const char* file_name() const noexcept { return file_; }
  constexpr const char* function_name() const noexcept { return function_; }
  constexpr std::uint_least32_t line() const noexcept { return line_; }
  constexpr std::uint_least32_t column() const noexcept { return 0; }

 private:
  const char* file_ = "";
  const char* function_ = "";
  std::uint_least32_t line_ = 0;
};
#endif

}  // namespace orbrix
