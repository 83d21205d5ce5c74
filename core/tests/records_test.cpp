#include <string>

#include <gtest/gtest.h>

#include "orbrix/core/balance.hpp"
#include "orbrix/core/bar.hpp"
#include "orbrix/core/order.hpp"
#include "orbrix/core/order_book.hpp"
#include "orbrix/core/order_events.hpp"
#include "orbrix/core/position.hpp"
#include "orbrix/core/quote.hpp"

namespace orbrix {
namespace {

const Futures kEs("EPZ23", "E-mini", 50, Exchange::SMART, "2023-12", "USD");
const std::string kEsText =
    "Futures(code=\"EPZ23\", security_name=\"E-mini\", lot_size=50, exchange=SMART, "
    "expiry_date=\"2023-12\", quote_currency=\"USD\")";

TEST(RecordsTest, QuoteCopyWithChangesSetsOnlyTheNamedFields) {
  const DateTime t0 = make_datetime(2024, 3, 5, 14, 7, 9);
  const DateTime t1 = make_datetime(2024, 3, 5, 14, 7, 10);
  const Quote q({.security = kEs, .exchange = kEs.exchange(), .datetime = t0});
  EXPECT_EQ(q.last_price() + q.bid_price() + q.ask_price() + q.open_price() + q.high_price() +
                q.low_price() + q.prev_close_price(),
            0);

  const Quote q1 = q.with({.bid_price = 99.5, .datetime = t1});
  const Quote q2 = q1.with({.ask_price = 100});
  EXPECT_EQ(q.bid_price(), 0);  // the original is untouched
  EXPECT_EQ(q.datetime(), t0);
  EXPECT_EQ(q1.bid_price(), 99.5);
  EXPECT_EQ(q1.ask_price(), 0);
  EXPECT_EQ(q1.datetime(), t1);
  EXPECT_EQ(q2.bid_price(), 99.5);
  EXPECT_EQ(q2.ask_price(), 100);
  EXPECT_EQ(q2.datetime(), t1);  // not named, so copied
  EXPECT_EQ(q2.security(), kEs);
  EXPECT_EQ(q2.exchange(), Exchange::SMART);
  EXPECT_EQ(q2, q1.with({.ask_price = 100}));

  const Quote all = q.with({.last_price = 1,
                            .bid_price = 2,
                            .ask_price = 3,
                            .open_price = 4,
                            .high_price = 5,
                            .low_price = 6,
                            .prev_close_price = 7});
  EXPECT_EQ(to_text(all), "Quote(security=" + kEsText +
                              ", exchange=SMART, datetime=2024-03-05 14:07:09, last_price=1, "
                              "bid_price=2, ask_price=3, open_price=4, high_price=5, low_price=6, "
                              "prev_close_price=7)");
}

TEST(RecordsTest, OrderBookCopyWithChangesSetsOnlyTheNamedFields) {
  const DateTime t0 = make_datetime(2024, 3, 5, 14, 7, 9);
  const OrderBook b(kEs, kEs.exchange(), t0);
  const OrderBook ask = b.with({.ask_price_1 = 101, .ask_volume_1 = 3});
  const OrderBook both = ask.with({.bid_price_1 = 100, .bid_volume_1 = 5});
  EXPECT_EQ(b.ask_price_1(), 0);
  EXPECT_EQ(ask.ask_price_1(), 101);
  EXPECT_EQ(ask.ask_volume_1(), 3);
  EXPECT_EQ(ask.bid_price_1(), 0);
  EXPECT_EQ(both.bid_volume_1(), 5);
  EXPECT_EQ(both.ask_volume_1(), 3);
  EXPECT_EQ(both.datetime(), t0);
  EXPECT_EQ(to_text(both), "OrderBook(security=" + kEsText +
                               ", exchange=SMART, datetime=2024-03-05 14:07:09, bid_price_1=100, "
                               "ask_price_1=101, bid_volume_1=5, ask_volume_1=3)");
}

TEST(RecordsTest, BarIsChangedInPlaceAndWritesEveryField) {
  Bar bar{.datetime = make_datetime(2024, 3, 5, 14, 7),
          .security = kEs,
          .open = -2147483648.0,
          .high = 4501.5,
          .low = 4499.25,
          .close = 4500,
          .volume = 12};
  EXPECT_EQ(to_text(bar), "Bar(datetime=2024-03-05 14:07:00, security=" + kEsText +
                              ", open=-2147483648, high=4501.5, low=4499.25, close=4500, "
                              "volume=12)");
  bar.open = 4500.75;
  EXPECT_NE(to_text(bar).find("open=4500.75,"), std::string::npos);
}

TEST(RecordsTest, OrderTextFormNamesEveryField) {
  Order order(kEs, OrderType::STOP, Direction::SHORT, 2, 4500.25, 4490);
  EXPECT_EQ(to_text(order), "Order(security=" + kEsText +
                                ", order_type=STOP, direction=SHORT, quantity=2, price=4500.25, "
                                "stop_price=4490, order_id=\"\", status=UNKNOWN)");
  EXPECT_EQ(to_text(order).find('\n'), std::string::npos);
}

TEST(RecordsTest, EnumTextForms) {
  EXPECT_EQ(to_text(Exchange::SMART), "SMART");
  EXPECT_EQ(to_text(Exchange::IDEALPRO), "IDEALPRO");
  EXPECT_EQ(to_text(Exchange::SEHK), "SEHK");
  EXPECT_EQ(to_text(Direction::LONG) + to_text(Direction::SHORT), "LONGSHORT");
  EXPECT_EQ(to_text(OrderType::LIMIT) + to_text(OrderType::MARKET) + to_text(OrderType::STOP),
            "LIMITMARKETSTOP");
  EXPECT_EQ(to_text(OrderStatus::UNKNOWN), "UNKNOWN");
  EXPECT_EQ(to_text(OrderStatus::SUBMITTED), "SUBMITTED");
  EXPECT_EQ(to_text(OrderStatus::FILLED), "FILLED");
  EXPECT_EQ(to_text(OrderStatus::CANCELLED), "CANCELLED");
  EXPECT_EQ(to_text(OrderStatus::FAILED), "FAILED");
  // A value outside the members still reads as something a message can name.
  EXPECT_EQ(to_text(static_cast<OrderType>(7)), "OrderType(7)");
  EXPECT_EQ(to_text(static_cast<Direction>(2)), "Direction(2)");
}

TEST(RecordsTest, OrderUpdateAndDealWriteTheirKeysInOrder) {
  const DateTime t = make_datetime(2024, 3, 5, 14, 7, 9);
  const OrderUpdate update{.order_id = "A1",
                           .updated_time = t,
                           .filled_avg_price = 99.5,
                           .filled_quantity = 2,
                           .status = OrderStatus::FILLED};
  EXPECT_EQ(to_text(update),
            R"({"order_id": "A1", "updated_time": 2024-03-05 14:07:09, "filled_avg_price": 99.5, )"
            R"("filled_quantity": 2, "status": FILLED})");
  const Deal deal{.deal_id = "F7",
                  .order_id = "A1",
                  .updated_time = t,
                  .filled_avg_price = 99.5,
                  .filled_quantity = 1};
  EXPECT_EQ(to_text(deal),
            R"({"deal_id": "F7", "order_id": "A1", "updated_time": 2024-03-05 14:07:09, )"
            R"("filled_avg_price": 99.5, "filled_quantity": 1})");
}

TEST(RecordsTest, BalanceAndPositionTextForms) {
  AccountBalance balance;
  EXPECT_EQ(balance.cash_by_currency, std::nullopt);
  EXPECT_EQ(balance.max_power_short, std::nullopt);
  balance.cash = 1000.5;
  balance.available_cash = 900;
  balance.cash_by_currency = std::map<std::string, double>{{"HKD", 1}, {"USD", 2.5}};
  EXPECT_EQ(to_text(balance),
            "AccountBalance(cash=1000.5, cash_by_currency={\"HKD\": 1, \"USD\": 2.5}, "
            "available_cash=900, max_power_short=none, net_cash_power=0, maintenance_margin=0, "
            "realized_pnl=0, unrealized_pnl=0)");

  const PositionData position{
      .security = Stock("0700", "Tencent"),
      .direction = Direction::SHORT,
      .holding_price = 300.2,
      .quantity = 3,
      .update_time = make_datetime(2024, 3, 5, 9, 30, 0, std::chrono::microseconds(5))};
  EXPECT_EQ(to_text(position),
            "PositionData(security=Stock(code=\"0700\", security_name=\"Tencent\", lot_size=1, "
            "exchange=SEHK, expiry_date=none, quote_currency=\"\"), direction=SHORT, "
            "holding_price=300.2, quantity=3, update_time=2024-03-05 09:30:00.000005)");
}

}  // namespace
}  // namespace orbrix
