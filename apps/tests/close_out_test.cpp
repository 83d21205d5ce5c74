// The close-out over the simulator on its manual clock: market orders fill
// only when the clock moves, so a close-out that read the positions before
// the last fill was reported would see them wrong.
#include "close_out.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>

#include "bot_request_server.hpp"
#include "demo_gateway.hpp"
#include "demo_link.hpp"
#include "orbrix/cqg/api_host.hpp"
#include "orbrix/cqg/testing/captured_output.hpp"
#include "orbrix/cqgsim/simulator.hpp"

namespace orbrix::demo {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kAccount = 100001;

class CloseOut : public ::testing::Test {
 protected:
  CloseOut() {
    sim.controls().set_config({.manual_clock = true});
    sim.controls().set_gateway(cqgsim::GatewayBehaviour::after(0ms));
    sim.controls().set_account_reload(cqgsim::AnswerBehaviour::after(0ms));
    link = host.Init<DemoLink>(nullptr);
    gateway.set_apiHost(&host);
    link->Init(gateway);
    link->set_timeout(5s);
    link->set_account_reload_pause(1ms);
    // Recovery waits an hour before its first log-on: a drop stays a drop.
    link->enable_recovery({.first_delay = 1h, .max_delay = 1h, .max_attempts = 1});
    gateway.expect_recovery();
    link->Logon("demo", "demo");
    link->subscribe_account_and_positions(kAccount);
    for (const char* s : {"EP", "ENQ"}) {
      link->subscribe_quote(s);
      link->subscribe_orderbook(s);
    }
    sim.driver().advance(2s);  // quotes and a book to price against
  }
  ~CloseOut() override { host.Shutdown(); }

  std::string place(const Order& order) {
    const auto id = link->place_order(order);
    gateway.order_placed(id, order);
    return id;
  }
  // Two resting EP orders (a limit far below, a stop far below), a market
  // buy of EP and a market sell of ENQ, none of the market ones filled yet.
  void trade() {
    const auto& ep = gateway.security("EP");
    const auto book = gateway.cqg_orderbooks().find(ep);
    ASSERT_TRUE(book);
    const double tick = book->ask_price_1() - book->bid_price_1();
    ASSERT_GT(tick, 0);
    place(Order(ep, OrderType::LIMIT, Direction::LONG, 1, book->bid_price_1() - 200 * tick));
    place(Order(ep, OrderType::STOP, Direction::SHORT, 1, 0, book->bid_price_1() - 400 * tick));
    place(Order(ep, OrderType::MARKET, Direction::LONG, 2));
    place(Order(gateway.security("ENQ"), OrderType::MARKET, Direction::SHORT, 1));
  }
  // One step: 200 ms of the market; false after `limit` steps.
  std::function<bool()> steps(int limit) {
    return [this, limit] {
      sim.driver().advance(200ms);
      return ++taken < limit;
    };
  }
  std::vector<std::string> said;
  std::function<void(const std::string&)> say() {
    return [this](const std::string& line) { said.push_back(line); };
  }

