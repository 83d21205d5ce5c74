#include "orbrix/core/testing/recording_gateway.hpp"

#include <thread>

#include <gtest/gtest.h>

namespace orbrix::testing {
namespace {

const Futures kEs("EPZ23", "E-mini", 50, Exchange::SMART, "2023-12", "USD");

TEST(RecordingGatewayTest, TranslatesSymbolsBothWays) {
  RecordingGateway gw;
  gw.add_symbol("EPZ23", kEs);
  EXPECT_EQ(gw.get_eng_security_from_cqg_symbol("EPZ23"), kEs);
  EXPECT_EQ(gw.get_eng_security_from_cqg_symbol("EP"), std::nullopt);
  EXPECT_EQ(gw.get_cqg_symbol_from_eng_security(kEs), "EPZ23");
  EXPECT_THROW(gw.get_cqg_symbol_from_eng_security(Stock("0700", "Tencent")), std::out_of_range);
  EXPECT_EQ(gw.symbol_lookups(), 2u);

  // Remapping a symbol drops the old security's reverse entry.
  const Futures nq("NQZ23", "E-mini Nasdaq");
  gw.add_symbol("EPZ23", nq);
  EXPECT_EQ(gw.get_eng_security_from_cqg_symbol("EPZ23"), nq);
  EXPECT_THROW(gw.get_cqg_symbol_from_eng_security(kEs), std::out_of_range);
}

// Plays the gateway's worker: store the record in the map, then call the hook,
// while the test thread reads the map and the log.
TEST(RecordingGatewayTest, RecordsHookCallsFromAWorkerInOrder) {
  RecordingGateway gw;
  int marker = 0;
  gw.set_apiHost(reinterpret_cast<cqg::ApiHost*>(&marker));
  gw.add_symbol("EPZ23", kEs);
  gw.cqg_quotes().add_key(kEs);
  gw.cqg_orderbooks().add_key(kEs);
  constexpr int kQuotes = 200;

  std::thread worker([&] {
    const Security s = *gw.get_eng_security_from_cqg_symbol("EPZ23");
    Quote q(s, s.exchange(), DateTime{});
    for (int n = 1; n <= kQuotes; ++n) {
      q = q.with({.last_price = double(n)});
      gw.cqg_quotes().store(s, q);
      gw.process_quote(q);
    }
    const OrderBook book = OrderBook(s, s.exchange(), DateTime{}).with({.bid_price_1 = 1});
    gw.cqg_orderbooks().store(s, book);
    gw.process_orderbook(book);
    gw.process_order(OrderUpdate{.order_id = "A1", .status = OrderStatus::SUBMITTED});
    gw.process_deal(Deal{.deal_id = "F1", .order_id = "A1", .filled_quantity = 1});
  });
  while (gw.calls().size() < kQuotes) {
    if (const auto q = gw.cqg_quotes().get(kEs)) {
      ASSERT_GT(q->last_price(), 0);
    }
  }
  ASSERT_TRUE(gw.wait_for_calls(kQuotes + 3));
  worker.join();

  const std::vector<HookCall> calls = gw.calls();
  ASSERT_EQ(calls.size(), kQuotes + 3u);
  EXPECT_EQ(calls[kQuotes].kind, HookKind::orderbook);
  EXPECT_EQ(calls[kQuotes + 1].kind, HookKind::order);
  EXPECT_EQ(calls[kQuotes + 2].kind, HookKind::deal);
  const std::vector<Quote> quotes = gw.records<Quote>();
  ASSERT_EQ(quotes.size(), std::size_t(kQuotes));
  for (int n = 0; n < kQuotes; ++n) {
    ASSERT_EQ(quotes[n].last_price(), n + 1);
  }
  EXPECT_EQ(gw.records<Deal>().at(0).deal_id, "F1");
  EXPECT_EQ(gw.cqg_quotes().get(kEs)->last_price(), kQuotes);
  EXPECT_EQ(gw.cqg_orderbooks().get(kEs)->bid_price_1(), 1);
  EXPECT_EQ(gw.apiHost(), reinterpret_cast<cqg::ApiHost*>(&marker));
}

TEST(RecordingGatewayTest, WaitTimesOutAndInjectedErrorsAreRaisedAfterRecording) {
  RecordingGateway gw;
  EXPECT_FALSE(gw.wait_for_calls(1, std::chrono::milliseconds(20)));

  gw.set_hook_error(HookKind::order, "engine refused");
  EXPECT_THROW(
      {
        try {
          gw.process_order(OrderUpdate{.order_id = "A1"});
        } catch (const std::runtime_error& e) {
          EXPECT_STREQ(e.what(), "engine refused");
          throw;
        }
      },
      std::runtime_error);
  EXPECT_EQ(gw.calls().size(), 1u);
  gw.set_hook_error(HookKind::order, std::nullopt);
  gw.process_order(OrderUpdate{.order_id = "A2"});
  EXPECT_EQ(gw.records<OrderUpdate>().back().order_id, "A2");
  gw.clear_calls();
  EXPECT_TRUE(gw.calls().empty());
  EXPECT_EQ(to_text(HookKind::deal), "process_deal");
}

}  // namespace
}  // namespace orbrix::testing
