// BrokerLink over the COM server: its handlers run on the worker, log-on, a
// quote subscription ending in process_quote, and an account subscription
// with one order placed, updated and filled; the round trips are the
// portable backend's.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "orbrix/cqg/trace.hpp"
#include "orbrix/cqg/vendor.hpp"
#include "stack.hpp"

namespace orbrix::wintest {
namespace {

// BrokerLink noting the thread its connection handler ran on.
class ObservedLink final : public cqg::BrokerLink {
 public:
  void OnGWConnectionStatusChanged(const automation::Variant& status) override {
    handler_thread = cqg::current_thread_id();
    cqg::BrokerLink::OnGWConnectionStatusChanged(status);
  }
  std::atomic<long> handler_thread{0};
};

// Waits until the gateway recorded `count` records of kind T.
template <class T>
bool wait_for_records(const orbrix::testing::RecordingGateway& g, std::size_t count) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (g.records<T>().size() < count) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    g.wait_for_calls(g.calls().size() + 1, std::chrono::milliseconds(50));
  }
  return true;
}

class WindowsBrokerLink : public ::testing::Test {
 protected:
  void TearDown() override {
    stack_.reset();
    EXPECT_EQ(live_objects(), 0) << "a COM reference outlived Shutdown";
  }
  std::unique_ptr<Stack<ObservedLink>> stack_ = std::make_unique<Stack<ObservedLink>>();
  Stack<ObservedLink>& s = *stack_;
};

TEST_F(WindowsBrokerLink, LogonReturnsOnceItsHandlerRanOnTheWorker) {
  EXPECT_EQ(s.hops([&] { s.link->Logon("user", "secret"); }), 1u);
  const long worker = static_cast<long>(s.host.cqgCEL.get("ThreadId").as_int());
  EXPECT_EQ(s.link->handler_thread.load(), worker);
  EXPECT_NE(worker, cqg::current_thread_id());
}

TEST_F(WindowsBrokerLink, QuoteSubscriptionEndsInProcessQuote) {
  EXPECT_EQ(s.hops([&] { s.link->subscribe_quote("EPZ23"); }), 1u);
  // The server feeds three changes from its own thread with sent messages.
  ASSERT_TRUE(s.gateway.wait_for_calls(3));
  const auto quotes = s.gateway.records<Quote>();
  ASSERT_GE(quotes.size(), 3u);
  EXPECT_EQ(quotes.back().security(), Security(ep()));
  EXPECT_EQ(quotes.back().bid_price(), 4500.25);
  EXPECT_EQ(quotes.back().ask_price(), 4500.5);
  EXPECT_EQ(quotes.back().last_price(), 4500.5);
  EXPECT_EQ(send_timeouts(), 0) << "the worker's pump did not wake for sent messages";
  EXPECT_TRUE(automation::Object(s.link->get_instrument_from_cqg_symbol("EPZ23")));
}

TEST_F(WindowsBrokerLink, AccountSubscriptionThenAnOrderPlacedUpdatedAndFilled) {
  s.link->Logon("user", "secret");
  s.link->subscribe_quote("EPZ23");
  ASSERT_TRUE(s.gateway.wait_for_calls(3));

  EXPECT_LE(s.hops([&] { s.link->subscribe_account_and_positions(7001); }), 4u);
  EXPECT_EQ(s.link->account_balance().cash, 100000.0);
  EXPECT_EQ(s.link->account_balance().available_cash, 97500.0);
  const auto positions = s.link->positions();
  ASSERT_EQ(positions.size(), 1u);
  EXPECT_EQ(positions[0].direction, Direction::LONG);
  EXPECT_EQ(positions[0].quantity, 2.0);
  EXPECT_EQ(positions[0].holding_price, 4490.5);

  std::string id;
  EXPECT_EQ(
      s.hops([&] { id = s.link->place_order(Order(ep(), OrderType::MARKET, Direction::LONG, 1)); }),
      1u);
  EXPECT_EQ(id, "ORD-1");
  // Updated (in the book), then filled: two order updates and one deal.
  ASSERT_TRUE(wait_for_records<Deal>(s.gateway, 1));
  const auto updates = s.gateway.records<OrderUpdate>();
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0].status, OrderStatus::SUBMITTED);
  EXPECT_EQ(updates[1].status, OrderStatus::FILLED);
  EXPECT_EQ(updates[1].filled_quantity, 1.0);
  EXPECT_EQ(updates[1].order_id, "ORD-1");
  const auto deals = s.gateway.records<Deal>();
  ASSERT_EQ(deals.size(), 1u);
  EXPECT_EQ(deals[0].order_id, "ORD-1");
  EXPECT_EQ(deals[0].deal_id, "FILL-1");
  EXPECT_EQ(deals[0].filled_avg_price, 4500.5);
  EXPECT_EQ(deals[0].updated_time, make_datetime(2023, 11, 30, 12, 0, 0));
}

}  // namespace
}  // namespace orbrix::wintest
