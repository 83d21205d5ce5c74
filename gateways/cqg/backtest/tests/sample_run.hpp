#pragma once

// What the backtest's tests share: a file's bytes, and the options of a run
// over the EP sample with a fill model that costs something.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "orbrix/backtest/backtest.hpp"

namespace orbrix::backtest::testing {

inline std::string read_file(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

inline BacktestOptions sample_options() {
  BacktestOptions o;
  o.histories = {{"EP", ORBRIX_SAMPLE_QUOTES}};
  o.warm_up = std::chrono::minutes(8);
  o.fill_model.slippage_ticks = 1;
  o.fill_model.commission_per_contract = 2.5;
  return o;
}

}  // namespace orbrix::backtest::testing
