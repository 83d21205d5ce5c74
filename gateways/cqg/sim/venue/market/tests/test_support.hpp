#pragma once

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "venue/market/market.hpp"
#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim::venue::testing {

inline Timestamp at(std::string_view iso) {
  const auto t = parse_timestamp(iso);
  if (!t) {
    throw std::invalid_argument("bad test time " + std::string(iso));
  }
  return *t;
}

// An event written out as one line, so whole runs compare with ==.
inline std::string describe(const MarketEvent& e) {
  std::string s = fmt::format("{} {} |", e.instrument, e.time.time_since_epoch().count());
  for (const QuoteChange& q : e.quotes) {
    s += fmt::format(" {}={}x{}{}", to_string(q.type), q.price, q.volume, q.valid ? "" : "!");
  }
  s += " |";
  for (const Tick& t : e.ticks) {
    s += fmt::format(" {}={}x{}", to_string(t.type), t.price, t.volume);
  }
  s += " |";
  for (const BarUpdate& b : e.bars) {
    s += fmt::format(" {}{} {}/{}/{}/{} v{}", b.kind == BarUpdate::Kind::Added ? "+" : "~",
                     to_string(b.period), b.bar.open, b.bar.high, b.bar.low, b.bar.close,
                     b.bar.volume);
  }
  return s;
}

// Every event of a run, described, for the given instruments (all if empty).
inline std::vector<std::string> record_run(Market& m, Timestamp until,
                                           std::vector<InstrumentId> only = {}) {
  std::vector<std::string> out;
  m.advance_to(until, [&](const MarketEvent& e) {
    if (only.empty() || std::find(only.begin(), only.end(), e.instrument) != only.end()) {
      out.push_back(describe(e));
    }
  });
  return out;
}

}  // namespace orbrix::cqgsim::venue::testing
