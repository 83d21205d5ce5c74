#include "recorder.hpp"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace orbrix::report {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr const char* kGnuplotPackage = "gnuplot-nox";
// gnuplot's reading of iso_utc's text.
constexpr const char* kTimeFormat = "%Y-%m-%dT%H:%M:%SZ";

std::string csv(std::string_view field) {
  return csv_field(field);
}

std::string csv_time(const std::optional<UtcTime>& t) {
  return t ? iso_utc(*t) : std::string();
}

void write_file(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    throw std::runtime_error(fmt::format("cannot write {}", path.string()));
  }
}

bool is_executable(const fs::path& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec) && ::access(path.c_str(), X_OK) == 0;
}

bool program_found(const std::string& program) {
  if (program.find('/') != std::string::npos) {
    return is_executable(program);
  }
  const char* path = std::getenv("PATH");
  std::istringstream dirs(path ? path : "/usr/bin:/bin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    if (is_executable(fs::path(dir.empty() ? "." : dir) / program)) {
      return true;
    }
  }
  return false;
}

// Runs `program script` in the folder `dir`, its standard output discarded
// and its standard error returned (the first 16 KiB), with its exit status.
std::pair<int, std::string> run_program(const std::string& program, const fs::path& dir,
                                        const std::string& script) {
  int err_pipe[2];
  if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error(fmt::format("cannot run {}: {}", program, std::strerror(errno)));
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err_pipe[1], STDERR_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  // A program named by a relative path is found from here, not from `dir`.
  const std::string program_path =
      program.find('/') != std::string::npos ? fs::absolute(program).string() : program;
  std::vector<char*> argv{const_cast<char*>(program_path.c_str()),
                          const_cast<char*>(script.c_str()), nullptr};
  pid_t pid = 0;
  const int spawned =
      ::posix_spawnp(&pid, program_path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(err_pipe[1]);
  if (spawned != 0) {
    ::close(err_pipe[0]);
    throw std::runtime_error(fmt::format("cannot run {}: {}", program, std::strerror(spawned)));
  }
  std::string err;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(err_pipe[0], buf, sizeof buf);
    if (n > 0) {
      if (err.size() < 16384) {
        err.append(buf, static_cast<std::size_t>(n));
      }
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(err_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return {code, err};
}

}  // namespace

std::string gnuplot_quote(std::string_view text) {
  std::string out = "'";
  for (char c : text) {
    out += c;
    if (c == '\'') {
      out += '\'';
    }
  }
  return out + "'";
}

std::string file_name_part(std::string_view name) {
  std::string out;
  for (unsigned char c : name) {
    out += std::isalnum(c) || c == '-' || c == '_' || c == '.' ? static_cast<char>(c) : '_';
  }
  return out.empty() ? std::string("_") : out;
}

void run_gnuplot(const std::string& program, const fs::path& dir, const std::string& script) {
  const auto [code, err] = run_program(program, dir, script);
  if (code != 0) {
    throw std::runtime_error(fmt::format("gnuplot failed (exit {}) drawing the charts of {}: {}",
                                         code, (dir / script).string(), err));
  }
}

std::string csv_field(std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(field);
  }
  std::string out = "\"";
  for (char c : field) {
    out += c;
    if (c == '"') {
      out += '"';
    }
  }
  return out + "\"";
}

std::string iso_utc(UtcTime t) {
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss hms{t - day};
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:06}Z", int(ymd.year()),
                     unsigned(ymd.month()), unsigned(ymd.day()), hms.hours().count(),
                     hms.minutes().count(), hms.seconds().count(), hms.subseconds().count());
}

void require_gnuplot(const std::string& program) {
  if (!program_found(program)) {
    throw std::runtime_error(fmt::format(
        "the charts are drawn with gnuplot, and {} cannot be run: install the package {} "
        "(scripts/bootstrap does)",
        program, kGnuplotPackage));
  }
}

void Recorder::add_order(OrderRow row) {
  symbols_.insert(row.symbol);
  if (const auto it = order_index_.find(row.order_id); it != order_index_.end()) {
    orders_[it->second] = std::move(row);
    return;
  }
  order_index_.emplace(row.order_id, orders_.size());
  orders_.push_back(std::move(row));
}

void Recorder::add_deal(DealRow row) {
  symbols_.insert(row.symbol);
  if (const auto it = deal_index_.find(row.deal_id); it != deal_index_.end()) {
    deals_[it->second] = std::move(row);
    return;
  }
  deal_index_.emplace(row.deal_id, deals_.size());
  deals_.push_back(std::move(row));
}

void Recorder::add_balance(BalanceRow row) {
  balances_.push_back(std::move(row));
}

