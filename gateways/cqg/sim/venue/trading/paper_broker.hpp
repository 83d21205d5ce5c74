#pragma once

// The venue's trading side: paper accounts, orders, matching against the
// level-1 market, positions and P&L.
//
// Threads: one. The broker belongs to the thread that owns the simulator
// (the apartment worker); it has no locks, starts no threads and never
// reads a clock: every call that changes it takes the venue time, which must
// not go backwards from one call to the next.
//
// Events: every call that changes the broker returns the events it caused,
// in order, as a span into a buffer that the next such call reuses. Copy
// what you keep. Orders are referred to by their index (0 for the first
// submission, then counting up; the order's serial less one), positions by
// index into positions(), which only grows. An order change caused by an
// execution carries the fill itself.
//
// Memory: an order is kept while it works; once finished (filled, cancelled
// or rejected) it stays for look-up until TradingOptions::finished_orders_kept
// later finished orders have come, then it is forgotten (its id becomes
// unknown). Fills are not kept: each is in the event that reports it.
//
// Allocation: on_market allocates nothing when no order fills (the resting
// orders are scanned in place, the event buffer is reused). A submission
// allocates (the order and its id); a fill may grow the event buffer; a
// first fill in an instrument adds a position. Summaries and lookups do not
// allocate.
//
// Matching, run by on_market on the orders resting in that instrument, in
// submission order:
// - Orders submitted before the update are matched by it; a submission
//   never fills by itself, so nothing fills on a quote the client had not
//   seen when it sent the order.
// - Market: buy at the ask, sell at the bid (plus slippage against the
//   trader); with no quote on that side it waits, or is rejected when
//   TradingOptions::reject_market_without_quote is on.
// - Limit: on the first update with an opposite quote, a marketable limit
//   takes that quote (never worse than its limit); afterwards it fills at
//   its own price once the opposite quote reaches it. Trades do not fill
//   limits.
// - Stop and StopLimit: trigger when an update's trade prints at or beyond
//   the stop (buy: at or above, sell: at or below), then behave as Market or
//   Limit from that same update on, so a gap fills at the market, not at the
//   stop.
// - Fills are whole unless TradingOptions::cap_fill_at_displayed_size; then
//   a displayed size of 0 means the size is unknown (a recorded history
//   without sizes) and does not cap the fill.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "venue/trading/account.hpp"
#include "venue/trading/events.hpp"
#include "venue/trading/fill.hpp"
#include "venue/trading/options.hpp"
#include "venue/trading/order.hpp"
#include "venue/trading/position.hpp"
#include "venue/types.hpp"

namespace orbrix::cqgsim::venue {

class PaperBroker {
 public:
  struct Submitted {
    std::size_t order{};  // the order's index
    std::span<const TradingEvent> events;
  };

  // `instruments` is indexed by InstrumentId. Raises std::invalid_argument
  // for a tick size or tick value that is not a positive finite number, two
  // accounts with one id, or an option outside its range (naming it).
  explicit PaperBroker(std::vector<InstrumentSpec> instruments,
                       std::vector<AccountConfig> accounts = default_accounts(),
                       TradingOptions options = {});

  const TradingOptions& options() const { return options_; }

  // Takes an order at `now`. Always returns a new order: OrderAdded
  // (InTransit), then OrderChanged to Working, or to Rejected with a reason
  // (quantity not positive or above the maximum, unknown account or
  // instrument, `refusal` when it is not empty, a missing limit or stop
  // price, a price not positive or beyond kMaxPriceTicks, the reject-next
  // switch). `refusal` is the owner's reason to reject the order, such as a
  // price it could not turn into ticks (see checked_ticks). Nothing fills
  // here. Raises std::invalid_argument only when `now` is earlier than a
  // previous call's time (and then changes nothing).
  Submitted submit(OrderRequest request, Timestamp now, std::string refusal = {});

  // Cancels a working (or in-transit) order: CancelPending, then Cancelled.
  // Raises std::out_of_range for an unknown id, std::invalid_argument for
  // an order that is already final or a time that went backwards.
  std::span<const TradingEvent> cancel(std::string_view order_id, Timestamp now);

  // With accept_on_submit off: the venue's answer to an in-transit order.
  // accept_order makes it Working; reject_order makes it Rejected with
  // `reason`. Raise std::out_of_range for an unknown id and
  // std::invalid_argument for an order that is not in transit.
  std::span<const TradingEvent> accept_order(std::string_view order_id, Timestamp now);
  std::span<const TradingEvent> reject_order(std::string_view order_id, std::string reason,
                                             Timestamp now);

