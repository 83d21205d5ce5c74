#pragma once

#include <vector>

#include "orbrix/automation/class_info.hpp"

namespace orbrix::automation {

// The enumerator a collection hands out from its _NewEnum member: a snapshot
// of the items taken when it was made, read with Count and Next.
class Enumerator final : public AutomationObject<Enumerator> {
 public:
  explicit Enumerator(std::vector<Variant> items) : items_(std::move(items)) {}
  static const ClassInfo& class_info();

 private:
  std::vector<Variant> items_;
  std::size_t next_ = 0;
};

}  // namespace orbrix::automation
