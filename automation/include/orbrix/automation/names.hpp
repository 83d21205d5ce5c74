#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orbrix::automation {

// Names of members, events and constants are matched the way automation
// matches them: without regard to ASCII letter case ("price" finds Price).

// Lower-case copy of an ASCII name.
std::string fold_case(std::string_view name);
// Equality without regard to ASCII letter case.
bool equal_folded(std::string_view a, std::string_view b) noexcept;

// Hash and equality without regard to letter case, usable as transparent
// functors so a lookup by string_view allocates nothing.
struct FoldedHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept;
};
struct FoldedEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return equal_folded(a, b);
  }
};

}  // namespace orbrix::automation
