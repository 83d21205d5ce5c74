#include "objects/constants.hpp"

#include "orbrix/cqgsim/vendor_objects.hpp"

namespace orbrix::cqgsim {
namespace {

constexpr std::array<std::string_view, venue::kQuoteTypeCount> kQuoteTypeNames{
    "qtAsk",
    "qtBid",
    "qtCohUndAsk",
    "qtCohUndBid",
    "qtDayHigh",
    "qtDayLow",
    "qtDayOpen",
    "qtImpliedAsk",
    "qtImpliedBid",
    "qtIndicativeOpen",
    "qtMarker",
    "qtOutrightAsk",
    "qtOutrightBid",
    "qtSettlement",
    "qtTodayMarker",
    "qtTrade",
    "qtYesterdaySettlement"};

VendorConstants load() {
  const auto lib = type_library();
  auto k = [&lib](std::string_view name) { return lib->constant(name); };
  VendorConstants c{};
  for (std::size_t i = 0; i < kQuoteTypeNames.size(); ++i) {
    c.quote_type[i] = k(kQuoteTypeNames[i]);
  }
  c.tick_type = {k("tptAsk"), k("tptBid"), k("tptTrade"), k("tptSettlement")};
  c.csConnectionUp = k("csConnectionUp");
  c.csConnectionDown = k("csConnectionDown");
  c.dsNone = k("dsNone");
  c.dsQuotes = k("dsQuotes");
  c.dsQuotesAndBBA = k("dsQuotesAndBBA");
  c.dsQuotesAndDOM = k("dsQuotesAndDOM");
  c.aslNone = k("aslNone");
  c.aslAccountUpdatesAndOrders = k("aslAccountUpdatesAndOrders");
  c.aslAccountUpdates = k("aslAccountUpdates");
  c.pslNoPositions = k("pslNoPositions");
  c.pslSnapshot = k("pslSnapshot");
  c.pslSnapshotAndUpdates = k("pslSnapshotAndUpdates");
  c.actAccountsReloaded = k("actAccountsReloaded");
  c.actPositionAdded = k("actPositionAdded");
  c.actPositionChanged = k("actPositionChanged");
  c.otLimit = k("otLimit");
  c.otMarket = k("otMarket");
  c.otStop = k("otStop");
  c.otStopLimit = k("otStopLimit");
  c.osdBuy = k("osdBuy");
  c.osdSell = k("osdSell");
  c.osdUndefined = k("osdUndefined");
  c.ctAdded = k("ctAdded");
  c.ctChanged = k("ctChanged");
  c.ctRemoved = k("ctRemoved");
  c.osNotSent = k("osNotSent");
  c.osInTransit = k("osInTransit");
  c.osInOrderBook = k("osInOrderBook");
  c.osFilled = k("osFilled");
  c.osInCancel = k("osInCancel");
  c.osCanceled = k("osCanceled");
  c.osRejectGW = k("osRejectGW");
  c.fsNormal = k("fsNormal");
  c.opGWStatus = k("opGWStatus");
  c.opGUID = k("opGUID");
  c.opEventServerTimestamp = k("opEventServerTimestamp");
  c.opAverageFillPrice = k("opAverageFillPrice");
  c.opFilledQuantity = k("opFilledQuantity");
  c.opQuantity = k("opQuantity");
  c.opInstrumentName = k("opInstrumentName");
  c.opSide = k("opSide");
  c.opLimitPrice = k("opLimitPrice");
  c.opStopPrice = k("opStopPrice");
  c.tzCentral = k("tzCentral");
  c.tzChina = k("tzChina");
  c.tzEastern = k("tzEastern");
  c.tzGreenwich = k("tzGreenwich");
  c.tzHongKong = k("tzHongKong");
  c.tzJapan = k("tzJapan");
  c.tzPacific = k("tzPacific");
  c.hpDaily = k("hpDaily");
  c.pfds1Min = k("pfds1Min");
  c.trtCurrentNotify = k("trtCurrentNotify");
  c.tfAll = k("tfAll");
  return c;
}

}  // namespace

const VendorConstants& constants() {
  static const VendorConstants c = load();
  return c;
}

std::int64_t vendor_status(venue::OrderStatus status) {
  const auto& c = constants();
  switch (status) {
    case venue::OrderStatus::InTransit:
      return c.osInTransit;
    case venue::OrderStatus::Working:
      return c.osInOrderBook;
    case venue::OrderStatus::Filled:
      return c.osFilled;
    case venue::OrderStatus::CancelPending:
      return c.osInCancel;
    case venue::OrderStatus::Cancelled:
      return c.osCanceled;
    case venue::OrderStatus::Rejected:
      return c.osRejectGW;
  }
  return c.osRejectGW;
}

std::optional<venue::QuoteType> quote_type_named(std::string_view name) {
  for (std::size_t i = 0; i < kQuoteTypeNames.size(); ++i) {
    if (kQuoteTypeNames[i] == name) {
      return static_cast<venue::QuoteType>(i);
    }
  }
  return std::nullopt;
}

}  // namespace orbrix::cqgsim
