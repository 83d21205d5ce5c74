// Variant conversions: every kind asked for every other kind, and the text
// forms, from values the input chooses.
#include <cstdint>
#include <cstring>
#include <string>

#include "orbrix/automation/errors.hpp"
#include "orbrix/automation/variant.hpp"

namespace {

using orbrix::automation::Variant;

Variant make(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return {};
  }
  const auto kind = data[0] % 6;
  ++data;
  --size;
  std::int64_t i = 0;
  double d = 0;
  std::memcpy(&i, data, std::min(size, sizeof i));
  std::memcpy(&d, data, std::min(size, sizeof d));
  switch (kind) {
    case 0:
      return {};
    case 1:
      return Variant(size > 0 && (data[0] & 1));
    case 2:
      return Variant(i);
    case 3:
      return Variant(d);
    case 4:
      return Variant(std::string(reinterpret_cast<const char*>(data), size));
    default:
      return Variant(orbrix::automation::Date(std::chrono::microseconds(i)));
  }
}

template <class F>
void attempt(F&& f) {
  try {
    f();
  } catch (const orbrix::automation::TypeError&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Variant v = make(data, size);
  const Variant w = make(data + size / 2, size - size / 2);
  attempt([&] { (void)v.as_int(); });
  attempt([&] { (void)v.as_double(); });
  attempt([&] { (void)v.as_bool(); });
  attempt([&] { (void)v.as_string(); });
  attempt([&] { (void)v.as_date(); });
  attempt([&] { (void)v.as_object(); });
  attempt([&] { (void)v.as_object_or_null(); });
  (void)v.truthy();
  (void)(v == w);
  if (v.kind() != orbrix::automation::VariantKind::Date ||
      std::abs(v.as_date().time_since_epoch().count()) < (std::int64_t{1} << 50)) {
    (void)v.to_text();  // dates far outside the calendar's range are not texts
  }
  return 0;
}
