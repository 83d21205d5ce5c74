#pragma once

// BrokerLink: the engine's CQG gateway and, at the same time, the event
// sink of the vendor object CQGCEL.
//
// Threads. The engine calls the operations on its own threads; each runs
// its sequence of vendor calls on the API host's worker in one hop (a
// closure run in the worker's apartment; the closure is destroyed on the
// calling thread after the call) and writes its traced lines afterwards on
// the calling thread. Every On... handler runs on the worker, inside its
// pump, decodes the event into a small struct and applies it; the engine's
// process hooks are called there. The two sides meet only through the
// events below, the engine's thread-safe maps and the members under the
// locks named in the private blocks.
//
// Operations that wait for a vendor event raise std::logic_error at once
// when called on the worker itself (from inside a hook), where the event
// could never be delivered. Every operation but the handlers raises
// std::logic_error before Init has bound a gateway with its API host, and
// automation::DisconnectedError naming itself once the host's Shutdown has
// begun: an operation waiting for the vendor then is released at once, and
// one whose vendor call fails because the vendor is going away raises that
// instead of the vendor's error. The handlers never touch the host, so an
// event that still comes after Shutdown is handled harmlessly.
//
// A late event of an unsubscribed instrument, tick or bar request is
// dropped, its resolution included: the vendor objects the engine removed
// are remembered (the newest 64 of each kind) and their events ignored, and
// the answer to a quote request withdrawn by unsubscribe_quote before it
// came is not taken for a subscription (until the engine subscribes the
// symbol again). A withdrawal that removes the instrument ends the vendor's
// pending answers with it, so nothing is left waiting to be dropped.
//
// Two paths bring the vendor's streamed events to the same apply code: the
// vendor's objects, read member by member through the handlers below (live,
// against the vendor's server or the simulator), and the decoded events an
// in-process simulator hands over on the worker (decoded_sink(): a
// backtest's direct path). One apply function per event kind takes either
// source, so the engine sees the same records, hooks and lines on both.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "orbrix/automation/apartment_checker.hpp"
#include "orbrix/automation/event.hpp"
#include "orbrix/automation/object.hpp"
#include "orbrix/common/forced_unwind.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/core/balance.hpp"
#include "orbrix/core/bar.hpp"
#include "orbrix/core/base_gateway.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/core/position.hpp"
#include "orbrix/cqg/broker_link_constants.hpp"
#include "orbrix/cqg/cel_sink_base.hpp"
#include "orbrix/cqg/decoded_events.hpp"
#include "orbrix/cqg/record_clock.hpp"
#include "orbrix/cqg/recovery.hpp"
#include "orbrix/cqg/risk_limits.hpp"

namespace orbrix::cqg {

class ApiHost;
namespace detail {
struct AccountSnapshot;
class RiskBook;
}  // namespace detail

// The engine's gateway to CQGCEL (see the top of this file): log-on, quotes,
// order books, timed bars, orders and fills, account and positions, and
// recovery after a dropped gateway connection.
class BrokerLink : public CELSinkBase, private decoded::Sink {
 public:
  // The one-line description the API host traces for this sink.
  static constexpr std::string_view description = kBrokerLinkDescription;

  // Made by the API host's worker when it connects the sink; touches no
  // vendor object and writes nothing.
  BrokerLink();
  ~BrokerLink() override;

  // Binds the engine's gateway and the API host it carries (gateway.apiHost(),
  // which may still be null for a gateway used without a host, e.g. in
  // tests: then only the handlers work). Any thread; call it before any
  // operation. Never blocks.
  void Init(BaseGateway& gateway);
  // The bound host and gateway, or null before Init. Any thread.
  ApiHost* apiHost() const noexcept { return api_host_.load(std::memory_order_acquire); }
  BaseGateway* gateway() const noexcept { return gateway_.load(std::memory_order_acquire); }

  // The bound of every wait for a vendor event; TIMEOUT unless changed. A
  // time-out beyond the clock's range (milliseconds::max() included) waits
  // without limit. Raises std::invalid_argument for a negative one. Any
  // thread.
  void set_timeout(std::chrono::milliseconds timeout);
  std::chrono::milliseconds timeout() const noexcept;
  // The pause between dropping and restoring the account subscription in
  // subscribe_account_and_positions (2 s unless changed); a Shutdown or the
  // thread's interruption check ends it early. Raises
  // std::invalid_argument for a negative one. Any thread.
  void set_account_reload_pause(std::chrono::milliseconds pause);

