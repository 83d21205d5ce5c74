// The order lifecycle: ids, statuses, rejections, cancels, held answers,
// the venue clock and reproducibility.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "broker_fixture.hpp"

namespace orbrix::cqgsim::venue {
namespace {

using namespace trading_test;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(VenueTradingOrders, AcceptedOrderIsAddedInTransitThenWorking) {
  PaperBroker broker(instruments());
  OrderRequest r = request(OrderType::Limit, Side::Buy, 2, 15'000);
  r.user_tag = "mine";
  const auto first = broker.submit(r, at(1));
  EXPECT_THAT(describe(first.events), ElementsAre("added 0", "order 0 working 0/2"));
  const auto second = broker.submit(r, at(2));

  const Order& order = broker.order("00000000-0000-4000-8000-000000000001");
  EXPECT_EQ(order.serial, 1u);
  EXPECT_EQ(order.status, OrderStatus::Working);
  EXPECT_EQ(order.request.user_tag, "mine");
  EXPECT_EQ(order.remaining_quantity, 2);
  EXPECT_EQ(order.placed_at, at(1));
  ASSERT_EQ(broker.submitted_count(), 2u);
  EXPECT_EQ(broker.order_at(second.order).id, "00000000-0000-4000-8000-000000000002");
  EXPECT_THROW(broker.order("nope"), std::out_of_range);
}

TEST(VenueTradingOrders, EveryRejectionEndsRejectedWithItsReason) {
  struct Case {
    OrderRequest request;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {request(OrderType::Market, Side::Buy, 0), "quantity must be positive, got 0"},
      {request(OrderType::Market, Side::Sell, -3), "quantity must be positive, got -3"},
      {request(OrderType::Market, Side::Buy, 2'000'000), "above the maximum"},
      {request(OrderType::Market, Side::Buy, 1, {}, {}, kEP, 999), "unknown account 999"},
      {request(OrderType::Market, Side::Buy, 1, {}, {}, 7), "unknown instrument 7"},
      {request(OrderType::Limit, Side::Buy, 1), "a limit order needs a limit price"},
      {request(OrderType::Stop, Side::Buy, 1), "a stop order needs a stop price"},
      {request(OrderType::StopLimit, Side::Buy, 1, {}, 100), "needs a limit price"},
      {request(OrderType::StopLimit, Side::Buy, 1, 100), "needs a stop price"},
  };
  PaperBroker broker(instruments());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    const auto result = broker.submit(c.request, at(1));
    const Order& order = broker.order_at(result.order);
    EXPECT_EQ(describe(result.events).back(),
              fmt::format("order {} rejected 0/{}", result.order, c.request.quantity));
    EXPECT_EQ(order.status, OrderStatus::Rejected);
    EXPECT_THAT(order.reject_reason, HasSubstr(c.reason));
    EXPECT_EQ(order.filled_quantity + order.remaining_quantity, order.request.quantity);
    EXPECT_FALSE(order.id.empty());
  }
  // Nothing rejected is left to match.
  EXPECT_TRUE(broker.on_market(kEP, quote(15'000, 15'001, 15'000), at(2)).empty());
}

TEST(VenueTradingOrders, RejectNextIsOneShotWithTheOwnersReason) {
  PaperBroker broker(instruments());
  broker.reject_next_order("risk limit reached");
  const auto rejected = broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  EXPECT_EQ(broker.order_at(rejected.order).reject_reason, "risk limit reached");
  const auto next = broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  EXPECT_EQ(broker.order_at(next.order).status, OrderStatus::Working);
}

TEST(VenueTradingOrders, CancelTakesAWorkingOrderOutOfTheBook) {
  PaperBroker broker(instruments());
  const auto submitted = broker.submit(request(OrderType::Limit, Side::Buy, 1, 15'000), at(1));
  const std::string id = broker.order_at(submitted.order).id;
  EXPECT_THAT(describe(broker.cancel(id, at(2))),
              ElementsAre("order 0 cancel pending 0/1", "order 0 cancelled 0/1"));
  EXPECT_EQ(broker.order(id).cancel_requested_at, at(2));
  EXPECT_EQ(broker.order(id).final_at, at(2));
  EXPECT_TRUE(broker.on_market(kEP, quote(14'990, 14'995), at(3)).empty());
}

TEST(VenueTradingOrders, CancelErrorsNameTheOrderAndChangeNothing) {
  PaperBroker broker(instruments());
  try {
    broker.cancel("00000000-0000-4000-8000-000000000009", at(1));
    FAIL() << "no error";
  } catch (const std::out_of_range& e) {
    EXPECT_THAT(e.what(), HasSubstr("00000000-0000-4000-8000-000000000009"));
  }

  const auto filled = broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  broker.on_market(kEP, quote(15'000, 15'001), at(2));
  const auto cancelled = broker.submit(request(OrderType::Limit, Side::Buy, 1, 1), at(2));
  broker.cancel(broker.order_at(cancelled.order).id, at(2));
  const auto rejected = broker.submit(request(OrderType::Market, Side::Buy, 0), at(2));

  for (const auto& [index, word] :
       {std::pair{filled.order, "filled"}, std::pair{cancelled.order, "cancelled"},
        std::pair{rejected.order, "rejected"}}) {
    const Order before = broker.order_at(index);
    try {
      broker.cancel(before.id, at(3));
      FAIL() << "no error for " << word;
    } catch (const std::invalid_argument& e) {
      EXPECT_THAT(e.what(), HasSubstr(fmt::format("already {}", word)));
    }
    EXPECT_EQ(broker.order_at(index).status, before.status);
  }
}

TEST(VenueTradingOrders, HeldOrderWaitsInTransitForTheOwnersAnswer) {
  TradingOptions options;
  options.accept_on_submit = false;
  PaperBroker broker(instruments(), default_accounts(), options);
  const auto held = broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  EXPECT_THAT(describe(held.events), ElementsAre("added 0"));
  const auto dropped = broker.submit(request(OrderType::Market, Side::Buy, 1), at(1));
  const std::string id = broker.order_at(held.order).id;

  // In transit, it is not in the book yet.
  EXPECT_TRUE(broker.on_market(kEP, quote(15'000, 15'001), at(2)).empty());
  EXPECT_THAT(describe(broker.accept_order(id, at(3))), ElementsAre("order 0 working 0/1"));
  EXPECT_THROW(broker.accept_order(id, at(3)), std::invalid_argument);
  EXPECT_EQ(broker.on_market(kEP, quote(15'000, 15'001), at(4)).size(), 2u);

  const std::string dropped_id = broker.order_at(dropped.order).id;
  broker.reject_order(dropped_id, "no answer from the exchange", at(5));
  EXPECT_EQ(broker.order(dropped_id).status, OrderStatus::Rejected);
  EXPECT_EQ(broker.order(dropped_id).reject_reason, "no answer from the exchange");
  EXPECT_THROW(broker.accept_order("x", at(5)), std::out_of_range);
}

TEST(VenueTradingOrders, TimeGoingBackwardsIsRefusedWithoutChange) {
  PaperBroker broker(instruments());
  broker.submit(request(OrderType::Market, Side::Buy, 1), at(10));
  EXPECT_THROW(broker.submit(request(OrderType::Market, Side::Buy, 1), at(9)),
               std::invalid_argument);
  EXPECT_THROW(broker.on_market(kEP, quote(1, 2), at(9)), std::invalid_argument);
  EXPECT_EQ(broker.submitted_count(), 1u);
  EXPECT_THROW(broker.on_market(5, quote(1, 2), at(11)), std::out_of_range);
}

TEST(VenueTradingOrders, AccountsAreConfigurableAndCheckedAtConstruction) {
  PaperBroker defaults(instruments());
  EXPECT_GE(defaults.accounts().size(), 2u);
  EXPECT_EQ(defaults.account(100001).config.currency, "USD");
  EXPECT_THROW(defaults.account(1), std::out_of_range);

  PaperBroker own(instruments(), {{42, "Mine", "EUR", 5'000, 100}});
  EXPECT_EQ(own.account(42).config.name, "Mine");
  EXPECT_EQ(own.accounts().size(), 1u);
  EXPECT_THROW(PaperBroker(instruments(), {{42, "a"}, {42, "b"}}), std::invalid_argument);
  std::vector<InstrumentSpec> bad = instruments();
  bad[1].tick_value = 0;
  EXPECT_THROW(PaperBroker(bad, default_accounts()), std::invalid_argument);
}

// A session touching every path, as lines; two brokers must agree exactly.
std::vector<std::string> scripted_session() {
  TradingOptions options;
  options.cap_fill_at_displayed_size = true;
  options.commission_per_contract = 2.5;
  PaperBroker broker(instruments(), default_accounts(), options);
  std::vector<std::string> log;
  std::vector<Fill> fills;
  const auto record = [&](std::span<const TradingEvent> events) {
    for (const auto& line : describe(events)) {
      log.push_back(line);
    }
    for (const Fill& fill : fills_in(events)) {
      fills.push_back(fill);
    }
  };
  record(broker.submit(request(OrderType::Market, Side::Buy, 5), at(1)).events);
  record(broker.submit(request(OrderType::Limit, Side::Sell, 3, 15'010), at(1)).events);
  record(broker.submit(request(OrderType::Stop, Side::Sell, 2, {}, 14'990), at(1)).events);
  record(
      broker.submit(request(OrderType::Market, Side::Buy, 4, {}, {}, kCL, 100002), at(1)).events);
  record(broker.on_market(kEP, quote(15'000, 15'002, 15'001, 3, 3), at(2)));
  record(broker.on_market(kCL, quote(7'000, 7'001, 7'000), at(2)));
  record(broker.on_market(kEP, quote(15'010, 15'012, 15'011, 10, 10), at(3)));
  record(broker.on_market(kEP, quote(14'980, 14'982, 14'985), at(4)));
  for (const Fill& fill : fills) {
    log.push_back(fmt::format("fill {} order {} {} @ {} x {}", fill.id,
                              broker.order_at(fill.order).id, to_string(fill.side), fill.price,
                              fill.quantity));
  }
  return log;
}

TEST(VenueTradingOrders, TheSameCallsGiveTheSameIdsAndEvents) {
  const auto first = scripted_session();
  EXPECT_EQ(first, scripted_session());
  EXPECT_THAT(first, ::testing::Contains("fill 1 order 00000000-0000-4000-8000-000000000001 buy @ "
                                         "15002 x 3"));
}

}  // namespace
}  // namespace orbrix::cqgsim::venue
