#include "orbrix/automation/variant.hpp"

#include <fmt/format.h>

#include <cmath>

#include "orbrix/automation/dispatch.hpp"
#include "orbrix/automation/errors.hpp"
#include "orbrix/common/datetime.hpp"

namespace orbrix::automation {

std::string_view kind_name(VariantKind kind) noexcept {
  switch (kind) {
    case VariantKind::Empty:
      return "empty";
    case VariantKind::Bool:
      return "boolean";
    case VariantKind::Int:
      return "integer";
    case VariantKind::Double:
      return "double";
    case VariantKind::Text:
      return "text";
    case VariantKind::Date:
      return "date-time";
    case VariantKind::Object:
      return "object";
  }
  return "unknown";
}

Variant::Variant(DispatchPtr p) noexcept {
  if (p) {
    v_ = std::move(p);
  }
}

void Variant::wrong_kind(VariantKind expected) const {
  throw TypeError(fmt::format("expected {}, got {}", kind_name(expected), kind_name(kind())));
}

bool Variant::as_bool() const {
  if (auto* b = std::get_if<bool>(&v_)) {
    return *b;
  }
  wrong_kind(VariantKind::Bool);
}

std::int64_t Variant::as_int() const {
  if (auto* i = std::get_if<std::int64_t>(&v_)) {
    return *i;
  }
  if (auto* d = std::get_if<double>(&v_)) {
    // Only whole numbers inside the 64-bit range convert without loss.
    if (std::isfinite(*d) && std::trunc(*d) == *d && *d >= -9.2233720368547758e18 &&
        *d < 9.2233720368547758e18) {
      return static_cast<std::int64_t>(*d);
    }
    throw TypeError(fmt::format("expected integer, got double {}", double_to_text(*d)));
  }
  wrong_kind(VariantKind::Int);
}

double Variant::as_double() const {
  if (auto* d = std::get_if<double>(&v_)) {
    return *d;
  }
  if (auto* i = std::get_if<std::int64_t>(&v_)) {
    return static_cast<double>(*i);
  }
  wrong_kind(VariantKind::Double);
}

const std::string& Variant::as_string() const {
  if (auto* s = std::get_if<std::string>(&v_)) {
    return *s;
  }
  wrong_kind(VariantKind::Text);
}

Date Variant::as_date() const {
  if (auto* d = std::get_if<Date>(&v_)) {
    return *d;
  }
  wrong_kind(VariantKind::Date);
}

const DispatchPtr& Variant::as_object() const {
  if (auto* p = std::get_if<DispatchPtr>(&v_)) {
    return *p;
  }
  wrong_kind(VariantKind::Object);
}

DispatchPtr Variant::as_object_or_null() const {
  if (is_empty()) {
    return nullptr;
  }
  return as_object();
}

bool Variant::truthy() const noexcept {
  switch (kind()) {
    case VariantKind::Empty:
      return false;
    case VariantKind::Bool:
      return std::get<bool>(v_);
    case VariantKind::Int:
      return std::get<std::int64_t>(v_) != 0;
    case VariantKind::Double:
      return std::get<double>(v_) != 0.0;
    case VariantKind::Text:
      return !std::get<std::string>(v_).empty();
    case VariantKind::Date:
    case VariantKind::Object:
      return true;
  }
  return false;
}

std::string double_to_text(double d) {
  std::string s = fmt::format("{}", d);
  if (std::isfinite(d) && s.find_first_of(".e") == std::string::npos) {
    s += ".0";
  }
  return s;
}

std::string Variant::to_text() const {
  switch (kind()) {
    case VariantKind::Empty:
      return "None";
    case VariantKind::Bool:
      return std::get<bool>(v_) ? "True" : "False";
    case VariantKind::Int:
      return fmt::format("{}", std::get<std::int64_t>(v_));
    case VariantKind::Double:
      return double_to_text(std::get<double>(v_));
    case VariantKind::Text:
      return std::get<std::string>(v_);
    case VariantKind::Date:
      return orbrix::to_text(std::get<Date>(v_));
    case VariantKind::Object:
      return fmt::format("<{} object>", std::get<DispatchPtr>(v_)->type_name());
  }
  return {};
}

bool operator==(const Variant& a, const Variant& b) noexcept {
  // Integers and doubles compare by value, as numbers do in the vendor's world.
  if (a.kind() == VariantKind::Int && b.kind() == VariantKind::Double) {
    return static_cast<double>(std::get<std::int64_t>(a.v_)) == std::get<double>(b.v_);
  }
  if (a.kind() == VariantKind::Double && b.kind() == VariantKind::Int) {
    return b == a;
  }
  return a.v_ == b.v_;
}

}  // namespace orbrix::automation
