#include "orbrix/automation/object.hpp"

#include <array>

#include "orbrix/automation/errors.hpp"

namespace orbrix::automation {

const DispatchPtr& Object::checked() const {
  if (!p_) {
    throw TypeError("expected object, got empty");
  }
  return p_;
}

std::string_view Object::type_name() const {
  return checked()->type_name();
}

DispId Object::id_of(std::string_view name) const {
  return checked()->get_id_of_name(name);
}

Variant Object::invoke(DispId id, InvokeKind kind, Args args) const {
  return checked()->invoke(id, kind, args);
}

Variant Object::invoke_named(std::string_view name, InvokeKind kind, Args args) const {
  return checked()->invoke_by_name(name, kind, args);
}

void Object::put(std::string_view name, Variant value) const {
  const std::array<Variant, 1> args{std::move(value)};
  invoke_named(name, InvokeKind::PropertyPut, args);
}

std::vector<Variant> Object::items() const {
  const Object enumerator(checked()->invoke(kDispIdNewEnum, InvokeKind::Method, {}));
  const auto count = enumerator.get("Count").as_int();
  std::vector<Variant> items;
  items.reserve(static_cast<std::size_t>(count));
  const DispId next = enumerator.id_of("Next");
  for (std::int64_t i = 0; i < count; ++i) {
    items.push_back(enumerator.invoke(next, InvokeKind::Method, {}));
  }
  return items;
}

}  // namespace orbrix::automation
