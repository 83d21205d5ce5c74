#pragma once

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "objects/collection.hpp"
#include "objects/event_ids.hpp"
#include "objects/sim_object.hpp"
#include "orbrix/automation/class_info.hpp"
#include "orbrix/automation/connection_point.hpp"
#include "orbrix/automation/task.hpp"
#include "orbrix/cqgsim/simulator.hpp"
#include "venue/venue.hpp"

namespace orbrix::cqgsim {

class Account;
class ApiConfiguration;
class Instrument;
class Order;
class Position;
class TimedBar;
class TimedBars;
class Ticks;

inline constexpr char kInstrumentsName[] = "CQGInstruments";
inline constexpr char kAccountsName[] = "CQGAccounts";
inline constexpr char kOrdersName[] = "CQGOrders";
inline constexpr char kAllTicksName[] = "CQGTicksCollection";
inline constexpr char kAllTimedBarsName[] = "CQGTimedBarsCollection";
using Instruments = NamedCollection<kInstrumentsName>;
using Accounts = NamedCollection<kAccountsName>;
using Orders = NamedCollection<kOrdersName>;
using AllTicks = NamedCollection<kAllTicksName>;
using AllTimedBars = NamedCollection<kAllTimedBarsName>;

// The simulated vendor object: the hub of the object model. It owns the
// venue (made at Startup) and every object it hands out, turns what the
// venue does into vendor events, and fires them.
//
// Thread: the apartment of the thread that created it. Its members run
// there (other threads reach it by proxy), the venue runs there, and every
// event is fired there from the pump: an event a call causes goes into the
// outbox, which is fired, in order, by a task posted behind the call (or by
// the next market step, whichever runs first), never from inside the call.
class CQGCEL final : public SimObject<CQGCEL>, private venue::VenueObserver {
 public:
  explicit CQGCEL(std::shared_ptr<SimControls> controls);
  ~CQGCEL() override;
  static const automation::ClassInfo& class_info();

  automation::Cookie advise(const automation::DispatchPtr& sink) override;
  void unadvise(automation::Cookie cookie) override;

  // Fires an event now, on the calling (apartment) thread.
  void fire(cqg::CelEvent event, automation::Args args) const;
  // Posts an event to be fired from the apartment's pump; any thread. False
  // when the apartment has shut down.
  bool post_event(cqg::CelEvent event, std::vector<automation::Variant> args);

  // --- for the objects of the model (apartment thread) ---
  const std::shared_ptr<SimControls>& controls() const { return controls_; }
  venue::Venue& venue();  // throws std::logic_error before Startup
  bool started() const { return started_; }
  // A venue time as the vendor reports it: in the configured time zone.
  automation::Date vendor_time(venue::Timestamp t) const;
  // Queues work that fires events, behind what is queued already.
  void emit(automation::Task task);
  // Queues `task` into the outbox after `delay` on the simulator's clock (at
  // once when `delay` is 0 or the clock has not started).
  void after(std::chrono::milliseconds delay, automation::Task task);
  void on_level_changed(Instrument& instrument);
  void place(Order& order);
  void cancel(Order& order);
  // The position objects of an account shown in its Positions collection.
  std::vector<automation::DispatchPtr> positions_of(venue::AccountId account) const;

  // --- for the controls (apartment thread) ---
  void advance_by(std::chrono::nanoseconds by);
  void fire_quotes(std::string_view symbol, const std::vector<QuoteSpec>& quotes);
  void fire_raw_quotes(std::string_view symbol, const std::vector<RawQuote>& quotes);
  void set_gateway_dropped(bool dropped);
  void set_data_dropped(bool dropped);

 private:
  void startup();
  void shutdown();
  void require_started(std::string_view member) const;
  void gw_logon(const automation::Variant& user, const automation::Variant& password);
  void gw_logoff();
  void set_account_level(std::int64_t level);
  void new_instrument(const std::string& symbol);
  void remove_instrument(const automation::Variant& instrument);
  automation::Variant create_order(automation::Args args);

