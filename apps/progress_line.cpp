#include "progress_line.hpp"

#include <fmt/format.h>

#include <cmath>
#include <cstdint>

namespace orbrix::demo {

namespace {

// 1234567 as "1,234,567".
std::string grouped(std::uint64_t n) {
  std::string digits = fmt::format("{}", n);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) {
      out.push_back(',');
    }
    out.push_back(digits[i]);
  }
  return out;
}

}  // namespace

std::string time_left_text(double seconds) {
  if (!std::isfinite(seconds) || seconds < 0) {
    return "--:--";
  }
  const auto whole = static_cast<std::uint64_t>(std::ceil(seconds));
  const auto h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
  return h > 0 ? fmt::format("{}:{:02}:{:02}", h, m, s) : fmt::format("{}:{:02}", m, s);
}

std::string progress_text(const backtest::BacktestProgress& p) {
  return fmt::format("backtest  {:.1f} % of the data, {} rows, {} rows/s, {} left",
                     p.fraction * 100, grouped(p.rows),
                     grouped(static_cast<std::uint64_t>(std::max(p.rows_per_second, 0.0))),
                     time_left_text(p.seconds_left.value_or(-1)));
}

void ProgressLine::show(const backtest::BacktestProgress& progress) {
  if (!enabled_) {
    return;
  }
  std::fprintf(out_, "\r%s\033[K", progress_text(progress).c_str());
  std::fflush(out_);
  shown_ = true;
}

void ProgressLine::clear() {
  if (shown_) {
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = false;
  }
}

}  // namespace orbrix::demo