  // Stamps the quotes and order books handed to the engine, and the
  // positions listed, with `clock`'s time from the next event on, instead
  // of the machine's local time (null: the machine's again). A backtest
  // sets the simulated clock's. Any thread; a clock once set is kept alive
  // as long as this object.
  void set_record_clock(std::shared_ptr<RecordClock> clock);

  // This object as the taker of decoded events (decoded_events.hpp), for an
  // in-process simulator that hands over its streamed events instead of
  // firing them with vendor objects: a backtest's direct path. They are
  // applied, on the worker, by the functions that apply the vendor's, and
  // their errors are traced as a handler's; an override of an On...
  // handler does not see them. Never for the vendor's server. Any thread.
  std::shared_ptr<decoded::Sink> decoded_sink();

  // --- recovery (recovery.cpp; see recovery.hpp) ---

  // Turns recovery after a dropped gateway connection on. Engine thread,
  // after Init; once (a second call raises std::logic_error). Raises
  // std::invalid_argument naming the option for a delay or log-on wait
  // outside its range (recovery.hpp) or a negative number of attempts.
  void enable_recovery(RecoveryOptions options = {});
  bool recovery_enabled() const noexcept {
    return recovery_.load(std::memory_order_acquire) != nullptr;
  }

  // --- connection (connection.cpp) ---

  // Logs on to the vendor's gateway and waits until it is reported up;
  // returns at once once it has been reported up (the event is never
  // cleared). Engine thread; blocks up to timeout(). Raises
  // std::runtime_error "GW connection timeout!" and the vendor's errors.
  void Logon(std::string_view user_name, std::string_view password);
  // Logs off and waits until the gateway is reported down. Engine thread;
  // blocks up to timeout(). Raises std::runtime_error "GW disconnection
  // timeout!" and the vendor's errors. Without a selected account, or when
  // the account is not found, it still logs off and says so in its last line.
  void Logoff();
  // Whether the vendor last reported the gateway connection up (false
  // before the first report). Any thread; never blocks.
  bool gateway_connected() const noexcept {
    return gateway_connected_.load(std::memory_order_acquire);
  }
  // The vendor account whose GWAccountID is `GWAccountID` (a proxy), or a
  // null Object; traces one line per account visited. Engine thread; one
  // round trip.
  automation::Object get_account_from_gwaccountid(std::int64_t GWAccountID);

  // --- instruments and quotes (quotes.cpp) ---

  // The first subscribed instrument whose FullName contains `cqg_symbol`,
  // or a null Object. Engine thread; one round trip.
  automation::Object get_instrument_from_cqg_symbol(std::string_view cqg_symbol);
  // Subscribes a symbol and waits for its resolution; a time-out or a
  // resolution error is not an error. Engine thread; blocks up to timeout().
  void subscribe_quote(std::string_view cqg_symbol);
  // Removes the instrument found for `cqg_symbol`; nothing when none is.
  // Engine thread; one round trip.
  void unsubscribe_quote(std::string_view cqg_symbol);

  // --- order book (order_book.cpp) ---

  // The first live tick collection whose request symbol contains
  // `cqg_symbol`, or a null Object. Engine thread; one round trip.
  automation::Object get_ticks_from_cqg_symbol(std::string_view cqg_symbol);
  // Requests ticks for a symbol and waits for the resolution; a time-out or
  // an error is not an error. Engine thread; blocks up to timeout().
  void subscribe_orderbook(std::string_view cqg_symbol);
  // Removes the tick request found for `cqg_symbol`; nothing when none is.
  // Engine thread; one round trip.
  void unsubscribe_orderbook(std::string_view cqg_symbol);

  // --- timed bars (bars.cpp) ---

