#pragma once

#include <array>
#include <concepts>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "orbrix/automation/dispatch.hpp"

namespace orbrix::automation {

// A wrapped object reference for access by name: what the code does before
// reading a vendor object's properties. Calls resolve the name (proxies
// cache the id), then invoke by id. Copies share the same object.
class Object {
 public:
  Object() = default;
  explicit Object(DispatchPtr p) noexcept : p_(std::move(p)) {}
  template <class T>
  requires(std::derived_from<T, Dispatch> &&
           !std::same_as<T, Dispatch>) explicit Object(std::shared_ptr<T> p) noexcept
      : p_(std::move(p)) {}
  // Wraps an object held in a variant; none gives a null Object (test it
  // with is_null before use, as for an optional error argument); any other
  // kind is a TypeError.
  explicit Object(const Variant& v) : p_(v.as_object_or_null()) {}

  bool is_null() const noexcept { return p_ == nullptr; }
  // Whether both refer to the same object (by identity, not by wrapper).
  bool same_object(const Object& other) const noexcept {
    return p_ && other.p_ && p_->identity() == other.p_->identity();
  }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  const DispatchPtr& dispatch() const noexcept { return p_; }
  std::string_view type_name() const;

  DispId id_of(std::string_view name) const;

  // Property get (arguments make a parameterised get: Balance(0)).
  template <class... A>
  Variant get(std::string_view name, A&&... args) const {
    return invoke_named(name, InvokeKind::PropertyGet, pack(std::forward<A>(args)...));
  }
  // Property get of an object-valued property, wrapped.
  template <class... A>
  Object object(std::string_view name, A&&... args) const {
    return Object(get(name, std::forward<A>(args)...));
  }
  void put(std::string_view name, Variant value) const;
  template <class... A>
  Variant call(std::string_view name, A&&... args) const {
    return invoke_named(name, InvokeKind::Method, pack(std::forward<A>(args)...));
  }
  // The default member: Properties(id), coll(i).
  template <class... A>
  Variant operator()(A&&... args) const {
    auto a = pack(std::forward<A>(args)...);
    return invoke(kDispIdValue, InvokeKind::Method, a);
  }
  // The default member's object, wrapped, so a chain reads as one
  // expression: order.object("Properties").item(id).get("Value").
  template <class... A>
  Object item(A&&... args) const {
    return Object((*this)(std::forward<A>(args)...));
  }

  // By id, for hot paths that resolved the name once.
  Variant invoke(DispId id, InvokeKind kind, Args args) const;

  // The items of a collection in collection order (through its enumerator:
  // one call for the enumerator, one for its count and one per item).
  std::vector<Variant> items() const;

 private:
  template <class... A>
  static std::array<Variant, sizeof...(A)> pack(A&&... args) {
    return {Variant(std::forward<A>(args))...};
  }
  Variant invoke_named(std::string_view name, InvokeKind kind, Args args) const;
  const DispatchPtr& checked() const;

  DispatchPtr p_;
};

}  // namespace orbrix::automation
