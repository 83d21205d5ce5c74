#pragma once

// The vendor's streamed events as decoded values, and the sink that takes
// them: the direct path of an in-process backtest, where the simulator and
// the gateway share one thread of one process. The simulator fills these
// from its venue instead of building vendor objects for the gateway to read
// member by member; the gateway applies them with the same functions that
// apply the events it reads from the vendor's objects. The vendor's own
// server never takes this path: it fires its events with objects.
//
// Each struct stands for the vendor event it names and carries what the
// gateway's handler of that event reads, already typed. Strings and lists
// are owned, so a simulator keeps one of each and refills it per event
// without allocating once it is warm.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "orbrix/automation/variant.hpp"

namespace orbrix::cqg::decoded {

// The identity of the vendor object an event is about (an instrument, a
// ticks or a timed-bars collection): Dispatch::identity() of the object the
// same event carries on the vendor path. Compared, never dereferenced.
using ObjectKey = const void*;

// One changed quote: Type and Price count only when IsValid.
struct QuoteUpdate {
  bool valid = false;
  std::int64_t type = 0;  // a qt... constant
  double price = 0;
};

// OnInstrumentChanged(instrument, quotes, properties).
struct InstrumentChange {
  ObjectKey instrument = nullptr;
  std::string full_name;            // the instrument's FullName
  std::vector<QuoteUpdate> quotes;  // in collection order
};

// One tick of OnTicksAdded.
struct TickUpdate {
  std::int64_t price_type = 0;  // a tpt... constant
  double price = 0;
  double volume = 0;
};

// OnTicksAdded(ticks, addedTicksCount): the request's Symbol and the added
// ticks, oldest first.
struct TicksAdded {
  ObjectKey collection = nullptr;
  std::string symbol;
  std::vector<TickUpdate> ticks;
};

// One timed bar: Timestamp, Open, High, Low, Close, ActualVolume.
struct TimedBar {
  automation::Date timestamp{};
  double open = 0;
  double high = 0;
  double low = 0;
  double close = 0;
  double actual_volume = 0;
};

// An error object's Code and Description.
struct Error {
  std::int64_t code = 0;
  std::string description;
};

// OnTimedBarsResolved(bars, error): the request's Symbol, and the error or
// the bars, oldest first (the last one forming).
struct TimedBarsResolved {
  ObjectKey collection = nullptr;
  std::string symbol;
  std::optional<Error> error;
  std::vector<TimedBar> bars;
};

// OnTimedBarsAdded(bars): the request's Symbol and the bar before the
// newest (Item(Count - 2)); none when the collection holds fewer than two.
struct TimedBarsAdded {
  ObjectKey collection = nullptr;
  std::string symbol;
  std::optional<TimedBar> previous;
};

// OnTimedBarsUpdated(bars, index).
struct TimedBarsUpdated {
  ObjectKey collection = nullptr;
  std::int64_t index = 0;
};

// The fill an OnOrderChanged carries.
struct Fill {
  std::string id;
  std::int64_t status = 0;  // an fs... constant
  std::string order_guid;   // its Order's GUID
  automation::Date timestamp{};
  double price = 0;
  double quantity = 0;
};

// OnOrderChanged(changeType, order, oldProperties, fill, error): the order's
// properties as the gateway reads them.
struct OrderChange {
  std::int64_t change_type = 0;  // a ct... constant
  std::optional<Error> error;
  std::int64_t gw_status = 0;  // opGWStatus, an os... constant
  std::string guid;            // opGUID
  automation::Date server_timestamp{};
  double average_fill_price = 0;
  double filled_quantity = 0;
  std::optional<Fill> fill;
};

// OnAccountChanged(change, account, position); the account and position
// figures only for a position's change.
struct AccountChange {
  std::int64_t change = 0;  // an act... constant
  std::string account_name;
  std::string instrument_name;
  double average_price = 0;
  std::int64_t quantity = 0;
  double open_trade_equity = 0;
  double profit_loss = 0;
};

// What takes the decoded events: the gateway. Called on the apartment that
// fires the vendor's events, in the order the events would be fired; a
// call handles its event to the end (its errors included) and does not
// throw.
class Sink {
 public:
  virtual void instrument_changed(const InstrumentChange& event) = 0;
  virtual void ticks_added(const TicksAdded& event) = 0;
  virtual void timed_bars_resolved(const TimedBarsResolved& event) = 0;
  virtual void timed_bars_added(const TimedBarsAdded& event) = 0;
  virtual void timed_bars_updated(const TimedBarsUpdated& event) = 0;
  virtual void order_changed(const OrderChange& event) = 0;
  virtual void account_changed(const AccountChange& event) = 0;

 protected:
  ~Sink() = default;
};

}  // namespace orbrix::cqg::decoded
