// The two paths of a backtest's events to BrokerLink (the simulator's
// decoded events, the vendor's objects read member by member) give the same
// run, byte for byte; and every time an engine receives in a backtest is
// the simulated clock's.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include "orbrix/backtest/backtest.hpp"
#include "orbrix/backtest/report.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/cqg/broker_link.hpp"
#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqgsim/synthetic_history.hpp"
#include "sample_run.hpp"
#include "temp_dir.hpp"

namespace orbrix::backtest {
namespace {

using testing::read_file;

using namespace std::chrono_literals;
using orbrix::testing::TempDir;

const auto kDay = std::chrono::sys_days{std::chrono::year{2026} / 12 / 7};

// Writes down every hook call (on the worker), in order, with every field.
class LoggingGateway final : public BaseGateway {
 public:
  explicit LoggingGateway(const std::vector<std::string>& symbols) {
    for (const auto& s : symbols) {
      securities.push_back(Futures(s, s + " future"));
      cqg_quotes().add_key(securities.back());
      cqg_orderbooks().add_key(securities.back());
    }
  }
  // Full names (F.US.EPZ26), dated (EPZ26) and short symbols alike.
  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view symbol) override {
    if (const auto dot = symbol.rfind('.'); dot != std::string_view::npos) {
      symbol.remove_prefix(dot + 1);
    }
    for (const auto& s : securities) {
      const auto& code = s.code();
      if (symbol == code || (symbol.size() == code.size() + 3 && symbol.starts_with(code))) {
        return s;
      }
    }
    return std::nullopt;
  }
  std::string get_cqg_symbol_from_eng_security(const Security& security) override {
    return security.code();
  }
  void process_quote(const Quote& q) override {
    log(to_text(q));
    std::lock_guard lock(mutex_);
    quote_times.push_back(q.datetime());
  }
  void process_orderbook(const OrderBook& b) override { log(to_text(b)); }
  void process_order(const OrderUpdate& u) override {
    log(fmt::format("order {} {} {} {} {}", u.order_id, to_text(u.status), u.filled_quantity,
                    u.filled_avg_price, to_text(u.updated_time)));
  }
  void process_deal(const orbrix::Deal& d) override {
    log(fmt::format("deal {} {} {} {} {}", d.deal_id, d.order_id, d.filled_quantity,
                    d.filled_avg_price, to_text(d.updated_time)));
  }
  void process_connection(const ConnectionEvent& e) override {
    log(fmt::format("connection {}", e.vendor_status));
  }
  void log(std::string line) {
    std::lock_guard lock(mutex_);
    lines.push_back(std::move(line));
  }

  std::vector<Security> securities;
  std::mutex mutex_;
  std::vector<std::string> lines;
  std::vector<DateTime> quote_times;
};

// Quotes, books and minute bars of each symbol; market orders that fill in
// parts, resting limits cancelled later, marketable limits; the gateway
// dropped for a while (nothing placed meanwhile) and logged on again.
class Exerciser final : public cqg::Engine {
 public:
  explicit Exerciser(std::vector<std::string> symbols)
      : symbols_(std::move(symbols)), gateway_(symbols_) {}

