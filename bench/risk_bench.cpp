// What the pre-trade checks add to place_order: the check of one accepted
// order against every limit over a realistic link state (twelve symbols with
// positions, twenty working orders, every limit set), alone and with what
// BrokerLink does around it (the security's quote from the engine's map, the
// risk mutex, the reservation of the pending placement and its release).
//
// Counters:
//   ns_per_check      time per check
//   allocs_per_check  heap allocations per check (every operator new of the
//                     process is counted)

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "counting_new.hpp"
#include "orbrix/common/mutex.hpp"
#include "orbrix/core/base_gateway.hpp"
#include "orbrix/core/quote.hpp"
#include "orbrix/core/security.hpp"
#include "risk_book.hpp"

namespace {

using namespace orbrix;
using cqg::detail::MarketPrice;
using cqg::detail::OrderTicket;
using cqg::detail::RiskBook;

const char* const kSymbols[] = {"EP", "ENQ", "GCE", "CLE", "ZN",  "ZB",
                                "6E", "6J",  "YM",  "RTY", "NGE", "SIE"};

// Every limit set; the state a busy link has: positions in every symbol and
// twenty orders working.
void fill(RiskBook& book) {
  cqg::RiskLimits l{.max_order_qty = 100,
                    .max_order_qty_by_symbol = {{"ZN", 50}, {"6E", 20}},
                    .max_position = 200,
                    .max_position_by_symbol = {{"ZB", 40}},
                    .max_working_orders = 100,
                    .max_orders_per_second = 1e12,
                    .price_collar_pct = 5,
                    .price_collar_ticks = 400,
                    .tick_size_by_symbol = {{"EP", 0.25}, {"ENQ", 0.25}, {"ZN", 1.0 / 64}},
                    .max_daily_loss = 50'000};
  book.set_limits(l);
  std::vector<std::pair<std::string, double>> held;
  for (const char* s : kSymbols) {
    held.emplace_back(s, 7);
  }
  book.set_positions(held);
  for (int i = 0; i < 20; ++i) {
    const OrderTicket t{.symbol = kSymbols[i % 12], .quantity = 1};
    book.reserve(t);
    book.placed("order-" + std::to_string(i));
  }
}

const OrderTicket kOrder{.symbol = "EP",
                         .order_type = OrderType::LIMIT,
                         .direction = Direction::LONG,
                         .quantity = 2,
                         .price = 4499.5};
const MarketPrice kMarket{.last = 4500, .bid = 4499.75, .ask = 4500.25};

using Clock = std::chrono::steady_clock;

void report(benchmark::State& state, Clock::duration elapsed, std::uint64_t allocs) {
  const auto n = static_cast<double>(state.iterations());
  state.counters["ns_per_check"] =
      static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count()) /
      n;
  state.counters["allocs_per_check"] = static_cast<double>(allocs) / n;
}

void BM_RiskCheck(benchmark::State& state) {
  RiskBook book;
  fill(book);
  const auto a0 = g_allocations.load(std::memory_order_relaxed);
  const auto t0 = Clock::now();
  for (auto _ : state) {
    benchmark::DoNotOptimize(book.check(kOrder, kMarket));
  }
  report(state, Clock::now() - t0, g_allocations.load(std::memory_order_relaxed) - a0);
}
BENCHMARK(BM_RiskCheck);

// A gateway whose quote map holds the twelve securities, each quoted.
class QuotedGateway final : public BaseGateway {
 public:
  QuotedGateway() {
    for (const char* s : kSymbols) {
      const Futures f({.code = s, .security_name = s});
      cqg_quotes().store(
          f,
          Quote({.security = f, .last_price = 4500, .bid_price = 4499.75, .ask_price = 4500.25}));
    }
  }
  std::optional<Security> get_eng_security_from_cqg_symbol(std::string_view) override {
    return std::nullopt;
  }
  std::string get_cqg_symbol_from_eng_security(const Security& s) override { return s.code(); }
  void process_quote(const Quote&) override {}
  void process_orderbook(const OrderBook&) override {}
  void process_order(const OrderUpdate&) override {}
  void process_deal(const Deal&) override {}
};

void BM_RiskCheckInPlaceOrder(benchmark::State& state) {
  RiskBook book;
  fill(book);
  QuotedGateway gateway;
  Mutex mutex;
  const Futures ep({.code = "EP", .security_name = "EP"});
  const auto a0 = g_allocations.load(std::memory_order_relaxed);
  const auto t0 = Clock::now();
  for (auto _ : state) {
    MarketPrice market;
    if (const auto q = gateway.cqg_quotes().find(ep)) {
      market = {q->last_price(), q->bid_price(), q->ask_price()};
    }
    MutexLock guard(mutex);
    if (!book.check(kOrder, market)) {
      book.reserve(kOrder);
      book.release_pending();  // the next iteration places again
    }
  }
  report(state, Clock::now() - t0, g_allocations.load(std::memory_order_relaxed) - a0);
}
BENCHMARK(BM_RiskCheckInPlaceOrder);

}  // namespace

BENCHMARK_MAIN();
