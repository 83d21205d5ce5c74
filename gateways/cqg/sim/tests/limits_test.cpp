// What the simulator refuses, forgets and leaves unanswered: prices the
// venue cannot hold, finished orders beyond the number kept, requests removed
// before their answer, bar ranges it cannot serve, history files and options
// outside their range.
#include <gtest/gtest.h>

#include <cmath>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "object_model_fixture.hpp"

namespace orbrix::cqgsim {
namespace {

using namespace std::chrono_literals;
using namespace object_tests;
using automation::Object;
using automation::Variant;

// A file in a directory of its own, removed with it.
class TempFile {
 public:
  TempFile(const std::string& name, const std::string& text)
      : dir_(std::filesystem::temp_directory_path() /
             ("cqgsim_limits_" + std::to_string(reinterpret_cast<std::uintptr_t>(this)))),
        path_(dir_ / name) {
    std::filesystem::create_directories(dir_);
    std::ofstream(path_) << text;
  }
  ~TempFile() { std::filesystem::remove_all(dir_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

std::string status_of(const Object& order) {
  const auto status = order.object("Properties").item(k("opGWStatus")).get("Value").as_int();
  return status == k("osRejectGW")      ? "rejected"
         : status == k("osFilled")      ? "filled"
         : status == k("osCanceled")    ? "cancelled"
         : status == k("osInOrderBook") ? "working"
                                        : std::to_string(status);
}

TEST_F(ObjectModelTest, AnOrderAtAPriceTheVenueCannotHoldIsRejectedWithItsReason) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  sim.driver().fire_quotes("EP", {{"qtBid", 6000.00, 10}, {"qtAsk", 6000.25, 10}});
  pump();
  struct Case {
    std::int64_t type;
    std::int64_t side;
    Variant limit;
    Variant stop;
    std::string reason;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Case> cases = {
      // Marketable at once if the price were rounded into 64 bits.
      {k("otLimit"), k("osdSell"), 1e30, {}, "limit price 1e+30 is beyond the largest price"},
      {k("otStop"), k("osdBuy"), {}, 1e30, "stop price 1e+30 is beyond the largest price"},
      {k("otLimit"), k("osdBuy"), nan, {}, "limit price nan is not a finite number"},
      // Rounded to 6000.25 it would buy above its limit.
      {k("otLimit"), k("osdBuy"), 6000.2, {}, "limit price 6000.2 is not on the tick grid of 0.25"},
      {k("otLimit"), k("osdSell"), -5.0, {}, "limit price -5 is not positive"},
      {k("otStopLimit"), k("osdSell"), 6000.0, 0.0, "stop price 0 is not positive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    log->events.clear();
    const Object order(cel.call("CreateOrder", c.type, ep.dispatch(), account.dispatch(), 1, c.side,
                                c.limit, c.stop));
    order.call("Place");
    pump();
    const auto changes = log->named("OnOrderChanged");
    ASSERT_EQ(changes.size(), 2u);
    EXPECT_EQ(changes[0].args[0].as_int(), k("ctAdded"));
    EXPECT_EQ(changes[1].args[0].as_int(), k("ctChanged"));
    EXPECT_EQ(status_of(order), "rejected");
    EXPECT_EQ(order.get("RejectReason").as_string().rfind(c.reason, 0), 0u)
        << order.get("RejectReason").as_string();
  }
  // Nothing of them trades, whatever the market does.
  log->events.clear();
  sim.driver().fire_quotes(
      "EP", {{"qtBid", 5999.75, 10}, {"qtAsk", 6000.00, 10}, {"qtTrade", 6000.00, 1}});
  pump();
  EXPECT_TRUE(log->named("OnOrderChanged").empty());
  // An order on the grid still works, and has no reason.
  const Object fine(cel.call("CreateOrder", k("otLimit"), ep.dispatch(), account.dispatch(), 1,
                             k("osdBuy"), 5000.25));
  fine.call("Place");
  pump();
  EXPECT_EQ(status_of(fine), "working");
  EXPECT_EQ(fine.get("RejectReason").as_string(), "");
}

class FewFinishedOrdersKept : public ObjectModelTest {
 protected:
  void configure(SimConfig& config) override { config.finished_orders_kept = 3; }
};

TEST_F(FewFinishedOrdersKept, FinishedOrdersBeyondTheNumberKeptLeaveOrdersOldestFirst) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  const auto limit_order = [&] {
    const Object o(cel.call("CreateOrder", k("otLimit"), ep.dispatch(), account.dispatch(), 1,
                            k("osdBuy"), 100.0));
    o.call("Place");
    pump();
    return o;
  };
  const Object working = limit_order();
  std::vector<Object> cancelled;
  for (int i = 0; i < 10; ++i) {
    cancelled.push_back(limit_order());
    cancelled.back().call("Cancel");
    pump();
  }
  const Object orders = cel.object("Orders");
  ASSERT_EQ(orders.get("Count").as_int(), 4);
  std::vector<std::string> listed;
  for (const auto& o : orders.items()) {
    listed.push_back(Object(o).get("GUID").as_string());
  }
  const auto guid = [](const Object& o) { return o.get("GUID").as_string(); };
  EXPECT_EQ(listed, (std::vector<std::string>{guid(working), guid(cancelled[7]), guid(cancelled[8]),
                                              guid(cancelled[9])}));
  EXPECT_EQ(Object(orders.call("ItemByGuid", guid(cancelled[9]))).get("GUID").as_string(),
            guid(cancelled[9]));
  EXPECT_EQ(status_of(Object(orders.call("ItemByGuid", guid(cancelled[7])))), "cancelled");
  EXPECT_EQ(Object(orders.item(1)).get("GUID").as_string(), guid(cancelled[7]));
  try {
    orders.call("ItemByGuid", guid(cancelled[6]));
    FAIL() << "a forgotten order was found";
  } catch (const std::out_of_range& e) {
    EXPECT_NE(std::string(e.what()).find(guid(cancelled[6])), std::string::npos) << e.what();
  }
  // The order object a caller still holds answers as before; it cannot be
  // cancelled again.
  EXPECT_EQ(status_of(cancelled[0]), "cancelled");
  EXPECT_THROW(cancelled[0].call("Cancel"), std::invalid_argument);
  working.call("Cancel");
  pump();
  EXPECT_EQ(orders.get("Count").as_int(), 3);
}

TEST_F(ObjectModelTest, AnswersToRequestsRemovedBeforeTheirAnswerAreNotGiven) {
  const Object ep = subscribe("EP");
  sim.controls().set_bars_resolution(AnswerBehaviour::after(500ms));
  sim.controls().set_ticks_resolution(AnswerBehaviour::after(500ms));
  sim.controls().set_instrument_resolution(AnswerBehaviour::after(500ms));
  const Object bars(cel.call("RequestTimedBars", bar_request(cel, "EP", 5, false).dispatch()));
  const Object ticks_request(cel.call("CreateTicksRequest"));
  ticks_request.put("Symbol", "EP");
  const Object ticks(cel.call("RequestTicks", ticks_request.dispatch()));
  cel.call("NewInstrument", "EP");
  advance(100ms);
  cel.call("RemoveTimedBars", bars.dispatch());
  cel.call("RemoveTicks", ticks.dispatch());
  cel.call("RemoveInstrument", ep.dispatch());
  log->events.clear();
  advance(2s);
  EXPECT_TRUE(log->named("OnTimedBarsResolved").empty());
  EXPECT_TRUE(log->named("OnTicksResolved").empty());
  EXPECT_TRUE(log->named("OnInstrumentResolved").empty());
  EXPECT_TRUE(log->events.empty());
  EXPECT_EQ(bars.get("Count").as_int(), 0);
  // Asked again after the removal, each is answered.
  cel.call("NewInstrument", "EP");
  cel.call("RequestTimedBars", bar_request(cel, "EP", 5, false).dispatch());
  advance(1s);
  EXPECT_EQ(log->named("OnInstrumentResolved").size(), 1u);
  EXPECT_EQ(log->named("OnTimedBarsResolved").size(), 1u);
}

TEST_F(ObjectModelTest, ABarRangeThatCannotBeServedIsAnsweredWithAnError) {
  constexpr auto lo = std::numeric_limits<std::int64_t>::min();
  constexpr auto hi = std::numeric_limits<std::int64_t>::max();
  const std::vector<std::pair<std::int64_t, std::int64_t>> ranges = {
      {0, lo}, {hi, 0}, {hi, lo}, {-2, hi}, {0, -100'002}};
  for (const auto& [start, end] : ranges) {
    SCOPED_TRACE(std::to_string(start) + " " + std::to_string(end));
    const Object request = bar_request(cel, "EP", 5, false);
    request.put("RangeStart", start);
    request.put("RangeEnd", end);
    const Object bars(cel.call("RequestTimedBars", request.dispatch()));
    pump();
    const auto resolved = log->named("OnTimedBarsResolved");
    ASSERT_FALSE(resolved.empty());
    ASSERT_FALSE(resolved.back().args[1].is_empty());
    const auto text = Object(resolved.back().args[1]).get("Description").as_string();
    EXPECT_NE(text.find("RangeEnd " + std::to_string(end)), std::string::npos) << text;
    EXPECT_EQ(bars.get("Count").as_int(), 0);
  }
  // The widest range served: 100,000 completed bars and the forming one.
  const Object widest(
      cel.call("RequestTimedBars", bar_request(cel, "EP", 100'000, false).dispatch()));
  pump();
  EXPECT_TRUE(log->named("OnTimedBarsResolved").back().args[1].is_empty());
  EXPECT_EQ(widest.get("Count").as_int(), 100'001);
}

TEST_F(ObjectModelTest, TheChangedQuotesEnumeratorIsReusedOnceReleasedAndSnapshotsWhileHeld) {
  subscribe("EP");
  std::vector<std::weak_ptr<automation::Dispatch>> handed;  // one per event
  Variant kept;
  bool keep = false;
  log->on_event = [&](const EventLog::Event& e) {
    if (e.name != "OnInstrumentChanged") {
      return;
    }
    const Variant enumerator =
        Object(e.args[1]).invoke(automation::kDispIdNewEnum, automation::InvokeKind::Method, {});
    EXPECT_EQ(Object(enumerator).get("Count").as_int(), Object(e.args[1]).get("Count").as_int());
    handed.push_back(enumerator.as_object());
    if (keep) {
      kept = enumerator;
    }
  };
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.00, 3}});
  sim.driver().fire_quotes("EP", {{"qtAsk", 4000.50, 3}});
  ASSERT_EQ(handed.size(), 2u);
  // Released after the first event, the same object served the second.
  ASSERT_TRUE(handed[0].lock());
  EXPECT_EQ(handed[0].lock(), handed[1].lock());
  keep = true;
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.25, 3}});
  keep = false;
  sim.driver().fire_quotes("EP", {{"qtBid", 4000.00, 3}, {"qtAsk", 4000.75, 3}});
  ASSERT_EQ(handed.size(), 4u);
  EXPECT_NE(handed[3].lock(), kept.as_object()) << "an enumerator still held was handed out";
  // The held one keeps the batch it was made for: the bid alone (the quote
  // objects themselves are the instrument's, updated in place).
  const Object held(kept);
  ASSERT_EQ(held.get("Count").as_int(), 1);
  EXPECT_EQ(Object(held.call("Next")).get("Type").as_int(), k("qtBid"));
}

class ReplayWithoutSizes : public ObjectModelTest {
 protected:
  void configure(SimConfig& config) override {
    // A trade every ten seconds, without any size.
    std::string text = "ts_event,bid_price,ask_price,last_price\n";
    for (int minute = 30; minute < 40; ++minute) {
      for (int second = 0; second < 60; second += 10) {
        text += "2026-12-07T14:" + std::to_string(minute) + ":" + (second < 10 ? "0" : "") +
                std::to_string(second) + "Z,6050.00,6050.25,6050.25\n";
      }
    }
    file_ = std::make_unique<TempFile>("no_sizes.csv", text);
    config.histories = {{"EP", file_->path()}};
    config.start_time = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7} +
                        std::chrono::hours(14) + std::chrono::minutes(35);
    config.fill_model.partial_fills = true;
  }
  std::unique_ptr<TempFile> file_;
};

TEST_F(ReplayWithoutSizes, PartialFillsDoNotCapAFillAtAnUnknownSize) {
  const Object ep = subscribe("EP");
  const Object account = first_account();
  const Object order(
      cel.call("CreateOrder", k("otMarket"), ep.dispatch(), account.dispatch(), 3, k("osdBuy")));
  order.call("Place");
  advance(30s);
  EXPECT_EQ(status_of(order), "filled");
  EXPECT_EQ(order.object("Properties").item(k("opFilledQuantity")).get("Value").as_int(), 3);
}

// The fill model chosen by configuration reaches the venue: slippage against
// the trader on a fill at the touch; options out of range are refused.
class SlippedFills : public ReplayWithoutSizes {
 protected:
  void configure(SimConfig& config) override {
    ReplayWithoutSizes::configure(config);
    config.fill_model = {.slippage_ticks = 2, .commission_per_contract = 2.5};
  }
};

TEST_F(SlippedFills, AMarketBuyFillsTwoTicksAboveTheAsk) {
  const Object ep = subscribe("EP");
  const Object order(cel.call("CreateOrder", k("otMarket"), ep.dispatch(),
                              first_account().dispatch(), 3, k("osdBuy")));
  order.call("Place");
  advance(30s);
  EXPECT_EQ(status_of(order), "filled");
  EXPECT_EQ(order.object("Properties").item(k("opAverageFillPrice")).get("Value").as_double(),
            6050.75);
}

TEST(SimulatorControls, AFillModelOutOfRangeIsRefusedNamingTheOption) {
  ScopedSimulator sim;
  auto& c = sim.controls();
  const auto refused = [&](const FillModel& m, const std::string& name) {
    try {
      c.set_config({.fill_model = m});
      ADD_FAILURE() << "accepted " << name;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  };
  refused({.slippage_ticks = -1}, "slippage_ticks");
  refused({.commission_per_contract = std::nan("")}, "commission_per_contract");
  EXPECT_EQ(c.config(), SimConfig{});  // nothing kept from a refusal
  c.set_config({.fill_model = {.partial_fills = true}});
  EXPECT_TRUE(c.config().fill_model.partial_fills);
}

TEST(SimulatorControls, AHistoryIsCheckedWholeWhenGivenNamingFileLineAndColumn) {
  ScopedSimulator sim;
  auto& c = sim.controls();
  const auto refused = [&](const std::string& text, const std::string& where,
                           const std::string& why, const char* symbol = "EP") {
    const TempFile file("prices.csv", text);
    try {
      c.set_config({.histories = {{symbol, file.path()}}});
      ADD_FAILURE() << "accepted:\n" << text;
    } catch (const std::runtime_error& e) {
      const std::string what = e.what();
      EXPECT_NE(what.find("prices.csv:" + where), std::string::npos) << what;
      EXPECT_NE(what.find(why), std::string::npos) << what;
    }
  };
  const std::string q = "ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n";
  const std::string ok = "2026-12-07T14:30:00Z,6050.00,6050.25,1,1,,\n";
  refused(q + ok + "2026-12-07T14:30:01Z,6050.10,6050.25,1,1,,\n", "3: column bid_price",
          "not on the tick grid of 0.25");
  // A whole number of ticks as a double, far beyond 64-bit ticks.
  refused(q + ok + "2026-12-07T14:30:01Z,6050.00,6050.25,1,1,400000000000000000000,1\n",
          "3: column last_price", "beyond the largest price");
  // The years a 64-bit nanosecond clock can hold, but not a session's arithmetic.
  refused(q + "1678-01-01T00:00:00Z,6050.00,6050.25,1,1,,\n2261-12-31T00:00:00Z,6050,6050.25,,,,\n",
          "2: column ts_event", "outside the years 1970 to 2199");
  refused("ts_event,bid_price,ask_price,\n" + ok, "1: column 4 (unnamed)", "without a name");
  refused("ts_event,bid_price,ask_price\n2026-12-07T14:30:00Z,0.0068,0.00680051\n",
          "2: column ask_price", "not on the tick grid of 5e-07", "JY6");
  const TempFile good("prices.csv", q + ok);
  // A good history beside a refused one: nothing is kept.
  EXPECT_THROW(c.set_config({.histories = {{"EP", good.path()}, {"NOSUCH", good.path()}}}),
               std::invalid_argument);
  EXPECT_TRUE(c.config().histories.empty());
  // Any month's name gives the contract's tick size.
  c.set_config({.histories = {{"F.US.EPH27", good.path()}}});
  EXPECT_EQ(c.config().histories, (std::vector<HistorySource>{{"F.US.EPH27", good.path()}}));
}

TEST(SimulatorControls, OptionsOutsideTheirRangeAreRefusedNamingThem) {
  ScopedSimulator sim;
  auto& c = sim.controls();
  const auto refused = [](auto&& set, const char* what) {
    try {
      set();
      ADD_FAILURE() << "accepted: " << what;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
  };
  using std::chrono::sys_days;
  using std::chrono::year;
  refused([&] { c.set_config({.start_time = sys_days{year{1678} / 1 / 1}}); }, "start time");
  refused([&] { c.set_config({.start_time = sys_days{year{2200} / 1 / 1}}); }, "start time");
  refused([&] { c.set_config({.mean_event_interval = 0ms}); }, "mean time between market events");
  refused([&] { c.set_config({.mean_event_interval = std::chrono::hours(2)}); }, "mean time");
  refused([&] { c.set_config({.finished_orders_kept = 100'000'000}); }, "finished orders");
  refused([&] { c.set_config({.max_order_quantity = 0}); }, "max_order_quantity");
  c.set_config({.start_time = sys_days{year{2199} / 12 / 31}, .finished_orders_kept = 0});
  EXPECT_EQ(c.config().finished_orders_kept, 0u);
}

}  // namespace
}  // namespace orbrix::cqgsim