  // The first live timed-bars collection whose request symbol contains
  // `cqg_symbol`, or a null Object. Engine thread; one round trip.
  automation::Object get_timedbars_from_cqg_symbol(std::string_view cqg_symbol);
  // Requests `lookback_period` bars of `freq` ("1Day" or "1Min") and waits
  // for the resolution; a time-out is not an error. Engine thread; blocks up
  // to timeout(). Raises std::invalid_argument for another frequency or a
  // look-back outside 0..kMaxBarLookback, before anything is sent.
  void subscribe_bar(std::string_view cqg_symbol, std::int64_t lookback_period,
                     std::string_view freq = "1Min");
  // Removes the bars request of `cqg_symbol` and its window. Runs under the
  // engine's safe_call: a failure is reported there, never raised. Engine
  // thread; one round trip.
  void unsubscribe_bar(std::string_view cqg_symbol);
  // The security's bar window, oldest first, after filling missing values
  // in the stored window; null when there is no window or it is empty.
  // The window is an immutable snapshot: later bars and repairs go to a new
  // one, so the engine may keep and read it on any thread. Any thread;
  // blocks only for the window's lock; a read is one scan, and copies only
  // to repair a window already handed out. Raises std::invalid_argument
  // "The latest bar is INVALID: ..." (the fills stay).
  using BarWindow = std::shared_ptr<const std::vector<Bar>>;
  BarWindow get_subscribe_bars_data(const Security& security);
  // Traces one line with a vendor bar's values (a diagnostic; nothing calls
  // it). Thread of the bar's apartment.
  void dumpBar(const Variant& bar, const Variant& index);

  // --- accounts and positions (accounts.cpp) ---

  // Reloads the vendor's account list, waits for it, selects the account,
  // subscribes its positions and fills balance and positions. Engine
  // thread; blocks for the reload pause plus up to timeout(); at most four
  // round trips. Raises std::runtime_error "Accounts coming timeout!",
  // std::invalid_argument "GWAccountID <id> can not be found!".
  void subscribe_account_and_positions(std::int64_t GWAccountID);
  // Drops the account subscription (the account is looked up first, while
  // the vendor still lists it). Engine thread; one round trip. Raises
  // std::invalid_argument "GWAccountID <id> can not be found!".
  void unsubscribe_account_and_positions(std::int64_t GWAccountID);
  // Rebuilds the balance of the selected account and publishes it whole
  // under `lock`; an error is written with its time and not raised (the
  // balance then reads as a default record). Engine thread; one round trip.
  void update_account_balance();
  // Rebuilds the positions of the selected account and publishes the list
  // whole under `lock`. On an error midway nothing is published (the
  // previous list stays) and the error is raised. Engine thread; the
  // engine's symbol look-up runs here, between the vendor reads of a
  // position (its side and price are read only for a symbol the engine
  // maps): one round trip, plus one per position whose symbol the engine
  // was not yet seen to map.
  void update_positions();
  // Copies taken under `lock`. Any thread.
  AccountBalance account_balance() const EXCLUDES(lock);
  std::vector<PositionData> positions() const EXCLUDES(lock);
  // The selected account, none before a subscription. Any thread.
  std::optional<std::int64_t> GWAccountID() const EXCLUDES(lock);

  // --- orders (orders.cpp) ---

  // Places an order on the selected account and returns the vendor's order
  // id once the vendor announces it. With recovery on, an order is refused
  // at once (std::runtime_error, nothing sent) while the gateway is down.
  // Placements are serialised: a second
  // caller waits for the first. Engine thread; blocks up to timeout() for
  // the announcement (plus the placement before it); one round trip besides
  // that wait. Raises std::invalid_argument, with nothing sent, for a price
  // the order type uses that is not finite and above 0 (`price` of a limit,
  // `stop_price` of a stop; a stop's `price`, passed on but not used, may be
  // 0 and must be finite), a quantity that is not a whole number above 0,
  // an unsubscribed instrument, an unsupported type or side, a selected
  // account the vendor no longer lists, and (OrderRefused) an order the
  // trading state or a risk limit refuses; std::logic_error, with nothing sent,
  // before an account is selected; and std::runtime_error "Order placing
  // timeout!...".
  std::string place_order(const Order& order);
  // Cancels a placed order by its id. Engine thread; one round trip. Raises
  // the vendor's error for an unknown id.
  void cancel_order(std::string_view orderid);
  // The id slot of the placement in flight. Any thread.
  std::optional<std::string> order_id() const;

  // --- pre-trade risk (risk.cpp; see risk_limits.hpp) ---
  //
  // Every place_order is checked, before anything reaches the vendor,
  // against the trading state and the limits: refused, it raises
  // OrderRefused (an std::invalid_argument) whose text names the limit,
  // the value and the symbol, traces that text once, and sends nothing.
  // cancel_order is never refused. The checks read what this link keeps:
  // the positions the account last listed, moved by the fills of its own
  // orders since, and its own working orders (orders placed elsewhere are
  // not counted). The daily loss is measured on the account's realized and
  // open P&L each time the balance is read (update_account_balance).
  // Each change of the trading state is traced and told to the engine's
  // process_trading_state hook on the worker.

