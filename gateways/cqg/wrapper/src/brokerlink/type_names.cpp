#include <fmt/format.h>

#include <array>
#include <stdexcept>
#include <utility>
#include <vector>

#include "internal.hpp"
#include "orbrix/cqg/broker_link_constants.hpp"
#include "orbrix/cqg/vendor.hpp"

namespace orbrix::cqg {
namespace {

using Row = std::pair<std::string_view, std::string_view>;  // constant, text

// Value -> text, built once from the vendor's constants. When two constants
// share a value the row built later wins, as in a map filled in row order.
class NameTable {
 public:
  template <std::size_t N>
  explicit NameTable(const std::array<Row, N>& rows) {
    for (const auto& [constant, text] : rows) {
      const std::int64_t value = vendor_constant(constant);
      bool replaced = false;
      for (auto& entry : entries_) {
        if (entry.first == value) {
          entry.second = text;
          replaced = true;
        }
      }
      if (!replaced) {
        entries_.emplace_back(value, text);
      }
    }
  }
  std::string_view at(std::int64_t value, std::string_view what) const {
    for (const auto& [v, text] : entries_) {
      if (v == value) {
        return text;
      }
    }
    throw std::out_of_range(fmt::format("{} {} is not in the table", what, value));
  }

 private:
  std::vector<std::pair<std::int64_t, std::string_view>> entries_;
};

constexpr std::array<Row, 17> kQuoteRows{{
    {"qtAsk", "Best ask"},
    {"qtBid", "Best bid"},
    {"qtCohUndAsk", "Coherent underlying price for the best ask"},
    {"qtCohUndBid", "Coherent underlying price for the best bid"},
    {"qtDayHigh", "Current day high price"},
    {"qtDayLow", "Current day low price"},
    {"qtDayOpen", "Day open price"},
    {"qtImpliedAsk", "Implied best ask"},
    {"qtImpliedBid", "Implied best bid"},
    {"qtIndicativeOpen", "Indicative open"},
    {"qtMarker", "Marker price"},
    {"qtOutrightAsk", "Outright best ask"},
    {"qtOutrightBid", "Outright best bid"},
    {"qtSettlement", "Settlement price"},
    {"qtTodayMarker", "Marker price"},
    {"qtTrade", "Last trade price"},
    {"qtYesterdaySettlement", "Yesterday's settlement price"},
}};

constexpr std::array<Row, 4> kTickRows{{
    {"tptAsk", "Ask price"},
    {"tptBid", "Bid price"},
    {"tptSettlement", "Settlement price"},
    {"tptTrade", "Trade price"},
}};

}  // namespace

std::string_view QuoteType2String(std::int64_t quoteType) {
  static const NameTable table(kQuoteRows);
  return table.at(quoteType, "quote type");
}

std::string_view TickType2String(std::int64_t tickType) {
  static const NameTable table(kTickRows);
  return table.at(tickType, "tick price type");
}

OrderStatus convert_orderstatus_cqg2eng(std::int64_t status) {
  struct Group {
    std::vector<std::int64_t> values;
    OrderStatus status;
  };
  static const std::vector<Group> groups = [] {
    const auto v = [](std::string_view name) { return vendor_constant(name); };
    return std::vector<Group>{
        {{v("osActiveAt"), v("osContingent"), v("osInCancel"), v("osInClient"), v("osInModify"),
          v("osInTransit"), v("osNotSent"), v("osParked")},
         OrderStatus::UNKNOWN},
        {{v("osInOrderBook")}, OrderStatus::SUBMITTED},
        {{v("osFilled"), v("osBusted")}, OrderStatus::FILLED},
        {{v("osCanceled")}, OrderStatus::CANCELLED},
        {{v("osRejectFCM"), v("osRejectGW"), v("osDisconnected"), v("osExpired"),
          v("osInTransitTimeout")},
         OrderStatus::FAILED},
    };
  }();
  for (const Group& g : groups) {
    for (const std::int64_t value : g.values) {
      if (value == status) {
        return g.status;
      }
    }
  }
  throw std::invalid_argument(
      fmt::format("Order status {} is not valid to be handled by orbrix.", status));
}

namespace detail {

const VendorConstants& vendor() {
  static const VendorConstants k = [] {
    const auto v = [](std::string_view name) { return vendor_constant(name); };
    return VendorConstants{
        v("csConnectionUp"),
        v("csConnectionDown"),
        v("dsQuotesAndBBA"),
        v("trtCurrentNotify"),
        v("tfAll"),
        v("hpDaily"),
        v("pfds1Min"),
        v("dbcLastQuoteOrSettlement"),
        v("tbrContractVolume"),
        v("tbrCommodityVolume"),
        v("otLimit"),
        v("otMarket"),
        v("otStop"),
        v("osdBuy"),
        v("osdSell"),
        v("opGWStatus"),
        v("opGUID"),
        v("opEventServerTimestamp"),
        v("opAverageFillPrice"),
        v("opFilledQuantity"),
        v("ctAdded"),
        v("ctChanged"),
        v("ctRemoved"),
        v("fsNormal"),
        v("aslNone"),
        v("aslAccountUpdatesAndOrders"),
        v("pslSnapshotAndUpdates"),
        v("pslNoPositions"),
        v("actPositionAdded"),
        v("actPositionChanged"),
        v("actAccountsReloaded"),
    };
  }();
  return k;
}

}  // namespace detail
}  // namespace orbrix::cqg
