#pragma once

// The vendor constants the object model speaks, read by name from the
// simulator's type library once, and the mapping of venue values to them.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "venue/market/quotes.hpp"
#include "venue/trading/order.hpp"

namespace orbrix::cqgsim {

struct VendorConstants {
  std::array<std::int64_t, venue::kQuoteTypeCount> quote_type{};  // indexed by venue::QuoteType
  std::array<std::int64_t, 4> tick_type{};                        // indexed by venue::TickType
  std::int64_t csConnectionUp, csConnectionDown;
  std::int64_t dsNone, dsQuotes, dsQuotesAndBBA, dsQuotesAndDOM;
  std::int64_t aslNone, aslAccountUpdatesAndOrders, aslAccountUpdates;
  std::int64_t pslNoPositions, pslSnapshot, pslSnapshotAndUpdates;
  std::int64_t actAccountsReloaded, actPositionAdded, actPositionChanged;
  std::int64_t otLimit, otMarket, otStop, otStopLimit;
  std::int64_t osdBuy, osdSell, osdUndefined;
  std::int64_t ctAdded, ctChanged, ctRemoved;
  std::int64_t osNotSent, osInTransit, osInOrderBook, osFilled, osInCancel, osCanceled, osRejectGW;
  std::int64_t fsNormal;
  std::int64_t opGWStatus, opGUID, opEventServerTimestamp, opAverageFillPrice, opFilledQuantity,
      opQuantity, opInstrumentName, opSide, opLimitPrice, opStopPrice;
  std::int64_t tzCentral, tzChina, tzEastern, tzGreenwich, tzHongKong, tzJapan, tzPacific;
  std::int64_t hpDaily, pfds1Min, trtCurrentNotify, tfAll;
};

// Built on first use from type_library(); any thread.
const VendorConstants& constants();

// The vendor value of a venue order status (osInTransit, osInOrderBook, ...).
std::int64_t vendor_status(venue::OrderStatus status);
// A quote type named by its vendor constant ("qtBid"); none when unknown.
std::optional<venue::QuoteType> quote_type_named(std::string_view name);

}  // namespace orbrix::cqgsim
