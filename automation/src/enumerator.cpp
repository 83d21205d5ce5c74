#include "orbrix/automation/enumerator.hpp"

#include <stdexcept>

namespace orbrix::automation {

const ClassInfo& Enumerator::class_info() {
  static const ClassInfo info = [] {
    ClassInfo c("Enumerator");
    c.add_property("Count", [](Dispatch& self, Args args) -> Variant {
      expect_args(args, 0, "Enumerator", "Count");
      return static_cast<std::int64_t>(self_as<Enumerator>(self).items_.size());
    });
    c.add_method("Next", [](Dispatch& self, Args args) -> Variant {
      expect_args(args, 0, "Enumerator", "Next");
      auto& e = self_as<Enumerator>(self);
      if (e.next_ >= e.items_.size()) {
        throw std::out_of_range("Enumerator.Next: no more items");
      }
      return e.items_[e.next_++];
    });
    return c;
  }();
  return info;
}

}  // namespace orbrix::automation
