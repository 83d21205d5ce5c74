#include "objects/collection.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <stdexcept>

#include "orbrix/automation/enumerator.hpp"

namespace orbrix::cqgsim {

bool Collection::remove(const automation::Dispatch* item) {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == item) {
      items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(i));
      keys_.erase(keys_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

automation::Variant Collection::count() const {
  return static_cast<std::int64_t>(items_.size());
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
  if (i < 0 || static_cast<std::size_t>(i) >= items_.size()) {
    throw std::out_of_range(
        fmt::format("{}: no item at index {} (the collection holds {})", type, i, items_.size()));
  }
  return items_[static_cast<std::size_t>(i)];
}

automation::Variant Collection::item_by_guid(std::string_view type, automation::Args args) const {
  automation::expect_args(args, 1, type, "ItemByGuid");
  const auto& key = args[0].as_string();
  const auto it = std::find(keys_.begin(), keys_.end(), key);
  if (key.empty() || it == keys_.end()) {
    throw std::out_of_range(fmt::format("{}: no item with id \"{}\"", type, key));
  }
  return items_[static_cast<std::size_t>(it - keys_.begin())];
}

automation::Variant Collection::new_enum() const {
  return std::make_shared<automation::Enumerator>(
      std::vector<automation::Variant>(items_.begin(), items_.end()));
}

}  // namespace orbrix::cqgsim
