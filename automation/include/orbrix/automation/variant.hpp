#pragma once

#include <chrono>
#include <concepts>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

namespace orbrix::automation {

class Dispatch;
using DispatchPtr = std::shared_ptr<Dispatch>;

// Local date-time without zone (the same type as orbrix::DateTime).
using Date = std::chrono::local_time<std::chrono::microseconds>;

enum class VariantKind : std::uint8_t { Empty, Bool, Int, Double, Text, Date, Object };

// Text name of a kind, for error messages ("integer", "object", ...).
std::string_view kind_name(VariantKind kind) noexcept;

// The value that crosses every late-bound call: empty ("none"), bool, 64-bit
// integer, double, text, date-time, or an object reference. Conversions are
// checked: asking for the wrong kind raises TypeError naming what was
// expected and what was found.
class Variant {
 public:
  Variant() noexcept = default;
  Variant(std::nullptr_t) noexcept {}
  Variant(bool b) noexcept : v_(b) {}
  template <std::integral I>
  requires(!std::same_as<I, bool>) Variant(I i)
  noexcept : v_(static_cast<std::int64_t>(i)) {}
  Variant(double d) noexcept : v_(d) {}
  Variant(float f) noexcept : v_(static_cast<double>(f)) {}
  Variant(std::string s) noexcept : v_(std::move(s)) {}
  Variant(std::string_view s) : v_(std::string(s)) {}
  Variant(const char* s) : v_(std::string(s)) {}
  Variant(Date d) noexcept : v_(d) {}
  // A null pointer makes an empty variant.
  Variant(DispatchPtr p) noexcept;
  template <class T>
  requires(std::derived_from<T, Dispatch> && !std::same_as<T, Dispatch>)
      Variant(std::shared_ptr<T> p)
  noexcept : Variant(DispatchPtr(std::move(p))) {}

  VariantKind kind() const noexcept { return static_cast<VariantKind>(v_.index()); }
  bool is_empty() const noexcept { return kind() == VariantKind::Empty; }
  bool is_object() const noexcept { return kind() == VariantKind::Object; }

  // Checked conversions; each throws TypeError on a wrong kind.
  bool as_bool() const;
  // Integers; a double is accepted only when it holds a whole number.
  std::int64_t as_int() const;
  // Doubles and integers.
  double as_double() const;
  const std::string& as_string() const;
  Date as_date() const;
  // An object reference; empty is a TypeError too.
  const DispatchPtr& as_object() const;
  // An object reference, or null for empty; other kinds are a TypeError.
  DispatchPtr as_object_or_null() const;

  // Truth as a condition: empty, false, 0, 0.0 and "" are false.
  bool truthy() const noexcept;

  // Default text form: "None", "True"/"False", decimal integers, doubles as
  // shortest round-trip text with ".0" for whole numbers, text unchanged,
  // date-times as "YYYY-MM-DD HH:MM:SS[.ffffff]", objects as "<TypeName object>".
  std::string to_text() const;

  friend bool operator==(const Variant& a, const Variant& b) noexcept;

 private:
  [[noreturn]] void wrong_kind(VariantKind expected) const;
  std::variant<std::monostate, bool, std::int64_t, double, std::string, Date, DispatchPtr> v_;
};

// Shortest round-trip text of a double, with ".0" on whole numbers ("100.0").
std::string double_to_text(double d);

}  // namespace orbrix::automation