  // The clock starts at the first Startup that answers, at the venue's
  // start time; on the wall clock, a repeating timer of the apartment then
  // moves it (and the venue, once there is one) to now.
  venue::Timestamp start_time() const;
  void start_clock();
  void start_market();
  void step_market();
  // Moves the venue, or the clock alone before there is a venue, to `t`.
  void move_to(venue::Timestamp t);
  void flush();
  void on_trading(std::span<const venue::TradingEvent> events) override;
  void on_market(const venue::MarketEvent& event) override;
  void deliver_quotes(Instrument& instrument, const venue::MarketEvent& event);
  void deliver_trading(const venue::TradingEvent& event);
  // A finished order leaves the working set; the oldest finished ones
  // beyond the number kept leave Orders.
  void retire(std::unordered_map<std::size_t, std::shared_ptr<Order>>::iterator it);
  std::shared_ptr<Instrument> subscribed(std::string_view symbol) const;
  automation::Variant request_ticks(const automation::Variant& request);
  void remove_ticks(const automation::Variant& ticks);
  void deliver_ticks(Ticks& ticks, const venue::MarketEvent& event);
  automation::Variant request_timed_bars(const automation::Variant& request);
  void remove_timed_bars(const automation::Variant& bars);
  void deliver_bars(TimedBars& bars, const venue::BarUpdate& update);
  std::shared_ptr<TimedBar> make_bar(const venue::Bar& bar, double tick_size,
                                     std::string_view symbol, std::size_t index) const;

  // Constant after construction.
  std::shared_ptr<SimControls> controls_;
  std::shared_ptr<ApiConfiguration> configuration_;

  // Apartment thread only.
  automation::ConnectionPoint events_;
  bool started_ = false;
  bool shut_down_ = false;
  bool manual_clock_ = false;
  // Every delayed answer is a timer on this clock; the venue runs on it.
  std::optional<venue::MarketClock> clock_;
  std::optional<venue::Venue> venue_;
  // On the wall clock: when the clock started, and its time then.
  std::chrono::steady_clock::time_point wall_start_{};
  venue::Timestamp wall_start_time_{};
  std::deque<automation::Task> outbox_;
  bool flush_posted_ = false;
  // The connections: logged on (an up report sent, no down since), the
  // gateway or data connection dropped by the controls, and the order and
  // position events held while the gateway is down.
  bool logged_on_ = false;
  bool gateway_dropped_ = false;
  bool data_dropped_ = false;
  std::vector<venue::TradingEvent> held_;

  std::shared_ptr<Instruments> instruments_;
  std::map<venue::InstrumentId, std::shared_ptr<Instrument>> instrument_of_;
  // Counts the removals of each instrument: an answer to NewInstrument is
  // given only if no removal came between the request and the answer.
  std::map<venue::InstrumentId, std::uint64_t> instrument_generation_;
  std::int64_t account_level_ = 0;
  std::uint64_t account_generation_ = 0;  // a reload answers only the level change it is for
  std::shared_ptr<Accounts> accounts_;
  std::map<venue::AccountId, std::shared_ptr<Account>> account_of_;
  std::shared_ptr<Orders> orders_;
  // Orders not finished yet, by the broker's order index.
  std::unordered_map<std::size_t, std::shared_ptr<Order>> order_of_;
  std::deque<std::size_t> finished_orders_;  // the finished ones in Orders, oldest first
  std::size_t finished_orders_kept_ = 0;     // set at Startup
  std::map<std::size_t, std::shared_ptr<Position>> position_of_;  // by the broker's index
  std::shared_ptr<AllTicks> all_ticks_;
  std::vector<std::shared_ptr<Ticks>> ticks_;  // live tick requests, oldest first
  std::shared_ptr<AllTimedBars> all_timed_bars_;
  std::vector<std::shared_ptr<TimedBars>> timed_bars_;  // live bar requests, oldest first
};

}  // namespace orbrix::cqgsim
