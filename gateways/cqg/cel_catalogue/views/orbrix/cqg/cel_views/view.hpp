#pragma once

// The base of the typed views of vendor objects: an object of one
// documented type and the members the view reaches, by ids resolved once per
// thread and per class of object (proxies and the objects themselves share
// ids), each on its first use. A view reaches only members the documents
// name for its type: vendor_members.def, checked at compile time.

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

#include "orbrix/automation/object.hpp"
#include "orbrix/cqg/vendor_members.hpp"

namespace orbrix::cqg::vendor {

// Member ids of one view on one thread: forgotten when the view meets an
// object of another class (a proxy and its object have one class).
template <std::size_t N>
class MemberIds {
 public:
  explicit constexpr MemberIds(const std::array<std::string_view, N>& names) : names_(names) {
    ids_.fill(kUnresolved);
  }
  void bind(const automation::Object& object) {
    const std::string_view type = object.type_name();
    if (type != type_) {
      type_.assign(type);
      ids_.fill(kUnresolved);
    }
  }
  // Calls member `i`. A name not met before is resolved in the same round
  // trip as the call (a proxy resolves and calls in one), then kept.
  automation::Variant invoke(const automation::Object& object, std::size_t i,
                             automation::InvokeKind kind, automation::Args args) {
    if (ids_[i] == kUnresolved) {
      if (same_name(names_[i], "_Default")) {
        ids_[i] = automation::kDispIdValue;
      } else if (same_name(names_[i], "_NewEnum")) {
        ids_[i] = automation::kDispIdNewEnum;
      } else {
        automation::Variant result = object.dispatch()->invoke_by_name(names_[i], kind, args);
        // Known to the object (or its proxy) now: no second round trip.
        ids_[i] = object.id_of(names_[i]);
        return result;
      }
    }
    return object.invoke(ids_[i], kind, args);
  }

 private:
  static constexpr automation::DispId kUnresolved = -1'000'000;
  std::array<std::string_view, N> names_;
  std::array<automation::DispId, N> ids_{};
  std::string type_;
};

// Derived declares `static constexpr std::string_view kObject` (its type)
// and `static constexpr std::array<std::string_view, N> kMembers`, and names
// its accessors after the members.
template <class Derived, std::size_t N>
class View {
 public:
  const automation::Object& object() const noexcept { return object_; }
  explicit operator bool() const noexcept { return static_cast<bool>(object_); }

 protected:
  explicit View(automation::Object object) : object_(std::move(object)) {
    if (object_) {
      ids().bind(object_);
    }
  }
  // A property read (with arguments: a parameterised one, Balance(0)).
  template <class... A>
  automation::Variant get(std::size_t i, A&&... args) const {
    const std::array<automation::Variant, sizeof...(A)> a{
        automation::Variant(std::forward<A>(args))...};
    return ids().invoke(object_, i, automation::InvokeKind::PropertyGet, a);
  }
  template <class... A>
  automation::Variant call(std::size_t i, A&&... args) const {
    const std::array<automation::Variant, sizeof...(A)> a{
        automation::Variant(std::forward<A>(args))...};
    return ids().invoke(object_, i, automation::InvokeKind::Method, a);
  }
  void put(std::size_t i, automation::Variant value) const {
    const std::array<automation::Variant, 1> a{std::move(value)};
    ids().invoke(object_, i, automation::InvokeKind::PropertyPut, a);
  }

 private:
  static MemberIds<N>& ids() {
    static_assert(all_documented(Derived::kObject, Derived::kMembers),
                  "a view reaches a member the documents do not name for its object");
    static thread_local MemberIds<N> member_ids(Derived::kMembers);
    return member_ids;
  }

  automation::Object object_;
};

}  // namespace orbrix::cqg::vendor
