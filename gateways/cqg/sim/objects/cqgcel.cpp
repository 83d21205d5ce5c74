#include "objects/cqgcel.hpp"

#include <array>
#include <utility>
#include <variant>

#include "objects/account.hpp"
#include "objects/api_configuration.hpp"
#include "objects/constants.hpp"
#include "objects/instrument.hpp"
#include "objects/order.hpp"

namespace orbrix::cqgsim {
namespace {

using automation::Args;
using automation::Dispatch;
using automation::Variant;

CQGCEL& self(Dispatch& d) {
  return automation::self_as<CQGCEL>(d);
}

// A member that takes `count` arguments, does `run` and returns nothing.
template <class Run>
void add_action(automation::ClassInfo& c, const char* name, std::size_t count, Run run) {
  c.add_method(name, [name, count, run](Dispatch& d, Args a) -> Variant {
    automation::expect_args(a, count, "CQGCEL", name);
    run(self(d), a);
    return {};
  });
}

// A member that takes `count` arguments and returns what `run` gives.
template <class Run>
void add_call(automation::ClassInfo& c, const char* name, std::size_t count, Run run) {
  c.add_method(name, [name, count, run](Dispatch& d, Args a) -> Variant {
    automation::expect_args(a, count, "CQGCEL", name);
    return run(self(d), a);
  });
}

}  // namespace

CQGCEL::CQGCEL(std::shared_ptr<detail::SimSettings> settings)
    : session_(*this, std::move(settings), *this),
      connection_(session_, *this),
      quotes_(session_),
      ticks_(session_),
      bars_(session_),
      accounts_(session_),
      orders_(session_, connection_, *this) {}

CQGCEL::~CQGCEL() = default;

const automation::ClassInfo& CQGCEL::class_info() {
  static const automation::ClassInfo info = [] {
    automation::ClassInfo c("CQGCEL");
    // The connection.
    c.add_property("APIConfiguration", [](Dispatch& d, Args a) -> Variant {
      automation::expect_args(a, 0, "CQGCEL", "APIConfiguration");
      return self(d).session_.configuration();
    });
    c.add_property("IsStarted",
                   [](Dispatch& d, Args) -> Variant { return self(d).session_.started(); });
    add_action(c, "Startup", 0, [](CQGCEL& s, Args) { s.connection_.startup(); });
    add_action(c, "Shutdown", 0, [](CQGCEL& s, Args) { s.connection_.shutdown(); });
    add_action(c, "GWLogon", 2, [](CQGCEL& s, Args a) { s.connection_.gw_logon(a[0], a[1]); });
    add_action(c, "GWLogoff", 0, [](CQGCEL& s, Args) { s.connection_.gw_logoff(); });
    // Accounts and positions.
    c.add_property(
        "AccountSubscriptionLevel",
        [](Dispatch& d, Args) -> Variant { return self(d).accounts_.level(); },
        [](Dispatch& d, Args, const Variant& v) { self(d).accounts_.set_level(v.as_int()); });
    c.add_property("Accounts",
                   [](Dispatch& d, Args) -> Variant { return self(d).accounts_.accounts(); });
    // Instruments and quotes.
    c.add_property("Instruments",
                   [](Dispatch& d, Args) -> Variant { return self(d).quotes_.instruments(); });
    add_action(c, "NewInstrument", 1,
               [](CQGCEL& s, Args a) { s.quotes_.new_instrument(a[0].as_string()); });
    add_action(c, "RemoveInstrument", 1,
               [](CQGCEL& s, Args a) { s.quotes_.remove_instrument(a[0]); });
    // Orders: CreateOrder checks its own arguments, 5 to 7 of them.
    c.add_property("Orders", [](Dispatch& d, Args) -> Variant { return self(d).orders_.orders(); });
    c.add_method("CreateOrder",
                 [](Dispatch& d, Args a) -> Variant { return self(d).orders_.create_order(a); });
    // Ticks.
    add_call(c, "CreateTicksRequest", 0,
             [](CQGCEL&, Args) -> Variant { return std::make_shared<TicksRequest>(); });
    add_call(c, "RequestTicks", 1, [](CQGCEL& s, Args a) { return s.ticks_.request_ticks(a[0]); });
    add_action(c, "RemoveTicks", 1, [](CQGCEL& s, Args a) { s.ticks_.remove_ticks(a[0]); });
    c.add_property("AllTicks",
                   [](Dispatch& d, Args) -> Variant { return self(d).ticks_.all_ticks(); });
    // Timed bars.
    add_call(c, "CreateTimedBarsRequest", 0,
             [](CQGCEL&, Args) -> Variant { return std::make_shared<TimedBarsRequest>(); });
    add_call(c, "RequestTimedBars", 1,
             [](CQGCEL& s, Args a) { return s.bars_.request_timed_bars(a[0]); });
    add_action(c, "RemoveTimedBars", 1, [](CQGCEL& s, Args a) { s.bars_.remove_timed_bars(a[0]); });
    c.add_property("AllTimedBars",
                   [](Dispatch& d, Args) -> Variant { return self(d).bars_.all_timed_bars(); });
    return c;
  }();
  return info;
}

automation::Cookie CQGCEL::advise(const automation::DispatchPtr& sink) {
  return session_.events().advise(sink);
}

void CQGCEL::unadvise(automation::Cookie cookie) {
  session_.events().unadvise(cookie);
}

void CQGCEL::close_out() {
  session_.require_started("close_out");
  auto& venue = session_.venue();
  auto& broker = venue.broker();
  const auto account = broker.accounts().front().config.id;
  for (const auto& order : orders_.working()) {
    if (order->request().account->id() == account) {
      orders_.cancel(*order);
    }
  }
  session_.flush();
  const auto& k = constants();
  std::vector<venue::InstrumentId> closing;
  std::vector<std::pair<venue::InstrumentId, std::int64_t>> open;
  for (const auto& p : broker.positions()) {
    if (p.account == account && p.quantity != 0) {
      open.emplace_back(p.instrument, p.quantity);
    }
  }
  for (const auto& [instrument, quantity] : open) {
    const std::array<Variant, 5> args{Variant(k.otMarket), Variant(quotes_.instrument(instrument)),
                                      Variant(accounts_.account(account)),
                                      Variant(quantity > 0 ? quantity : -quantity),
                                      Variant(quantity > 0 ? k.osdSell : k.osdBuy)};
    const Variant order = orders_.create_order(args);
    auto& placed = *std::static_pointer_cast<Order>(order.as_object());
    orders_.place(placed);
    // The run's own closing is not delayed by the order latency: worked at
    // once.
    if (broker.order(placed.guid()).status == venue::OrderStatus::InTransit) {
      on_trading(broker.accept_order(placed.guid(), venue.now()));
    }
    closing.push_back(instrument);
  }
  session_.flush();
  // The last quote once more, to the broker only: it matches the closing
  // orders as the next market event would have.
  for (const auto instrument : closing) {
    on_trading(broker.on_market(instrument, venue.market().state(instrument).book, venue.now()));
  }
  session_.flush();
}

void CQGCEL::on_trading(std::span<const venue::TradingEvent> events) {
  if (events.empty()) {
    return;
  }
  session_.flush();
  for (const auto& e : events) {
    deliver(e);
  }
  session_.flush();
}

void CQGCEL::deliver(const venue::TradingEvent& event) {
  if (connection_.hold(event)) {
    return;  // told after the next log-on
  }
  if (std::holds_alternative<venue::OrderAdded>(event) ||
      std::holds_alternative<venue::OrderChanged>(event)) {
    orders_.deliver(event);
  } else {
    accounts_.deliver(event);
  }
}

void CQGCEL::on_market(const venue::MarketEvent& event) {
  if (!connection_.carries_market_data()) {
    return;  // nothing reaches a client without its connections
  }
  const bool quotes = quotes_.listens(event.instrument);
  if (!quotes && !ticks_.listens(event.instrument) && !bars_.listens(event.instrument)) {
    return;  // nobody listens to this instrument
  }
  session_.flush();
  if (quotes) {
    quotes_.deliver(event);
  }
  if (!event.ticks.empty()) {
    ticks_.deliver(event);
  }
  if (!event.bars.empty()) {
    bars_.deliver(event);
  }
  session_.flush();
}

}  // namespace orbrix::cqgsim
