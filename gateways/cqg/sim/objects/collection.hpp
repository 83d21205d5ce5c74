#pragma once

// The one collection base of the object model: Count, Item, ItemByIndex,
// ItemByGuid and _NewEnum over items kept in collection order, each with an
// optional text key. A collection class is
//   class Orders final : public SimObject<Orders>, public Collection
// whose class_info() is built by collection_info<Orders>("CQGOrders").

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"

namespace orbrix::cqgsim {

class Collection {
 public:
  void clear() noexcept { items_.clear(), keys_.clear(); }
  void reserve(std::size_t n) { items_.reserve(n); }
  void add(automation::DispatchPtr item, std::string key = {}) {
    items_.push_back(std::move(item));
    keys_.push_back(std::move(key));
  }
  // Removes the item; false when it is not there.
  bool remove(const automation::Dispatch* item);
  std::size_t size() const noexcept { return items_.size(); }
  const std::vector<automation::DispatchPtr>& items() const noexcept { return items_; }

  // The members every collection has, named after `type` in messages.
  automation::Variant count() const;
  // A zero-based index, or a text key where the items have keys.
  automation::Variant item(std::string_view type, automation::Args args) const;
  automation::Variant item_by_index(std::string_view type, automation::Args args) const;
  automation::Variant item_by_guid(std::string_view type, automation::Args args) const;
  automation::Variant new_enum() const;

 private:
  std::vector<automation::DispatchPtr> items_;
  std::vector<std::string> keys_;
};

// Adds the collection members to a class's member table; Item is the
// default member.
template <class T>
void add_collection_members(automation::ClassInfo& c) {
  using automation::Args;
  using automation::Dispatch;
  using automation::Variant;
  c.add_property("Count",
                 [](Dispatch& s, Args) -> Variant { return automation::self_as<T>(s).count(); });
  c.add_property("Item", [](Dispatch& s, Args a) -> Variant {
    return automation::self_as<T>(s).item(T::class_info().type_name(), a);
  });
  c.add_method("ItemByIndex", [](Dispatch& s, Args a) -> Variant {
    return automation::self_as<T>(s).item_by_index(T::class_info().type_name(), a);
  });
  c.add_method("ItemByGuid", [](Dispatch& s, Args a) -> Variant {
    return automation::self_as<T>(s).item_by_guid(T::class_info().type_name(), a);
  });
  c.add_method("_NewEnum",
               [](Dispatch& s, Args) -> Variant { return automation::self_as<T>(s).new_enum(); });
  c.set_default_member("Item");
}

// A plain collection of one kind of item, named for messages.
template <const char* Name>
class NamedCollection final : public SimObject<NamedCollection<Name>>, public Collection {
 public:
  static const automation::ClassInfo& class_info() {
    static const automation::ClassInfo info = [] {
      automation::ClassInfo c(Name);
      add_collection_members<NamedCollection>(c);
      return c;
    }();
    return info;
  }
};

}  // namespace orbrix::cqgsim
