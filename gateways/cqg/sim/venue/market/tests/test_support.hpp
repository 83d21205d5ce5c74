#pragma once

#include <algorithm>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "venue/market/history_file.hpp"
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

// A history held in memory, opened as often as it is read.
inline HistoryOpener text_history(std::string text) {
  auto shared = std::make_shared<const std::string>(std::move(text));
  return [shared] { return std::make_unique<std::istringstream>(*shared); };
}

// `text` checked as the history of `symbol` (empty: a file with a symbol
// column), ready to replay.
inline std::shared_ptr<const HistoryFile> checked(std::string text, std::string_view symbol,
                                                  std::string source = "replay.csv") {
  return std::make_shared<const HistoryFile>(
      check_history(text_history(std::move(text)), std::move(source), symbol));
}

// A history of `minutes` minutes of EP, GCE and CLE quotes, one file in time
// order, a row every 400 ms, two rows at one time now and then.
inline std::string three_instruments(int minutes) {
  std::string s = "symbol,ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n";
  const auto t0 = at("2026-12-07T14:25:00Z");
  const char* names[] = {"EP", "GCE", "CLE"};
  const double ticks[] = {0.25, 0.1, 0.01};
  const int levels[] = {24200, 26500, 7000};
  for (int i = 0; i < minutes * 150; ++i) {
    const int k = i % 3;
    // CLE now and then at the time of GCE: two rows at one time.
    const auto t = (t0 + (i / 3) * std::chrono::milliseconds(1200) +
                    (k == 2 && i % 5 == 0 ? 1 : k) * std::chrono::milliseconds(400))
                       .time_since_epoch();
    const int bid = levels[k] + (i * 7 % 13);
    s += fmt::format("{},{},{:.2f},{:.2f},{},{},{:.2f},1\n", names[k], t.count(), bid * ticks[k],
                     (bid + 1) * ticks[k], i % 11 + 1, i % 7 + 1, bid * ticks[k]);
  }
  return s;
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
