#include <string_view>
#include <vector>

#include "event_ids.hpp"
#include "orbrix/cqg/vendor_ids.hpp"
#include "orbrix/cqgsim/vendor_objects.hpp"

namespace orbrix::cqgsim {
namespace {

// The vendor's enumerations as the simulator defines them. Every constant
// gets a value no other constant has (family * 100 + position), so code that
// compares against a constant of the wrong enumeration fails visibly.
const std::vector<std::vector<std::string_view>>& enumerations() {
  static const std::vector<std::vector<std::string_view>> list = {
      // time zones
      {"tzCentral", "tzChina", "tzEastern", "tzGreenwich", "tzHongKong", "tzJapan", "tzPacific"},
      // connection status
      {"csConnectionDelayed", "csConnectionDown", "csConnectionTrouble", "csConnectionUp",
       "csConnectionNotStarted"},
      // data subscription levels
      {"dsNone", "dsQuotes", "dsQuotesAndBBA", "dsQuotesAndDOM"},
      // quote types
      {"qtAsk", "qtBid", "qtCohUndAsk", "qtCohUndBid", "qtDayHigh", "qtDayLow", "qtDayOpen",
       "qtImpliedAsk", "qtImpliedBid", "qtIndicativeOpen", "qtMarker", "qtOutrightAsk",
       "qtOutrightBid", "qtSettlement", "qtTodayMarker", "qtTrade", "qtYesterdaySettlement"},
      // tick price types
      {"tptAsk", "tptBid", "tptSettlement", "tptTrade"},
      // tick request types and filters
      {"trtCurrentNotify", "trtCurrent", "trtSinceSessionStart"},
      {"tfAll", "tfTrades", "tfBidAsk"},
      // historical and intraday periods, daily bar close, timed-bar outputs
      {"hpDaily", "hpWeekly", "hpMonthly"},
      {"pfds1Min", "pfds5Min", "pfds15Min", "pfds60Min"},
      {"dbcLastQuoteOrSettlement", "dbcLastQuote", "dbcSettlement"},
      {"tbrContractVolume", "tbrCommodityVolume", "tbrTickVolume"},
      // orders: types, sides, properties, change types, statuses, fill statuses
      {"otLimit", "otMarket", "otStop", "otStopLimit"},
      {"osdBuy", "osdSell", "osdUndefined"},
      {"opGWStatus", "opGUID", "opEventServerTimestamp", "opAverageFillPrice", "opFilledQuantity",
       "opQuantity", "opInstrumentName", "opSide", "opLimitPrice", "opStopPrice"},
      {"ctAdded", "ctChanged", "ctRemoved", "ctSnapshot"},
      {"osActiveAt", "osContingent", "osInCancel", "osInClient", "osInModify", "osInTransit",
       "osNotSent", "osParked", "osInOrderBook", "osFilled", "osBusted", "osCanceled",
       "osRejectFCM", "osRejectGW", "osDisconnected", "osExpired", "osInTransitTimeout"},
      {"fsNormal", "fsBusted", "fsCanceled", "fsCorrected"},
      // accounts and positions
      {"aslNone", "aslAccountUpdatesAndOrders", "aslAccountUpdates"},
      {"pslNoPositions", "pslSnapshot", "pslSnapshotAndUpdates"},
      {"actAccountChanged", "actAccountsReloaded", "actPositionAdded", "actPositionChanged",
       "actPositionsReloaded"},
  };
  return list;
}

}  // namespace

std::shared_ptr<const automation::TypeLibrary> type_library() {
  static const std::shared_ptr<const automation::TypeLibrary> library = [] {
    auto lib = std::make_shared<automation::TypeLibrary>(
        "CQGCEL", std::string(cqg::kCqgTypeLibGuid), cqg::kCqgTypeLibMajor, cqg::kCqgTypeLibMinor);
    std::int64_t family = 1;
    for (const auto& enumeration : enumerations()) {
      std::int64_t position = 0;
      for (auto name : enumeration) {
        lib->add_constant(std::string(name), family * 100 + position++);
      }
      ++family;
    }
    automation::EventInterface events{std::string(cqg::kCqgEventInterface)};
    for (std::size_t i = 0; i < cqg::kCelEvents.size(); ++i) {
      events.add(std::string(cqg::kCelEvents[i].name), event_id(static_cast<cqg::CelEvent>(i)),
                 cqg::kCelEvents[i].params);
    }
    lib->add_event_interface(std::move(events));
    return std::shared_ptr<const automation::TypeLibrary>(std::move(lib));
  }();
  return library;
}

}  // namespace orbrix::cqgsim
