#include "orbrix/cqgsim/synthetic_history.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdio>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "venue/market/catalogue.hpp"
#include "venue/market/random.hpp"
#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim {

namespace {

struct Walk {
  std::string symbol;
  double tick = 0;
  int decimals = 0;  // enough to write every price of the grid exactly
  venue::Ticks bid = 0;
  venue::Ticks spread = 1;
  venue::Timestamp next{};
};

// The decimals that write every multiple of `tick` exactly (0.03125: 5).
int decimals_of(double tick) {
  int d = 0;
  for (double scaled = tick; d < 12 && std::abs(scaled - std::round(scaled)) > 1e-9 * scaled;
       scaled *= 10) {
    ++d;
  }
  return d;
}

struct FileCloser {
  void operator()(std::FILE* f) const noexcept { std::fclose(f); }
};

}  // namespace

std::size_t write_synthetic_history(const std::filesystem::path& path,
                                    const SyntheticHistory& shape) {
  if (shape.to <= shape.from) {
    throw std::invalid_argument("a synthetic history needs its end after its start");
  }
  if (shape.mean_interval < std::chrono::milliseconds(1)) {
    throw std::invalid_argument("a synthetic history needs a mean interval of 1 ms or more");
  }
  venue::Rng rng(shape.seed);
  const double mean_ns = std::chrono::duration<double, std::nano>(shape.mean_interval).count();
  const auto gap = [&] {
    return venue::Duration(static_cast<std::int64_t>(std::max(1.0, rng.exponential(mean_ns))));
  };
  std::vector<Walk> walks;
  for (const auto& symbol : shape.symbols) {
    const auto contract = venue::Catalogue::standard_contract(symbol);
    if (!contract) {
      throw std::invalid_argument(
          fmt::format("a synthetic history of {}, which the simulator does not list", symbol));
    }
    Walk w{.symbol = symbol,
           .tick = contract->tick_size,
           .decimals = decimals_of(contract->tick_size),
           .bid = contract->initial_price,
           .spread = std::max<venue::Ticks>(1, contract->spread_ticks),
           .next = venue::Timestamp(shape.from) + gap()};
    walks.push_back(w);
  }
  std::unique_ptr<std::FILE, FileCloser> out(std::fopen(path.c_str(), "wb"));
  if (!out) {
    throw std::runtime_error(fmt::format("cannot write {}", path.string()));
  }
  std::string text = "symbol,ts_event,bid_price,ask_price,bid_size,ask_size,last_price,last_size\n";
  std::size_t rows = 0;
  const venue::Timestamp end(shape.to);
  for (;;) {
    Walk* w = nullptr;
    for (auto& candidate : walks) {
      if (!w || candidate.next < w->next) {
        w = &candidate;
      }
    }
    if (!w || w->next >= end) {
      break;
    }
    // A step of the touch by up to a tick either way; now and then a trade
    // at one side.
    w->bid += rng.uniform_int(-1, 1);
    const auto ask = w->bid + w->spread;
    auto it = std::back_inserter(text);
    fmt::format_to(it, "{},{},{:.{}f},{:.{}f},{},{},", w->symbol, venue::format_timestamp(w->next),
                   static_cast<double>(w->bid) * w->tick, w->decimals,
                   static_cast<double>(ask) * w->tick, w->decimals, rng.uniform_int(1, 50),
                   rng.uniform_int(1, 50));
    if (rng.chance(0.3)) {
      const auto price = rng.chance(0.5) ? w->bid : ask;
      fmt::format_to(it, "{:.{}f},{}\n", static_cast<double>(price) * w->tick, w->decimals,
                     rng.uniform_int(1, 20));
    } else {
      text.push_back(',');
      text.push_back('\n');
    }
    ++rows;
    w->next += gap();
    if (text.size() > (1u << 20)) {
      if (std::fwrite(text.data(), 1, text.size(), out.get()) != text.size()) {
        throw std::runtime_error(fmt::format("cannot write {}", path.string()));
      }
      text.clear();
    }
  }
  if (std::fwrite(text.data(), 1, text.size(), out.get()) != text.size() ||
      std::fflush(out.get()) != 0) {
    throw std::runtime_error(fmt::format("cannot write {}", path.string()));
  }
  return rows;
}

}  // namespace orbrix::cqgsim