  // Replaces the limits (a default RiskLimits: none, as before any call).
  // Raises std::invalid_argument from validate(). Any thread; never waits.
  void set_risk_limits(RiskLimits limits);
  RiskLimits risk_limits() const;
  // ACTIVE until halted, set to reduce only, or the daily loss is breached.
  TradingState trading_state() const;
  // No new order from now on; with `cancel_all` every working order this
  // link placed is also cancelled (one round trip; a cancel the vendor
  // refuses is traced, not raised), after waiting for a placement in
  // flight. Engine thread, or the worker (from a hook: then without the
  // wait); the hook runs before it returns.
  void halt(std::string_view reason, bool cancel_all = false);
  // Only orders that reduce a position from now on. Threads as halt.
  void reduce_only(std::string_view reason);
  // Back to ACTIVE. Threads as halt.
  void resume(std::string_view reason = "resumed");
  // The state, the limits and what they are measured against now (working
  // orders, the order-rate tokens left, counted positions, the day's P&L),
  // a few lines for an operator. Any thread.
  std::string risk_text() const;
  // The clock the order-rate bucket is paced by (null: the steady clock);
  // set before the limits. Any thread.
  void set_risk_clock(std::function<std::chrono::steady_clock::time_point()> clock);

  // --- vendor events (worker thread) ---
  void OnGWConnectionStatusChanged(const Variant& connectionStatus) override;
  void OnDataConnectionStatusChanged(const Variant& newStatus) override;
  void OnDataError(const Variant& cqgError, const Variant& errorDescription) override;
  void OnInstrumentResolved(const Variant& symbol, const Variant& cqgInstrument,
                            const Variant& cqgError) override;
  void OnInstrumentChanged(const Variant& cqgInstrument, const Variant& cqgQuotes,
                           const Variant& cqgInstrumentProperties) override;
  void OnTicksResolved(const Variant& cqgTicks, const Variant& cqgError) override;
  void OnTicksAdded(const Variant& cqgTicks, const Variant& addedTicksCount) override;
  void OnTicksRemoved(const Variant& cqgTicks, const Variant& removedTickIndex) override;
  void OnTimedBarsResolved(const Variant& cqgTimedBars, const Variant& cqgError) override;
  void OnTimedBarsAdded(const Variant& cqgTimedBars) override;
  void OnTimedBarsUpdated(const Variant& cqgTimedBars, const Variant& index) override;
  void OnTimedBarsRemoved(const Variant& cqgTimedBars, const Variant& index) override;
  void OnAccountChanged(const Variant& change, const Variant& cqgAccount,
                        const Variant& cqgPosition) override;
  void OnOrderChanged(const Variant& changeType, const Variant& cqgOrder,
                      const Variant& oldProperties, const Variant& cqgFill,
                      const Variant& cqgError) override;

  // One-shot hand-overs between the worker and the engine's threads; any
  // thread may set, clear, test and wait.
  automation::Event eventGatewayIsUp;
  automation::Event eventGatewayIsDown;
  automation::Event eventAccountIsReady;
  automation::Event eventOrderPlaced;
  automation::Event eventQuoteDone;
  automation::Event eventOrderbookDone;
  automation::Event eventBarDone;

 private:
  // The decoded events (the direct path), each applied as its handler
  // applies the vendor's event.
  void instrument_changed(const decoded::InstrumentChange& event) override;
  void ticks_added(const decoded::TicksAdded& event) override;
  void timed_bars_resolved(const decoded::TimedBarsResolved& event) override;
  void timed_bars_added(const decoded::TimedBarsAdded& event) override;
  void timed_bars_updated(const decoded::TimedBarsUpdated& event) override;
  void order_changed(const decoded::OrderChange& event) override;
  void account_changed(const decoded::AccountChange& event) override;
  // The apply function of each event kind the two paths share; `Source`
  // reads the vendor's objects or a decoded event (the .cpp of each kind).
  template <class Source>
  void apply_bars_resolved(Source& source);
  template <class Source>
  void apply_bars_added(Source& source);
  template <class Source>
  void apply_order_change(Source& source);
  template <class Source>
  void apply_account_change(Source& source);
  // Traces, once per symbol, that the ticks of a symbol no security is
  // mapped to are dropped. Worker.
  void report_unmapped_ticks(const std::string& symbol);
  // The time to stamp the records of the event being handled with.
  DateTime record_time();

