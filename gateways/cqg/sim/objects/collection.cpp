#include "objects/collection.hpp"

#include <fmt/format.h>

#include <stdexcept>

namespace orbrix::cqgsim {

namespace {
// Removed slots are reclaimed once they outnumber the items by this many.
constexpr std::size_t kSlack = 16;
}  // namespace

Collection::Collection() = default;
Collection::~Collection() = default;

void Collection::clear() noexcept {
  entries_.clear();
  keys_.clear();
  base_ = head_ = holes_ = live_ = 0;
}

void Collection::add(automation::DispatchPtr item, std::string key) {
  if (!item) {
    throw std::invalid_argument("a collection holds objects, not nothing");
  }
  Entry e{std::move(item), nullptr};
  if (!key.empty()) {
    const auto [it, inserted] = keys_.try_emplace(std::move(key), base_ + entries_.size());
    if (!inserted) {
      throw std::invalid_argument(fmt::format("the collection holds \"{}\" already", it->first));
    }
    e.key = &it->first;
  }
  entries_.push_back(std::move(e));
  ++live_;
}

void Collection::release(std::size_t position) {
  Entry& e = entries_[position];
  if (e.key) {
    keys_.erase(*e.key);
    e.key = nullptr;
  }
  e.item.reset();
  --live_;
  if (position == head_) {
    ++head_;
    // Holes right behind the old head are now in front of it.
    while (head_ < entries_.size() && !entries_[head_].item) {
      ++head_;
      --holes_;
    }
  } else {
    ++holes_;
  }
  // The newest entry is always an item: back() reads it.
  while (entries_.size() > head_ && !entries_.back().item) {
    entries_.pop_back();
    --holes_;
  }
  reclaim();
}

void Collection::reclaim() {
  if (live_ == 0) {
    entries_.clear();
    base_ += head_ + holes_;  // any number: no key refers to one
    head_ = holes_ = 0;
    return;
  }
  if (head_ + holes_ <= live_ + kSlack) {
    return;
  }
  if (holes_ == 0) {
    // Only the front is free: drop it; the sequence numbers stay.
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(head_));
    base_ += head_;
    head_ = 0;
    return;
  }
  compact();
}

void Collection::compact() const {
  std::size_t out = 0;
  for (std::size_t in = head_; in < entries_.size(); ++in) {
    if (!entries_[in].item) {
      continue;
    }
    if (out != in) {
      entries_[out] = std::move(entries_[in]);
    }
    if (const std::string* key = entries_[out].key) {
      keys_.find(*key)->second = base_ + out;
    }
    ++out;
  }
  entries_.resize(out);
  head_ = holes_ = 0;
}

bool Collection::remove(const automation::Dispatch* item) {
  for (std::size_t i = head_; i < entries_.size(); ++i) {
    if (entries_[i].item.get() == item) {
      release(i);
      return true;
    }
  }
  return false;
}

bool Collection::remove_key(std::string_view key) {
  const auto it = keys_.find(std::string(key));
  if (it == keys_.end()) {
    return false;
  }
  release(it->second - base_);
  return true;
}

void Collection::keep_newest(std::size_t n) {
  if (live_ > n) {
    drop_oldest(live_ - n);
  }
}

void Collection::drop_oldest(std::size_t n) {
  while (n > 0 && live_ > 0) {
    release(head_);
    --n;
  }
}

const automation::DispatchPtr& Collection::at(std::size_t i) const {
  if (holes_ != 0) {
    compact();
  }
  return entries_[head_ + i].item;
}

const automation::DispatchPtr& Collection::back() const {
  return entries_.back().item;
}

void Collection::replace_back(automation::DispatchPtr item) {
  entries_.back().item = std::move(item);
}

automation::Variant Collection::count() const {
  return static_cast<std::int64_t>(live_);
}

automation::Variant Collection::item(std::string_view type, automation::Args args) const {
  automation::expect_args(args, 1, type, "Item");
  if (args[0].kind() == automation::VariantKind::Text) {
    return item_by_guid(type, args);
  }
  return item_by_index(type, args);
}

automation::Variant Collection::item_by_index(std::string_view type, automation::Args args) const {
  automation::expect_args(args, 1, type, "ItemByIndex");
  const auto i = args[0].as_int();
  if (i < 0 || static_cast<std::size_t>(i) >= live_) {
    throw std::out_of_range(
        fmt::format("{}: no item at index {} (the collection holds {})", type, i, live_));
  }
  return at(static_cast<std::size_t>(i));
}

automation::Variant Collection::item_by_guid(std::string_view type, automation::Args args) const {
  automation::expect_args(args, 1, type, "ItemByGuid");
  const auto& key = args[0].as_string();
  const auto it = key.empty() ? keys_.end() : keys_.find(key);
  if (it == keys_.end()) {
    throw std::out_of_range(fmt::format("{}: no item with id \"{}\"", type, key));
  }
  return entries_[it->second - base_].item;
}

automation::Variant Collection::new_enum() {
  std::shared_ptr<CollectionEnumerator> e;
  // Held by us alone: whoever enumerated last is done with it.
  if (reuse_enumerator_ && enumerator_ && enumerator_.use_count() == 1) {
    e = enumerator_;
  } else {
    e = std::make_shared<CollectionEnumerator>();
    e->items().reserve(live_);
    if (reuse_enumerator_) {
      enumerator_ = e;
    }
  }
  auto& items = e->items();
  items.clear();
  for (std::size_t i = head_; i < entries_.size(); ++i) {
    if (entries_[i].item) {
      items.emplace_back(entries_[i].item);
    }
  }
  e->rewind();
  return e;
}

const automation::ClassInfo& CollectionEnumerator::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("Enumerator");
    c.add_property("Count", [](automation::Dispatch& d, automation::Args a) -> automation::Variant {
      automation::expect_args(a, 0, "Enumerator", "Count");
      return static_cast<std::int64_t>(automation::self_as<CollectionEnumerator>(d).items_.size());
    });
    c.add_method("Next", [](automation::Dispatch& d, automation::Args a) -> automation::Variant {
      automation::expect_args(a, 0, "Enumerator", "Next");
      auto& e = automation::self_as<CollectionEnumerator>(d);
      if (e.next_ >= e.items_.size()) {
        throw std::out_of_range("Enumerator.Next: no more items");
      }
      return e.items_[e.next_++];
    });
    return c;
  }();
  return info;
}

}  // namespace orbrix::cqgsim
