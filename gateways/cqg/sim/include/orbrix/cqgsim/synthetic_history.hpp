#pragma once

// A made-up recorded history, for tests, benchmarks and trying a backtest
// without real data: a multi-symbol quotes-and-trades file (with a symbol
// column) of listed instruments, each a random walk on its tick grid from
// its usual price, rows at random times with the mean interval given,
// interleaved in time order. The same arguments write the same file.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orbrix::cqgsim {

struct SyntheticHistory {
  std::vector<std::string> symbols;  // short symbols the simulator lists
  std::chrono::sys_seconds from{};
  std::chrono::sys_seconds to{};
  // Mean time between two rows of one symbol.
  std::chrono::milliseconds mean_interval{1000};
  std::uint64_t seed = 1;
};

// Writes the file; returns the number of rows. Throws std::invalid_argument
// for a symbol the simulator does not list, an empty span or an interval
// below 1 ms, and std::runtime_error when the file cannot be written.
std::size_t write_synthetic_history(const std::filesystem::path& path,
                                    const SyntheticHistory& shape);

}  // namespace orbrix::cqgsim