  BaseGateway& gateway() override { return gateway_; }
  std::chrono::milliseconds interval() const override { return 10s; }
  void start(cqg::BrokerLink& link) override {
    for (const auto& s : symbols_) {
      link.subscribe_quote(s);
      link.subscribe_orderbook(s);
      link.subscribe_bar(s, 20, "1Min");
    }
  }
  void on_timer(cqg::BrokerLink& link, TimePoint now) override {
    ++timers_;
    lines.push_back("timer " + to_text(to_local(now)));
    if (timers_ == 200) {
      driver->drop_gateway();
    }
    if (timers_ == 230) {
      driver->restore_gateway();
      link.Logon("backtest", "backtest");
    }
    if (timers_ >= 200 && timers_ < 232) {
      return;  // the gateway is down, or its held events are still coming
    }
    const auto& security = gateway_.securities[static_cast<std::size_t>(timers_) % 3];
    const auto quote = gateway_.cqg_quotes().find(security);
    if (!quote || quote->bid_price() == 0 || quote->ask_price() == 0) {
      return;
    }
    const double tick = ticks_.at(security.code());
    const auto on_grid = [tick](double price, long offset) {
      return static_cast<double>(std::lround(price / tick) + offset) * tick;
    };
    const auto side = (timers_ / 7) % 2 ? Direction::LONG : Direction::SHORT;
    if (timers_ % 17 == 0) {
      placed.push_back(link.place_order(Order(security, OrderType::MARKET, side, 40)));
    }
    if (timers_ % 23 == 0) {
      resting_.push_back(link.place_order(
          Order(security, OrderType::LIMIT, Direction::LONG, 2, on_grid(quote->bid_price(), -60))));
    }
    if (timers_ % 31 == 0) {
      placed.push_back(link.place_order(
          Order(security, OrderType::LIMIT, Direction::SHORT, 3, on_grid(quote->bid_price(), 0))));
    }
    if (timers_ % 29 == 0 && !resting_.empty()) {
      link.cancel_order(resting_.front());
      resting_.erase(resting_.begin());
    }
    if (timers_ % 12 == 0) {
      if (const auto bars = link.get_subscribe_bars_data(security); bars && !bars->empty()) {
        lines.push_back("bars " + std::to_string(bars->size()) + " " + to_text(bars->back()));
      }
    }
    if (timers_ % 37 == 0) {
      link.update_positions();
      for (const auto& p : link.positions()) {
        lines.push_back(fmt::format("position {} {} {} {}", p.security.code(), to_text(p.direction),
                                    p.quantity, to_text(p.update_time)));
      }
    }
  }
  void stop(cqg::BrokerLink& link) override {
    for (const auto& id : resting_) {
      link.cancel_order(id);
    }
  }

  const LoggingGateway& log() const { return gateway_; }
  cqgsim::SimDriver* driver = nullptr;
  std::vector<std::string> placed;
  // What the engine saw on its own thread, in order (the worker's hooks run
  // beside it, so the two are compared each on its own).
  std::vector<std::string> lines;

 private:
  std::vector<std::string> symbols_;
  LoggingGateway gateway_;
  const std::map<std::string, double> ticks_{{"EP", 0.25}, {"GCE", 0.10}, {"CLE", 0.01}};
  int timers_ = 0;
  std::vector<std::string> resting_;
};

class EventPaths : public ::testing::Test {
 protected:
  EventPaths() : null_(std::fopen("/dev/null", "w")) { previous_ = cqg::set_output_stream(null_); }
  ~EventPaths() override {
    cqg::set_output_stream(previous_);
    std::fclose(null_);
  }

  struct Run {
    BacktestResult result;
    std::vector<std::string> lines;
    std::vector<std::string> engine_lines;
    std::vector<DateTime> quote_times;
    std::size_t placed = 0;
  };
  Run run(EventPath path, const std::filesystem::path& history, const std::filesystem::path& out) {
    Exerciser engine({"EP", "GCE", "CLE"});
    BacktestOptions o;
    o.histories = {{"", history.string()}};
    o.warm_up = 20min;
    o.fill_model.partial_fills = true;
    o.fill_model.commission_per_contract = 1.25;
    o.path = path;
    o.with_simulator = [&](cqgsim::SimDriver& d) { engine.driver = &d; };
    Run r{run_backtest(engine, o), engine.log().lines, engine.lines, engine.log().quote_times,
          engine.placed.size()};
    write_report(r.result, out, {.charts = false});
    return r;
  }

