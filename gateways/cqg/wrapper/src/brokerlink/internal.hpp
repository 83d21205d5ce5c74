#pragma once

// Helpers shared by BrokerLink's source files; not part of the module's
// interface.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "orbrix/automation/object.hpp"
#include "orbrix/common/datetime.hpp"
#include "orbrix/cqg/cel_views/views.hpp"

namespace orbrix::cqg::detail {

// The vendor constants BrokerLink compares with, read by name from the
// vendor's type library once (the library is loaded once and kept). Any
// thread; a failed load is retried on the next call.
struct VendorConstants {
  std::int64_t csConnectionUp, csConnectionDown;
  std::int64_t dsQuotesAndBBA;
  std::int64_t trtCurrentNotify, tfAll;
  std::int64_t hpDaily, pfds1Min, dbcLastQuoteOrSettlement, tbrContractVolume, tbrCommodityVolume;
  std::int64_t otLimit, otMarket, otStop, osdBuy, osdSell;
  std::int64_t opGWStatus, opGUID, opEventServerTimestamp, opAverageFillPrice, opFilledQuantity;
  std::int64_t ctAdded, ctChanged, ctRemoved, fsNormal;
  std::int64_t aslNone, aslAccountUpdatesAndOrders, pslSnapshotAndUpdates, pslNoPositions;
  std::int64_t actPositionAdded, actPositionChanged, actAccountsReloaded;
};
const VendorConstants& vendor();

// A vendor error object's text, "<Description> (code <Code>)", read in
// that order (Code first).
std::string error_text(const automation::Variant& cqgError);

// A vendor time stamp as a local date-time cut to whole seconds.
DateTime vendor_time(const automation::Variant& v);

// The account lookup run inside a hop: the listing lines it would trace, in
// order, and the account found (the worker's object) or a null Object.
struct AccountLookup {
  automation::Object account;
  std::vector<std::string> lines;
};
AccountLookup find_account(const automation::Object& cel, std::int64_t gw_account_id);
void trace_lines(const std::vector<std::string>& lines);

// The first item of a collection (walked in collection order) for which
// `text_of(item)` contains `needle`; a null Object when none does.
template <class TextOf>
automation::Object first_containing(const automation::Object& collection, std::string_view needle,
                                    TextOf text_of) {
  vendor::Walk walk(collection);
  for (automation::Variant item; walk.next(item);) {
    automation::Object object(item);
    if (object && text_of(object).find(needle) != std::string::npos) {
      return object;
    }
  }
  return {};
}

}  // namespace orbrix::cqg::detail