  // The market of `instrument` after an event at `now`. Call it for every
  // market event before the client sees that event. Matches the resting
  // orders of that instrument and returns the fills' events. Raises
  // std::out_of_range for an unknown instrument and std::invalid_argument
  // for a time that went backwards (changing nothing in both cases).
  std::span<const TradingEvent> on_market(InstrumentId instrument, const TopOfBook& book,
                                          Timestamp now);

  // Fault switch: the next submission is rejected with `reason` (an empty
  // reason gets a default text), whatever it holds. One-shot.
  void reject_next_order(std::string reason);

  // Lookups; each raises std::out_of_range naming what it did not find (an
  // order never submitted, or finished and forgotten). A reference stays
  // valid until the order is forgotten.
  const Order& order(std::string_view order_id) const;
  const Order& order_at(std::size_t index) const;
  // Orders submitted so far (the next order's index); working orders plus
  // the finished ones still kept.
  std::size_t submitted_count() const { return next_index_; }
  std::size_t kept_count() const { return orders_.size(); }
  std::span<const Position> positions() const { return positions_; }  // in opening order
  // The position of `account` in `instrument`, or nullptr before its first fill.
  const Position* find_position(AccountId account, InstrumentId instrument) const;
  const Account& account(AccountId id) const;
  std::span<const Account> accounts() const { return accounts_; }  // in the owner's order
  const InstrumentSpec& instrument(InstrumentId id) const;

  // Marks and figures against the market as last seen.
  // The price (ticks) `position` is marked at, or nullopt while its
  // instrument has neither a trade nor a quote to mark at.
  std::optional<double> mark(const Position& position) const;
  // Open trade equity; 0 for a flat or an unmarked position.
  double open_trade_equity(const Position& position) const;
  AccountSummary summary(AccountId account) const;

 private:
  // An order in an instrument's book, with what matching remembers of it.
  struct Resting {
    std::size_t index;
    Order* order;      // stays put: orders_ never moves its elements
    bool seen_market;  // a limit has met an opposite quote: from now on it rests
  };
  struct Market {
    std::vector<Resting> book;  // in submission order
    std::optional<TopOfBook> last;
    std::optional<Ticks> last_trade;
  };
  // Displayed size still free in the update being matched; none when the
  // update shows no size on that side (unknown: nothing to cap at).
  struct Liquidity {
    std::optional<std::int64_t> bid;
    std::optional<std::int64_t> ask;
  };

  void check_time(Timestamp now) const;
  Order& stored(std::string_view order_id);
  void place(Order& order, Timestamp now);
  void finish_rejected(Order& order, std::string reason, Timestamp now);
  void emit_order_changed(Order& order, Timestamp now, std::optional<Fill> fill = {});
  void unlist(const Order& order);
  // A finished order joins the queue of those kept for look-up.
  void retire(const Order& order) { finished_.push_back(order.serial - 1); }
  // Forgets the oldest finished orders beyond the number kept; run at the
  // end of each call, when nothing refers to them any more.
  void forget_finished();
  // Matches one resting order against `book`, booking what fills.
  void match(Resting& resting, const TopOfBook& book, Liquidity& free, Timestamp now);
  void execute(Order& order, Ticks price, std::int64_t quantity, Timestamp now);
  // The index of the position, opened (and `added` set) on its first fill.
  std::size_t position_for(AccountId account, InstrumentId instrument, Timestamp now, bool& added);

  // Constant after construction.
  std::vector<InstrumentSpec> instruments_;
  TradingOptions options_;
  std::map<AccountId, std::size_t> account_index_;

  // State.
  std::vector<Account> accounts_;
  // Working orders and the finished ones kept, by index. Hashed: look-ups
  // by id (which spells the serial) and by index are constant time.
  std::unordered_map<std::size_t, Order> orders_;
  std::deque<std::size_t> finished_;  // kept finished orders, oldest first
  std::size_t next_index_ = 0;
  std::vector<Position> positions_;
  std::map<std::pair<AccountId, InstrumentId>, std::size_t> position_index_;
  std::vector<Market> markets_;  // indexed by InstrumentId
  std::optional<std::string> reject_next_;
  std::optional<Timestamp> now_;  // the latest time a call was given
  std::uint64_t next_fill_id_ = 1;
  std::vector<TradingEvent> events_;  // the last call's events
};

}  // namespace orbrix::cqgsim::venue