 private:
  std::FILE* null_;
  std::FILE* previous_ = nullptr;
};

TEST_F(EventPaths, DirectAndVendorPathsWriteByteIdenticalReports) {
  TempDir dir;
  const auto history = dir.path() / "three.csv";
  cqgsim::write_synthetic_history(history, {.symbols = {"EP", "GCE", "CLE"},
                                            .from = kDay + 14h,
                                            .to = kDay + 16h,
                                            .mean_interval = 1500ms,
                                            .seed = 11});
  const auto direct = run(EventPath::direct, history, dir.path() / "direct");
  const auto vendor = run(EventPath::vendor, history, dir.path() / "vendor");
  for (const char* name : {"orders.csv", "deals.csv", "balance.csv", "bars.csv", "pnl.csv",
                           "summary.txt", "trades.csv"}) {
    const auto text = read_file(dir.path() / "direct" / name);
    EXPECT_GT(text.size(), 60u) << name;
    EXPECT_EQ(text, read_file(dir.path() / "vendor" / name)) << name;
  }
  // What the engine was handed, hook by hook, to the microsecond, and what
  // it read on its own thread.
  ASSERT_EQ(direct.lines.size(), vendor.lines.size());
  for (std::size_t i = 0; i < direct.lines.size(); ++i) {
    ASSERT_EQ(direct.lines[i], vendor.lines[i]) << "hook call " << i;
  }
  EXPECT_EQ(direct.engine_lines, vendor.engine_lines);

  // The run did what it is meant to compare: orders filled in parts,
  // cancelled ones, bars, the drop of the gateway.
  const auto& r = direct.result;
  ASSERT_GT(direct.placed, 20u);
  std::map<std::string, int> fills;
  for (const auto& d : r.deals) {
    ++fills[d.order_id];
  }
  EXPECT_TRUE(std::any_of(fills.begin(), fills.end(), [](const auto& f) { return f.second > 1; }));
  EXPECT_TRUE(std::any_of(r.orders.begin(), r.orders.end(),
                          [](const OrderResult& o) { return o.last.status == "cancelled"; }));
  const auto count = [&](std::string_view head) {
    const auto starts = [&](const std::string& l) { return l.starts_with(head); };
    return std::count_if(direct.lines.begin(), direct.lines.end(), starts) +
           std::count_if(direct.engine_lines.begin(), direct.engine_lines.end(), starts);
  };
  EXPECT_GT(count("bars "), 10);
  EXPECT_GT(count("OrderBook("), 1000);
  EXPECT_GT(count("position "), 0);
  EXPECT_GE(count("connection "), 3);  // up, down, up again
}

// A backtest of December 7, 2026 hands the engine quotes of December 7,
// 2026, stamped with the simulated time of the quote's event (local time,
// converted as live), never the machine's clock.
TEST_F(EventPaths, RecordsCarryTheSimulatedClocksTimeOnBothPaths) {
  TempDir dir;
  const auto history = dir.path() / "three.csv";
  cqgsim::write_synthetic_history(history, {.symbols = {"EP", "GCE", "CLE"},
                                            .from = kDay + 14h,
                                            .to = kDay + 14h + 40min,
                                            .mean_interval = 2s,
                                            .seed = 5});
  for (const auto path : {EventPath::direct, EventPath::vendor}) {
    const auto r = run(path, history, dir.path() / (path == EventPath::direct ? "d" : "v"));
    ASSERT_GT(r.quote_times.size(), 100u);
    const auto local = [](cqgsim::VenueTime t) {
      return to_local(std::chrono::system_clock::time_point(t.time_since_epoch()));
    };
    // From the market's opening at the start to the minute after the end.
    const auto first = local(r.result.start);
    const auto last = local(r.result.end + 1min);
    for (const DateTime t : r.quote_times) {
      ASSERT_GE(t, first) << to_text(t);
      ASSERT_LE(t, last) << to_text(t);
    }
    EXPECT_TRUE(std::is_sorted(r.quote_times.begin(), r.quote_times.end()));
  }
}

}  // namespace
}  // namespace orbrix::backtest
