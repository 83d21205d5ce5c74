#include "src/report_charts.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "orbrix/backtest/report.hpp"
#include "recorder.hpp"

namespace orbrix::backtest {

namespace {

using report::gnuplot_quote;

// How gnuplot reads the report's times: to the second, the fraction and the
// "Z" or offset after them left aside (the axis is the zone's wall clock).
constexpr const char* kTimeFormat = "'%Y-%m-%dT%H:%M:%S'";
// A one-minute bar is drawn at the middle of its minute, a little narrower.
constexpr int kBarSeconds = 60;

// What every chart shares: its size and the time axis.
struct Frame {
  int width = 0;
  int height = 0;
  std::string axis;  // the commands that set the time axis
  std::string time_label;
  std::string currency;
};

Frame frame_of(const BacktestResult& r, const ReportTime& time, int width, int height) {
  auto last = r.end;
  if (!r.equity.empty()) {
    last = std::max(last, r.equity.back().time);
  }
  if (!r.deals.empty()) {
    last = std::max(last, r.deals.back().time);
  }
  const bool one_day = time.day(r.start) == time.day(last);
  const char* format = last - r.start < std::chrono::minutes(10) ? "%H:%M:%S"
                       : one_day                                 ? "%H:%M"
                                                                 : "%m-%d %H:%M";
  return {.width = width,
          .height = height,
          .axis = fmt::format("set xdata time\nset format x '{}'\nset xrange [{:.3f}:{:.3f}]\n",
                              format, time.wall_seconds(r.start), time.wall_seconds(last)),
          .time_label = one_day ? fmt::format("time on {} ({})", time.day(r.start), time.name())
                                : fmt::format("time ({})", time.name()),
          .currency = r.account.currency};
}

std::string begin_chart(const Frame& f, const std::string& png, const std::string& title) {
  return fmt::format(
      "set terminal pngcairo size {},{} noenhanced font ',10'\nset output {}\n"
      "set datafile separator ','\n{}set grid\nset key top left opaque\nset lmargin 12\n"
      "set rmargin 4\nset multiplot title {}\n",
      f.width, f.height, gnuplot_quote(png), f.axis, gnuplot_quote(title));
}

// The upper panel (0.6 of the height) or the lower one.
std::string panel(bool upper, const std::string& ylabel, const std::string& xlabel) {
  return fmt::format("set origin 0,{}\nset size 1,{}\nset ylabel {}\nset xlabel {}\n",
                     upper ? "0.36" : "0", upper ? "0.6" : "0.36", gnuplot_quote(ylabel),
                     gnuplot_quote(xlabel));
}

// Plots the items, or an empty panel that says why there are none.
std::string plot(const std::vector<std::string>& items, const std::string& empty) {
  if (items.empty()) {
    return fmt::format(
        "set label 1 {} at graph 0.5,0.5 center\nset yrange [0:1]\nunset ytics\n"
        "plot 2 notitle\nunset label 1\nset autoscale y\nset ytics\n",
        gnuplot_quote(empty));
  }
  std::string s = "plot ";
  for (std::size_t i = 0; i < items.size(); ++i) {
    s += (i ? ", \\\n     " : "") + items[i];
  }
  return s + "\n";
}

const char* kEnd = "unset multiplot\nset output\n";

std::string symbol_chart(const BacktestResult& r, const Frame& f, const SymbolResult& s,
                         const std::string& png) {
  const auto who = gnuplot_quote(s.symbol);
  std::string out = begin_chart(f, png,
                                fmt::format("{} ({}): one-minute bars, its fills and its P&L",
                                            engine_symbol(r, s.symbol), s.symbol));
  out += panel(true, "price", "");
  std::vector<std::string> items;
  if (!s.bars.empty()) {
    out += fmt::format("set boxwidth {} absolute\n", kBarSeconds * 7 / 10);
    items.push_back(fmt::format(
        "'bars.csv' skip 1 using (strcol(2) eq {} ? timecolumn(3,{}) + {} : NaN):4:6:5:7 "
        "with candlesticks lc rgb 'gray40' title 'bars'",
        who, kTimeFormat, kBarSeconds / 2));
  }
  const auto fills = [&](bool buy, int point, const char* colour) {
    const bool any = std::any_of(r.deals.begin(), r.deals.end(), [&](const Deal& d) {
      return d.symbol == s.symbol && d.buy == buy;
    });
    if (any) {
      items.push_back(fmt::format(
          "'deals.csv' skip 1 using (strcol(4) eq {} && strcol(5) eq '{}' ? timecolumn(9,{}) : "
          "NaN):7 with points pt {} ps 2 lc rgb '{}' title '{}s'",
          who, buy ? "buy" : "sell", kTimeFormat, point, colour, buy ? "buy" : "sell"));
    }
  };
  fills(true, 9, "dark-green");
  fills(false, 11, "red");
  // The price range given, as gnuplot's autoscale leaves out the wicks
  // of candlesticks.
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  for (const auto& b : s.bars) {
    low = std::min(low, b.low);
    high = std::max(high, b.high);
  }
  for (const auto& d : r.deals) {
    if (d.symbol == s.symbol) {
      low = std::min(low, d.price);
      high = std::max(high, d.price);
    }
  }
  if (!items.empty()) {
    const double margin = high > low ? (high - low) * 0.05 : std::max(std::abs(high) * 1e-3, 1.0);
    out += fmt::format("set yrange [{}:{}]\n", low - margin, high + margin);
  }
  out += plot(items, "no bars and no fills");
  out += "set autoscale y\n";

  out += panel(false, fmt::format("P&L ({})", f.currency), f.time_label);
  const bool traded = std::any_of(r.symbol_pnl.begin(), r.symbol_pnl.end(),
                                  [&](const SymbolPnl& p) { return p.symbol == s.symbol; });
  std::vector<std::string> pnl;
  if (traded) {
    pnl.push_back(
        fmt::format("'pnl.csv' skip 1 using (strcol(3) eq {} ? timecolumn(1,{}) : NaN):7 "
                    "with lines lw 2 lc rgb 'navy' title 'net P&L, after fees'",
                    who, kTimeFormat));
  }
  out += plot(pnl, "not traded");
  return out + kEnd;
}

std::string equity_chart(const Frame& f, const std::string& png) {
  std::string out = begin_chart(f, png, "The account: equity and drawdown");
  out += panel(true, fmt::format("net liquidating value ({})", f.currency), "");
  out += fmt::format(
      "plot 'balance.csv' skip 1 using (timecolumn(1,{})):3 with lines lw 2 lc rgb 'navy' "
      "title 'net liquidating value'\n",
      kTimeFormat);
  out += panel(false, fmt::format("drawdown ({})", f.currency), f.time_label);
  out += fmt::format(
      "plot 'balance.csv' skip 1 using (timecolumn(1,{})):(-$7) with filledcurves y1=0 "
      "lc rgb 'red' title 'below the highest value so far'\n",
      kTimeFormat);
  return out + kEnd;
}

}  // namespace

ChartScript chart_script(const BacktestResult& r, const ReportTime& time, int width, int height) {
  const Frame f = frame_of(r, time, width, height);
  ChartScript script;
  for (const auto& s : r.symbols) {
    auto png = fmt::format("chart_{}.png", report::file_name_part(engine_symbol(r, s.symbol)));
    script.text += symbol_chart(r, f, s, png);
    script.charts.push_back(std::move(png));
  }
  if (!r.equity.empty()) {
    script.text += equity_chart(f, "chart_equity.png");
    script.charts.emplace_back("chart_equity.png");
  }
  return script;
}

}  // namespace orbrix::backtest
