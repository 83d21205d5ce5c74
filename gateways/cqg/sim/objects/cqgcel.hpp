#pragma once

#include <memory>
#include <span>

#include "objects/account_book.hpp"
#include "objects/bar_feed.hpp"
#include "objects/connection.hpp"
#include "objects/order_desk.hpp"
#include "objects/quote_feed.hpp"
#include "objects/session.hpp"
#include "objects/sim_object.hpp"
#include "objects/tick_feed.hpp"
#include "objects/trading_route.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/cqgsim/detail/settings.hpp"
#include "venue/venue.hpp"

namespace orbrix::cqgsim {

// The simulated vendor object. It routes each of its members to the feature
// that serves it (connection, quotes, ticks, bars, accounts and positions,
// orders) and fans out what the venue does to the features that tell it;
// the session all of them share holds the events' outbox, the clock and the
// venue.
//
// Thread: the apartment of the thread that created it. Its members run
// there (other threads reach it by proxy), the venue runs there, and every
// event is fired there from the pump, never from inside the call that caused
// it.
class CQGCEL final : public SimObject<CQGCEL>, private venue::VenueObserver, private TradingRoute {
 public:
  explicit CQGCEL(std::shared_ptr<detail::SimSettings> settings);
  ~CQGCEL() override;
  static const automation::ClassInfo& class_info();

  automation::Cookie advise(const automation::DispatchPtr& sink) override;
  void unadvise(automation::Cookie cookie) override;

  // The parts the controls drive (apartment thread).
  Session& session() { return session_; }
  Connection& connection() { return connection_; }
  QuoteFeed& quotes() { return quotes_; }
  BarFeed& bars() { return bars_; }
  // At the end of a backtest's data: cancels the first account's working
  // orders, then closes each of its open positions with a market order
  // placed as a client's (the client hears of it as of its own), worked
  // without the order latency and filled at once against the instrument's
  // last quote, as the next market event
  // would fill it (a sell at the bid, a buy at the ask, with the fill
  // model's slippage; waiting when that side has no quote). Returns once
  // every event of it has been fired.
  void close_out();

 private:
  void on_trading(std::span<const venue::TradingEvent> events) override;
  void on_market(const venue::MarketEvent& event) override;
  // Order events to the orders, position events to the accounts; while the
  // gateway is down, to the connection to hold.
  void deliver(const venue::TradingEvent& event) override;

  // Apartment thread only; the session first, as every feature uses it.
  Session session_;
  Connection connection_;
  QuoteFeed quotes_;
  TickFeed ticks_;
  BarFeed bars_;
  AccountBook accounts_;
  OrderDesk orders_;
};

}  // namespace orbrix::cqgsim
