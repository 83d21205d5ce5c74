#pragma once

// The documented vendor members (vendor_members.def) as a table that code
// and tests check against at compile time and at run time.

#include <array>
#include <cstddef>
#include <string_view>

namespace orbrix::cqg {

struct DocumentedMember {
  std::string_view object;  // the object's type name: "CQGQuote"
  std::string_view member;  // "price", "_NewEnum", "_Default"
};

inline constexpr DocumentedMember kDocumentedMembers[] = {
#define VENDOR_MEMBER(object, member) {#object, #member},
#include "orbrix/cqg/vendor_members.def"
#undef VENDOR_MEMBER
};

// The reads a handler makes beyond the documents' sequence for its event
// (vendor_additions.def), in the order made.
struct DeclaredAddition {
  std::string_view event;   // "OnTicksResolved"
  std::string_view object;  // "CQGError"
  std::string_view member;  // "Code"
};

inline constexpr DeclaredAddition kDeclaredAdditions[] = {
#define VENDOR_ADDITION(event, object, member) {#event, #object, #member},
#include "orbrix/cqg/vendor_additions.def"
#undef VENDOR_ADDITION
};

// Names compare without regard to letter case, as the vendor's do.
constexpr bool same_name(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

// Whether the documents name `member` for objects of type `object`.
constexpr bool is_documented(std::string_view object, std::string_view member) noexcept {
  for (const DocumentedMember& m : kDocumentedMembers) {
    if (same_name(m.object, object) && same_name(m.member, member)) {
      return true;
    }
  }
  return false;
}

template <std::size_t N>
constexpr bool all_documented(std::string_view object,
                              const std::array<std::string_view, N>& members) noexcept {
  for (std::string_view m : members) {
    if (!is_documented(object, m)) {
      return false;
    }
  }
  return true;
}

}  // namespace orbrix::cqg
