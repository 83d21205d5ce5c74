// The simulator offers every member the documents name for each vendor
// object (the gateway may call any of them), under the same type names.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "objects/account.hpp"
#include "objects/api_configuration.hpp"
#include "objects/collection.hpp"
#include "objects/cqgcel.hpp"
#include "objects/instrument.hpp"
#include "objects/order.hpp"
#include "objects/ticks.hpp"
#include "objects/timed_bars.hpp"
#include "orbrix/automation/dispatch.hpp"
#include "orbrix/cqg/vendor_members.hpp"

namespace orbrix::cqgsim {
namespace {

TEST(VendorSurface, EveryDocumentedMemberIsOffered) {
  std::map<std::string, const automation::ClassInfo*, std::less<>> classes;
  for (const automation::ClassInfo* c : {&CQGCEL::class_info(),
                                         &ApiConfiguration::class_info(),
                                         &CqgError::class_info(),
                                         &Instruments::class_info(),
                                         &Instrument::class_info(),
                                         &Quotes::class_info(),
                                         &Quote::class_info(),
                                         &Accounts::class_info(),
                                         &Account::class_info(),
                                         &Summary::class_info(),
                                         &Positions::class_info(),
                                         &Position::class_info(),
                                         &TicksRequest::class_info(),
                                         &AllTicks::class_info(),
                                         &Ticks::class_info(),
                                         &Tick::class_info(),
                                         &TimedBarsRequest::class_info(),
                                         &AllTimedBars::class_info(),
                                         &TimedBars::class_info(),
                                         &TimedBar::class_info(),
                                         &Orders::class_info(),
                                         &Order::class_info(),
                                         &OrderProperties::class_info(),
                                         &OrderProperty::class_info(),
                                         &Fill::class_info(),
                                         &CollectionEnumerator::class_info()}) {
    classes.emplace(std::string(c->type_name()), c);
  }
  std::size_t checked = 0;
  for (const auto& m : cqg::kDocumentedMembers) {
    const auto it = classes.find(m.object);
    ASSERT_NE(it, classes.end()) << "no simulated object is " << m.object;
    const automation::ClassInfo& c = *it->second;
    if (m.member == "_Default") {
      EXPECT_NE(c.name_of(automation::kDispIdValue), "_Default") << m.object << " has no default";
    } else {
      EXPECT_NO_THROW((void)c.find(m.member)) << m.object << "." << m.member;
    }
    ++checked;
  }
  EXPECT_GT(checked, 100u);
}

}  // namespace
}  // namespace orbrix::cqgsim