  // The host's vendor object as the calling thread reaches it; raises
  // std::logic_error before Init or after the host let it go.
  const automation::Object& cel(std::string_view operation) const;
  // Raises std::logic_error on the worker thread, naming the operation.
  void ensure_not_on_worker(std::string_view operation) const;
  // The bound gateway; raises std::logic_error naming the handler before Init.
  BaseGateway& bound_gateway(std::string_view where) const;
  // Tells the engine, on the worker, that a subscription failed: one traced
  // line, then its process_subscription_failure hook (an exception there is
  // traced, not raised).
  void report_failure(SubscriptionFailure::Kind kind, std::string symbol, std::string error);
  // The same from the engine's thread after a subscription's wait timed
  // out: the hook runs on the worker (one round trip).
  void report_timeout(SubscriptionFailure::Kind kind, std::string_view symbol);
  // Waits up to timeout() for `event`; raises automation::DisconnectedError
  // naming `operation` as soon as the host's Shutdown begins, and what the
  // thread's interruption check raises (see automation/interruption.hpp).
  bool wait(const automation::Event& event, std::string_view operation) const;
  // Sleeps `length`, ended early the same ways as wait().
  void pause(std::chrono::milliseconds length, std::string_view operation) const;
  // Whether the host's Shutdown has begun. Any thread.
  bool closing() const noexcept;
  // Runs an operation's body; an error it raises once the host is closing
  // becomes automation::DisconnectedError naming `operation`.
  template <class F>
  decltype(auto) guarded(std::string_view operation, F&& body) const {
    try {
      return body();
    } catch (const ForcedUnwind&) {
      throw;
    } catch (...) {
      rethrow_closing(operation);
    }
  }
  [[noreturn]] void rethrow_closing(std::string_view operation) const;
  // Turns the read amounts and positions into records and publishes them.
  void publish_balance(const detail::AccountSnapshot& snapshot);
  void publish_positions(const detail::AccountSnapshot& snapshot);
  // A snapshot to read into, with the symbols the engine is known to map.
  detail::AccountSnapshot new_snapshot(std::optional<std::int64_t> id) const EXCLUDES(lock);
  // Asks the engine about each symbol the positions walk stopped at and
  // walks on, one round trip per stop. Engine thread.
  void finish_positions_walk(detail::AccountSnapshot& snapshot) EXCLUDES(lock);
  // The bodies of operations run under guarded().
  void subscribe_orderbook_now(std::string_view cqg_symbol);
  std::string place_order_now(const Order& order);
  void logoff_now();
  void subscribe_bar_now(std::string_view cqg_symbol, std::int64_t lookback_period,
                         std::string_view freq);
  // `reloaded`: the event that tells the account list was reloaded, cleared
  // before the reload is asked for when it is not eventAccountIsReady (which
  // is never cleared, so after the first reload it tells nothing).
  void subscribe_account_and_positions_now(std::int64_t GWAccountID,
                                           automation::Event* reloaded = nullptr);
  void subscribe_quote_now(std::string_view cqg_symbol);
  bool unsubscribe_quote_now(std::string_view cqg_symbol);
  bool unsubscribe_orderbook_now(std::string_view cqg_symbol);
  bool unsubscribe_bar_now(std::string_view cqg_symbol);
  // Checks `order` and reserves it as the pending placement; raises
  // OrderRefused. Placing thread, under place_mutex_.
  void check_risk(const Order& order);
  // Books the pending placement as working under the id the vendor gave
  // it, and a later event of one of this link's orders (its fill first,
  // then its status). Worker.
  void book_placed(const std::string& order_id);
  void book_order_event(const OrderUpdate& update, const Deal* deal);
  // Moves the trading state; the hook hears of a change. No lock held.
  void change_trading_state(TradingState state, std::string_view reason);
  // Traces a change and calls process_trading_state on the worker.
  void tell_trading_state(const TradingStateChange& change);

  // Calls the engine's process_connection on the worker (one round trip)
  // unless `unless`, run there first, says not to; an exception in the hook
  // is traced. Returns whether the engine was told. Engine or recovery
  // thread.
  bool tell_connection(const ConnectionEvent& event, const std::function<bool()>& unless = {});

