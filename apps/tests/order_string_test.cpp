#include "order_string.hpp"

#include <gtest/gtest.h>

namespace orbrix::demo {
namespace {

const Security kEp = Futures("EP", "E-mini S&P 500");

std::optional<Security> find(std::string_view code) {
  return code == "EP" ? std::optional<Security>(kEp) : std::nullopt;
}

TEST(OrderString, ReadsTheEightPiecesOfEachOrderType) {
  auto p = parse_order_string("EP,2,l,o,l,CQG,6050.25,None", find, "CQG");
  EXPECT_EQ(p.order.security, kEp);
  EXPECT_EQ(p.order.quantity, 2);
  EXPECT_EQ(p.order.direction, Direction::LONG);
  EXPECT_EQ(p.order.order_type, OrderType::LIMIT);
  EXPECT_EQ(p.order.price, 6050.25);
  EXPECT_EQ(p.offset, Offset::Open);
  p = parse_order_string(" EP , 1 , s , c , m , CQG , None , None ", find, "CQG");
  EXPECT_EQ(p.order.order_type, OrderType::MARKET);
  EXPECT_EQ(p.order.direction, Direction::SHORT);
  EXPECT_EQ(p.offset, Offset::Close);
  p = parse_order_string("EP,1,s,c,s,CQG,None,6000", find, "CQG");
  EXPECT_EQ(p.order.order_type, OrderType::STOP);
  EXPECT_EQ(p.order.stop_price, 6000);
}

TEST(OrderString, AMalformedStringIsRefusedNamingThePiece) {
  auto error_of = [](std::string_view text) {
    try {
      parse_order_string(text, find, "CQG");
    } catch (const std::invalid_argument& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_NE(error_of("EP,1,l,o,m,CQG,None").find("this one has 7"), std::string::npos);
  EXPECT_EQ(error_of("XX,1,l,o,m,CQG,None,None"),
            "piece 1 (security_code): 'XX' is not a security this engine trades");
  EXPECT_EQ(error_of("EP,0,l,o,m,CQG,None,None"),
            "piece 2 (quantity): '0' is not a whole number above 0");
  EXPECT_EQ(error_of("EP,1.5,l,o,m,CQG,None,None"),
            "piece 2 (quantity): '1.5' is not a whole number above 0");
  EXPECT_EQ(error_of("EP,1,x,o,m,CQG,None,None"), "piece 3 (direction): 'x' is not l or s");
  EXPECT_EQ(error_of("EP,1,l,q,m,CQG,None,None"), "piece 4 (offset): 'q' is not o or c");
  EXPECT_EQ(error_of("EP,1,l,o,z,CQG,None,None"), "piece 5 (order_type): 'z' is not m, l or s");
  EXPECT_EQ(error_of("EP,1,l,o,m,IB,None,None"),
            "piece 6 (gateway_name): 'IB' is not a gateway of this engine (it has CQG)");
  EXPECT_EQ(error_of("EP,1,l,o,l,CQG,abc,None"), "piece 7 (price): 'abc' is not a number or None");
  EXPECT_EQ(error_of("EP,1,l,o,l,CQG,None,None"),
            "piece 7 (price): 'None' is missing: a limit order needs a price");
  EXPECT_EQ(error_of("EP,1,l,o,s,CQG,1,None"),
            "piece 8 (stop_price): 'None' is missing: a stop order needs a stop price");
  EXPECT_EQ(error_of("EP,1,l,o,l,CQG,nan,None"), "piece 7 (price): 'nan' is not a number or None");
  EXPECT_EQ(error_of("EP,1,s,o,l,CQG,inf,None"), "piece 7 (price): 'inf' is not a number or None");
  EXPECT_EQ(error_of("EP,1,s,o,l,CQG,-6000,None"),
            "piece 7 (price): '-6000' is not a price above 0 or None");
  EXPECT_EQ(error_of("EP,1,l,o,s,CQG,None,0"),
            "piece 8 (stop_price): '0' is not a price above 0 or None");
  EXPECT_EQ(error_of("EP,1,l,o,s,CQG,None,1e400"),
            "piece 8 (stop_price): '1e400' is not a number or None");
}

}  // namespace
}  // namespace orbrix::demo
