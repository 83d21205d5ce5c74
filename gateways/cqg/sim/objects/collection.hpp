#pragma once

// The one collection base of the object model: Count, Item, ItemByIndex,
// ItemByGuid and _NewEnum over items kept in collection order, each with an
// optional text key. A collection class is
//   class Orders final : public SimObject<Orders>, public Collection
// whose class_info() is built by collection_info<Orders>("CQGOrders").
//
// Costs: adding, a look-up by key and removing by key are constant time
// (amortised); so are Count, a look-up by index and dropping the oldest
// items, as long as nothing was removed from the middle since the last look-up
// by index (which then compacts once, linear in the collection). Removing an
// unkeyed item by identity scans the collection. Removed items are released
// at once; the slots they leave are reclaimed lazily.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"

namespace orbrix::cqgsim {

class CollectionEnumerator;

class Collection {
 public:
  Collection();
  ~Collection();
  Collection(const Collection&) = delete;
  Collection& operator=(const Collection&) = delete;

  void clear() noexcept;
  void reserve(std::size_t n) { entries_.reserve(n); }
  // Appends `item` (not null). A non-empty `key` reaches it by ItemByGuid;
  // keys are unique: throws std::invalid_argument for one already held.
  void add(automation::DispatchPtr item, std::string key = {});
  // Removes the item; false when it is not there.
  bool remove(const automation::Dispatch* item);
  bool remove_key(std::string_view key);
  // Keeps the `n` newest items, removing the older ones: a bounded window.
  void keep_newest(std::size_t n);
  std::size_t size() const noexcept { return live_; }
  // The item at `i` (0 the oldest; `i` < size()).
  const automation::DispatchPtr& at(std::size_t i) const;
  // The newest item, replaced in place (its key, if any, stays). Non-empty only.
  const automation::DispatchPtr& back() const;
  void replace_back(automation::DispatchPtr item);

  // Off by default. On: _NewEnum hands out one enumerator object again,
  // reset to a new snapshot, whenever nobody else holds it any more, so a
  // collection enumerated once per event allocates nothing per event. The
  // enumerator keeps its snapshot's items alive until it is reused.
  void reuse_enumerator(bool on) { reuse_enumerator_ = on; }

  // The members every collection has, named after `type` in messages.
  automation::Variant count() const;
  // A zero-based index, or a text key where the items have keys.
  automation::Variant item(std::string_view type, automation::Args args) const;
  automation::Variant item_by_index(std::string_view type, automation::Args args) const;
  automation::Variant item_by_guid(std::string_view type, automation::Args args) const;
  automation::Variant new_enum();

 private:
  struct Entry {
    automation::DispatchPtr item;      // null once removed
    const std::string* key = nullptr;  // the key as held in keys_, for keyed items
  };

  void release(std::size_t position);
  void drop_oldest(std::size_t n);
  void reclaim();
  void compact() const;

  // entries_[head_ ..] are the items in order, with `holes_` removed ones
  // among them; entries_[.. head_) are removed. An item's sequence number is
  // base_ plus its position, and stays its number until a full compaction.
  mutable std::vector<Entry> entries_;
  mutable std::size_t base_ = 0;
  mutable std::size_t head_ = 0;
  mutable std::size_t holes_ = 0;
  std::size_t live_ = 0;
  mutable std::unordered_map<std::string, std::size_t> keys_;  // key -> sequence number
  bool reuse_enumerator_ = false;
  std::shared_ptr<CollectionEnumerator> enumerator_;
};

// The enumerator _NewEnum hands out: a snapshot of the items taken when it
// was made (or reset), read with Count and Next, as the automation layer's
// enumerator is.
class CollectionEnumerator final : public SimObject<CollectionEnumerator> {
 public:
  static const automation::ClassInfo& class_info();
  // The snapshot, filled by the collection; its storage is kept for reuse.
  std::vector<automation::Variant>& items() { return items_; }
  void rewind() { next_ = 0; }

 private:
  std::vector<automation::Variant> items_;
  std::size_t next_ = 0;
};

// Count and Item(i) by index: the members of an indexed list (ticks, bars).
template <class T>
void add_count_and_item(automation::ClassInfo& c) {
  using automation::Args;
  using automation::Dispatch;
  using automation::Variant;
  c.add_property("Count",
                 [](Dispatch& s, Args) -> Variant { return automation::self_as<T>(s).count(); });
  c.add_property("Item", [](Dispatch& s, Args a) -> Variant {
    return automation::self_as<T>(s).item(T::class_info().type_name(), a);
  });
  c.set_default_member("Item");
}

// Adds the collection members to a class's member table; Item is the
// default member.
template <class T>
void add_collection_members(automation::ClassInfo& c) {
  using automation::Args;
  using automation::Dispatch;
  using automation::Variant;
  add_count_and_item<T>(c);
  c.add_method("ItemByIndex", [](Dispatch& s, Args a) -> Variant {
    return automation::self_as<T>(s).item_by_index(T::class_info().type_name(), a);
  });
  c.add_method("ItemByGuid", [](Dispatch& s, Args a) -> Variant {
    return automation::self_as<T>(s).item_by_guid(T::class_info().type_name(), a);
  });
  c.add_method("_NewEnum",
               [](Dispatch& s, Args) -> Variant { return automation::self_as<T>(s).new_enum(); });
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