void Recorder::add_bar(BarRow row) {
  symbols_.insert(row.symbol);
  auto key = std::make_pair(row.symbol, row.start);
  bars_.insert_or_assign(std::move(key), std::move(row));
}

void Recorder::add_symbol(std::string symbol) {
  symbols_.insert(std::move(symbol));
}

std::vector<fs::path> Recorder::write_csv(const fs::path& dir) const {
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) {
    throw std::runtime_error(fmt::format("cannot make {}: {}", dir.string(), ec.message()));
  }
  std::string text =
      "order_id,symbol,type,direction,quantity,price,stop_price,status,filled_quantity,"
      "average_fill_price,placed_utc,updated_utc\n";
  for (const auto& o : orders_) {
    text += fmt::format("{},{},{},{},{},{},{},{},{},{},{},{}\n", csv(o.order_id), csv(o.symbol),
                        to_text(o.type), to_text(o.direction), o.quantity, o.price, o.stop_price,
                        to_text(o.status), o.filled_quantity, o.average_fill_price,
                        csv_time(o.placed), csv_time(o.updated));
  }
  const auto orders_csv = dir / "orders.csv";
  write_file(orders_csv, text);

  text = "deal_id,order_id,symbol,direction,quantity,price,time_utc\n";
  for (const auto& d : deals_) {
    text += fmt::format("{},{},{},{},{},{},{}\n", csv(d.deal_id), csv(d.order_id), csv(d.symbol),
                        to_text(d.direction), d.quantity, d.price, iso_utc(d.time));
  }
  const auto deals_csv = dir / "deals.csv";
  write_file(deals_csv, text);

  text = "time_utc,cash,available_cash,net_liquidating,margin,realized_pnl,unrealized_pnl,pnl\n";
  for (const auto& r : balances_) {
    const auto& b = r.balance;
    text += fmt::format("{},{},{},{},{},{},{},{}\n", iso_utc(r.time), b.cash, b.available_cash,
                        b.net_cash_power, b.maintenance_margin, b.realized_pnl, b.unrealized_pnl,
                        b.realized_pnl + b.unrealized_pnl);
  }
  const auto balance_csv = dir / "balance.csv";
  write_file(balance_csv, text);

  text = "symbol,start_utc,open,high,low,close,volume\n";
  for (const auto& [key, b] : bars_) {
    text += fmt::format("{},{},{},{},{},{},{}\n", csv(b.symbol), iso_utc(b.start), b.open, b.high,
                        b.low, b.close, b.volume);
  }
  const auto bars_csv = dir / "bars.csv";
  write_file(bars_csv, text);
  return {orders_csv, deals_csv, balance_csv, bars_csv};
}

std::string Recorder::chart_script(const ChartOptions& options, const std::string& symbol,
                                   const std::string& png) const {
  const std::string sym = gnuplot_quote(symbol);
  const std::string fmt_text = gnuplot_quote(kTimeFormat);
  // Candles a little narrower than the spacing of the bars (a minute when
  // there is only one), each drawn at the middle of its period so a fill
  // falls inside the candle of its time.
  double spacing = 60;
  std::optional<UtcTime> previous;
  std::size_t bar_count = 0;
  for (const auto& [key, b] : bars_) {
    if (b.symbol != symbol) {
      continue;
    }
    ++bar_count;
    if (previous) {
      const double gap = duration<double>(b.start - *previous).count();
      spacing = bar_count == 2 ? gap : std::min(spacing, gap);
    }
    previous = b.start;
  }
  bool buys = false, sells = false;
  for (const auto& d : deals_) {
    if (d.symbol == symbol) {
      (d.direction == Direction::LONG ? buys : sells) = true;
    }
  }

  std::string s;
  s += fmt::format("set terminal pngcairo size {},{} noenhanced font ',10'\n", options.width,
                   options.height);
  s += fmt::format("set output {}\n", gnuplot_quote(png));
  s += "set datafile separator ','\nset xdata time\nset format x '%H:%M:%S'\nset grid\n";
  s += "set key top left\nset lmargin 12\nset rmargin 4\n";
  s += fmt::format("set multiplot title {}\n",
                   gnuplot_quote(symbol + ": bars and fills; the account's P&L (times in UTC)"));

  s += "set origin 0,0.36\nset size 1,0.6\nset ylabel 'price'\nset xlabel ''\n";
  std::vector<std::string> items;
  const auto file = [&](const char* name) { return gnuplot_quote(name); };
  if (bar_count > 0) {
    s += fmt::format("set boxwidth {} absolute\n", std::max(1.0, spacing * 0.7));
    items.push_back(
        fmt::format("{} skip 1 using (strcol(1) eq {} ? timecolumn(2,{}) + {} : NaN):3:5:4:6 with "
                    "candlesticks lc rgb 'gray40' title 'bars'",
                    file("bars.csv"), sym, fmt_text, spacing / 2));
  }
  const auto fills = [&](const char* side, int point, const char* colour, const char* title) {
    items.push_back(fmt::format(
        "{} skip 1 using (strcol(3) eq {} && strcol(4) eq '{}' ? timecolumn(7,{}) : NaN):6 "
        "with points pt {} ps 2 lc rgb '{}' title '{}'",
        file("deals.csv"), sym, side, fmt_text, point, colour, title));
  };
  if (buys) {
    fills("LONG", 9, "dark-green", "buys");
  }
  if (sells) {
    fills("SHORT", 11, "red", "sells");
  }
  const auto plot = [&](const std::vector<std::string>& what, const char* empty_label) {
    if (what.empty()) {
      // Nothing to draw: an empty frame that says so.
      s += fmt::format(
          "set label 1 '{}' at graph 0.5,0.5 center\nset xdata\nset format x '%g'\n"
          "unset xtics\nunset ytics\nset xrange [0:1]\nset yrange [0:1]\nplot -1 notitle\n"
          "unset label 1\nset xtics\nset ytics\nset autoscale\nset xdata time\n"
          "set format x '%H:%M:%S'\n",
          empty_label);
      return;
    }
    s += "plot ";
    for (std::size_t i = 0; i < what.size(); ++i) {
      s += (i ? ", \\\n     " : "") + what[i];
    }
    s += "\n";
  };
  plot(items, "no bars and no fills");

  s += "set origin 0,0\nset size 1,0.36\nset ylabel 'P&L'\nset xlabel 'time (UTC)'\n";
  std::vector<std::string> pnl;
  if (!balances_.empty()) {
    pnl.push_back(fmt::format(
        "{} skip 1 using (timecolumn(1,{})):8 with linespoints pt 7 ps 0.5 lc rgb 'navy' "
        "title 'realized + unrealized (account)'",
        file("balance.csv"), fmt_text));
  }
  plot(pnl, "no balance recorded");
  s += "unset multiplot\nset output\n";
  return s;
}

