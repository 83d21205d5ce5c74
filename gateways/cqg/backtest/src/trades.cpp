#include "orbrix/backtest/trades.hpp"

#include <fmt/format.h>

#include <cmath>
#include <deque>
#include <stdexcept>

namespace orbrix::backtest {

namespace {

// An open lot: what is left of one opening deal.
struct Lot {
  std::int64_t quantity = 0;  // still open
  double price = 0;
  cqgsim::VenueTime time{};
  double fee_per_contract = 0;
};

struct Book {
  bool long_side = true;
  std::deque<Lot> lots;
};

double fee_per_contract(const Deal& d) {
  return d.quantity > 0 ? d.commission / static_cast<double>(d.quantity) : 0;
}

}  // namespace

std::vector<Trade> match_trades(const std::vector<Deal>& deals,
                                const std::map<std::string, ContractTerms, std::less<>>& terms) {
  std::map<std::string, Book, std::less<>> books;
  std::vector<Trade> trades;
  for (const auto& d : deals) {
    const auto t = terms.find(d.symbol);
    if (t == terms.end() || !(t->second.tick_size > 0) || !(t->second.tick_value > 0)) {
      throw std::invalid_argument(
          fmt::format("no contract terms for {}: its trades cannot be valued", d.symbol));
    }
    const ContractTerms& c = t->second;
    Book& book = books[d.symbol];
    std::int64_t left = d.quantity;
    const double exit_fee = fee_per_contract(d);
    // Close the oldest lots on the other side first.
    while (left > 0 && !book.lots.empty() && book.long_side != d.buy) {
      Lot& lot = book.lots.front();
      const std::int64_t closed = std::min(left, lot.quantity);
      // In whole ticks, so the money is exact for prices on the grid.
      const double ticks = std::round((d.price - lot.price) / c.tick_size);
      const double gross =
          (book.long_side ? ticks : -ticks) * c.tick_value * static_cast<double>(closed);
      const double fees = (lot.fee_per_contract + exit_fee) * static_cast<double>(closed);
      trades.push_back({.symbol = d.symbol,
                        .long_side = book.long_side,
                        .quantity = closed,
                        .entry_time = lot.time,
                        .entry_price = lot.price,
                        .exit_time = d.time,
                        .exit_price = d.price,
                        .pnl = gross - fees,
                        .fees = fees});
      lot.quantity -= closed;
      left -= closed;
      if (lot.quantity == 0) {
        book.lots.pop_front();
      }
    }
    if (left > 0) {
      if (book.lots.empty()) {
        book.long_side = d.buy;
      }
      book.lots.push_back(
          {.quantity = left, .price = d.price, .time = d.time, .fee_per_contract = exit_fee});
    }
  }
  return trades;
}

std::map<std::string, ContractTerms, std::less<>> contract_terms(
    const cqgsim::AccountReport& account) {
  std::map<std::string, ContractTerms, std::less<>> out;
  for (const auto& p : account.positions) {
    out[p.symbol] = {.tick_size = p.tick_size, .tick_value = p.tick_value};
  }
  return out;
}

}  // namespace orbrix::backtest