  cqgsim::ScopedSimulator sim;
  cqg::testing::CapturedOutput traced;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> lines{std::tmpfile(), &std::fclose};
  Console console{lines.get(), OutputLevel::quiet};
  DemoGateway gateway{{"EP", "ENQ"}, console};
  cqg::ApiHost host;
  std::shared_ptr<DemoLink> link;
  int taken = 0;
};

TEST_F(CloseOut, CancelsWhatWorksClosesWhatIsOpenAndReadsAfterTheClosingFills) {
  trade();
  sim.driver().advance(1s);  // the market orders fill: EP long 2, ENQ short 1
  const auto result = close_out(*link, gateway, steps(100), say());
  EXPECT_TRUE(result.flat);
  EXPECT_TRUE(result.working.empty());
  ASSERT_TRUE(result.positions);
  EXPECT_TRUE(result.positions->empty());
  EXPECT_TRUE(result.positions_error.empty());
  EXPECT_LT(taken, 100);

  // What the account holds, read anew, agrees.
  link->update_positions();
  EXPECT_TRUE(link->positions().empty());
  const auto orders = gateway.orders();
  ASSERT_EQ(orders.size(), 6u);  // four placed, two closing
  EXPECT_EQ(orders[0].status, OrderStatus::CANCELLED);
  EXPECT_EQ(orders[1].status, OrderStatus::CANCELLED);
  EXPECT_EQ(orders[2].status, OrderStatus::FILLED);
  EXPECT_EQ(orders[3].status, OrderStatus::FILLED);
  // Each position closed once, by the opposite side and its whole size:
  // the positions were read again only after the closing orders filled.
  std::map<std::string, std::pair<Direction, double>> closing;
  for (std::size_t i = 4; i < 6; ++i) {
    EXPECT_EQ(orders[i].order_type, OrderType::MARKET);
    EXPECT_EQ(orders[i].status, OrderStatus::FILLED);
    closing[orders[i].security.code()] = {orders[i].direction, orders[i].quantity};
  }
  EXPECT_EQ(closing, (std::map<std::string, std::pair<Direction, double>>{
                         {"ENQ", {Direction::LONG, 1}}, {"EP", {Direction::SHORT, 2}}}));
}

// Where the clock stands still while the engine stops (a backtest), the
// close-out returns once every position has its closing order instead of
// waiting out its bound; the orders fill when the clock moves again.
TEST_F(CloseOut, UntilTheClosingOrdersArePlacedReturnsWithThemWorking) {
  trade();
  sim.driver().advance(1s);  // the market orders fill: EP long 2, ENQ short 1
  int waits = 0;
  const auto result = close_out(
      *link, gateway, [&] { return ++waits < 100; }, say(), CloseOutUntil::closing_placed);
  EXPECT_LT(waits, 100);
  EXPECT_FALSE(result.flat);
  ASSERT_EQ(result.working.size(), 2u);
  for (const auto& o : result.working) {
    EXPECT_EQ(o.order_type, OrderType::MARKET);
  }
  sim.driver().advance(5s);  // EP's and ENQ's next quotes fill them
  link->update_positions();
  EXPECT_TRUE(link->positions().empty());
}

TEST_F(CloseOut, AMarketOrderNotYetFilledIsCancelledNotLeftToOpenAPosition) {
  trade();  // nothing has filled: the market has not moved since
  const auto result = close_out(*link, gateway, steps(100), say());
  EXPECT_TRUE(result.flat);
  sim.driver().advance(2s);
  link->update_positions();
  EXPECT_TRUE(link->positions().empty());
  const auto orders = gateway.orders();
  ASSERT_EQ(orders.size(), 4u);
  for (const auto& o : orders) {
    EXPECT_EQ(o.status, OrderStatus::CANCELLED) << to_text(o);
  }
}

TEST_F(CloseOut, AlreadyFlatEndsAtOnceWithoutAnOrder) {
  const auto result = close_out(*link, gateway, steps(100), say());
  EXPECT_TRUE(result.flat);
  EXPECT_EQ(taken, 0);
  EXPECT_TRUE(gateway.orders().empty());
  EXPECT_TRUE(said.empty());
}

TEST_F(CloseOut, NeverClaimsFlatWhileTheGatewayIsDownAndListsWhatIsLeft) {
  trade();
  sim.driver().advance(1s);  // the market orders fill: two positions open
  link->update_positions();
  ASSERT_EQ(link->positions().size(), 2u);
  sim.driver().drop_gateway();

  const auto result = close_out(*link, gateway, steps(10), say());
  EXPECT_FALSE(result.flat);
  EXPECT_EQ(taken, 10);  // bounded by its wait
  // The two resting orders still work; nothing was sent while down.
  ASSERT_EQ(result.working.size(), 2u);
  EXPECT_EQ(result.working[0].order_type, OrderType::LIMIT);
  EXPECT_EQ(result.working[1].order_type, OrderType::STOP);
  EXPECT_EQ(gateway.orders().size(), 4u);
  // The positions cannot be read while the session is down: not known, not
  // none.
  EXPECT_FALSE(result.positions);
  EXPECT_EQ(result.positions_error, "the gateway session is not ready");
  // Said once, not once a step.
  EXPECT_EQ(said,
            (std::vector<std::string>{"close  the gateway session is not ready; waiting for it"}));
}

}  // namespace
}  // namespace orbrix::demo