  class Recovery;
  // What the engine has live, restored by recovery; kept whether recovery
  // is on or not (a few symbols).
  struct Live {
    std::set<std::string> quotes;
    std::set<std::string> books;
    std::map<std::string, std::pair<std::int64_t, std::string>> bars;  // look-back, frequency
    std::optional<std::int64_t> account;
  };
  struct Credentials {
    std::string user_name;
    std::string password;
  };

  // Constant after Init (written once, before the operations; handlers may
  // run before it, hence the atomics).
  std::atomic<ApiHost*> api_host_{nullptr};
  std::atomic<BaseGateway*> gateway_{nullptr};
  // The last gateway connection report; written by the worker.
  std::atomic<bool> gateway_connected_{false};
  // Set by Logoff before it logs off, cleared by Logon: a down report
  // while it is set was asked for.
  std::atomic<bool> logging_off_{false};

  // Subscription operations (the engine's and recovery's restore) one at a
  // time: they share one event per kind.
  Mutex session_mutex_;
  // What is live and the last credentials; any thread, short holds.
  mutable Mutex live_mutex_;
  Live live_ GUARDED_BY(live_mutex_);
  std::optional<Credentials> credentials_ GUARDED_BY(live_mutex_);
  // Set with eventAccountIsReady by every reload; recovery clears it, so it
  // knows when the reload it asked for came.
  automation::Event accounts_reloaded_;
  // Made once by enable_recovery; read by the worker's handlers.
  std::unique_ptr<Recovery> recovery_owner_;
  std::atomic<Recovery*> recovery_{nullptr};
  // Test knobs; any thread.
  std::atomic<std::int64_t> timeout_ms_{std::chrono::milliseconds(TIMEOUT).count()};
  std::atomic<std::int64_t> reload_pause_ms_{2000};
  // The records' clock (null: the machine's), and every clock ever set.
  std::atomic<RecordClock*> record_clock_{nullptr};
  Mutex clocks_mutex_;
  std::vector<std::shared_ptr<RecordClock>> clocks_ GUARDED_BY(clocks_mutex_);

  // Accounts: shared with every reader under the module's `lock`; rebuilt
  // aside and published whole.
  AccountBalance account_balance_ GUARDED_BY(lock);
  std::vector<PositionData> positions_ GUARDED_BY(lock);
  std::optional<std::int64_t> gw_account_id_ GUARDED_BY(lock);

  // Orders: placements take `place_mutex_` for their whole length; the id
  // slot is written by the worker and read by the placing thread under
  // `order_mutex_`.
  Mutex place_mutex_;
  mutable Mutex order_mutex_;
  std::optional<std::string> order_id_ GUARDED_BY(order_mutex_);

  // Risk: the limits, the trading state, the link's working orders and
  // the positions they count against, under `risk_mutex_`: checked and
  // reserved by the placing thread, booked by the worker's order events
  // and the engine's account updates; short holds, never across a call
  // out. `risk_on_` tells the placing thread whether to check at all.
  mutable Mutex risk_mutex_;
  std::unique_ptr<detail::RiskBook> risk_ PT_GUARDED_BY(risk_mutex_);
  std::atomic<bool> risk_on_{false};
  // Whether a collar is set: the check then reads the security's quote.
  std::atomic<bool> risk_quotes_{false};

  // Bars: the windows, written by the worker's handlers and repaired and
  // copied by engine threads, under `bars_mutex_`.
  mutable Mutex bars_mutex_;
  // A window is changed in place only until it is first handed out; after
  // that a roll or a repair stores a new one (copy on write, decided under
  // the lock), so a snapshot handed out never changes.
  struct StoredWindow {
    std::shared_ptr<std::vector<Bar>> bars;
    bool handed_out = false;
  };
  std::unordered_map<Security, StoredWindow> subscribe_bars_data_ GUARDED_BY(bars_mutex_);

  // Symbols whose positions the engine was seen to map: their side and
  // price are read in the same round trip. Engine threads, under `lock`.
  std::unordered_set<std::string> mapped_position_symbols_ GUARDED_BY(lock);

  // The worker's own state (worker_state.hpp): the requests it removed,
  // sent and withdrew, whose late answers it drops. Reached only through
  // worker_state(), which checks the calling thread is the worker's.
  struct WorkerState;
  WorkerState& worker_state() const;
  automation::ApartmentChecker on_worker_{"BrokerLink's worker state"};
  std::unique_ptr<WorkerState> worker_ PT_GUARDED_BY(on_worker_);
};

}  // namespace orbrix::cqg