std::string Recorder::equity_script(const ChartOptions& options, const std::string& png) {
  const std::string file = gnuplot_quote("balance.csv");
  const std::string fmt_text = gnuplot_quote(kTimeFormat);
  std::string s;
  s += fmt::format("set terminal pngcairo size {},{} noenhanced font ',10'\n", options.width,
                   options.height);
  s += fmt::format("set output {}\n", gnuplot_quote(png));
  s += "set datafile separator ','\nset xdata time\nset format x '%H:%M'\nset grid\n";
  s += "set key top left\nset lmargin 12\nset rmargin 4\n";
  s += "set multiplot title 'The account: P&L and drawdown (times in UTC)'\n";
  s += "set origin 0,0.36\nset size 1,0.6\nset ylabel 'P&L'\nset xlabel ''\n";
  s += fmt::format(
      "plot {} skip 1 using (timecolumn(1,{})):8 with lines lw 2 lc rgb 'navy' "
      "title 'realized + unrealized'\n",
      file, fmt_text);
  // The drawdown: how far the P&L is below the highest it has been.
  s += "set origin 0,0\nset size 1,0.36\nset ylabel 'drawdown'\nset xlabel 'time (UTC)'\n";
  s += fmt::format(
      "peak = -1e300\nplot {} skip 1 using (timecolumn(1,{})):(peak = ($8 > peak ? $8 : peak), "
      "$8 - peak) with filledcurves y1=0 lc rgb 'red' title 'below the peak'\n",
      file, fmt_text);
  s += "unset multiplot\nset output\n";
  return s;
}

std::vector<fs::path> Recorder::draw_charts(const fs::path& dir,
                                            const ChartOptions& options) const {
  require_gnuplot(options.gnuplot);
  if (options.width <= 0 || options.height <= 0) {
    throw std::invalid_argument(
        fmt::format("a chart of {} x {} pixels", options.width, options.height));
  }
  std::string script;
  std::vector<fs::path> charts;
  for (const auto& symbol : symbols_) {
    const auto png = fmt::format("chart_{}.png", file_name_part(symbol));
    script += chart_script(options, symbol, png);
    charts.push_back(dir / png);
  }
  if (options.equity_chart && !balances_.empty()) {
    script += equity_script(options, "chart_equity.png");
    charts.push_back(dir / "chart_equity.png");
  }
  const auto script_path = dir / "charts.gp";
  write_file(script_path, script);
  run_gnuplot(options.gnuplot, dir, "charts.gp");
  for (const auto& png : charts) {
    std::error_code ec;
    if (!fs::is_regular_file(png, ec) || fs::file_size(png, ec) == 0) {
      throw std::runtime_error(fmt::format("gnuplot did not draw {}", png.string()));
    }
  }
  return charts;
}

}  // namespace orbrix::report
