#include "venue/market/history.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <fstream>
#include <istream>
#include <map>
#include <string_view>

#include <fmt/format.h>

#include "venue/market/time_text.hpp"

namespace orbrix::cqgsim::venue {

HistoryError::HistoryError(std::string source, std::size_t line, std::string column,
                           const std::string& why)
    : std::runtime_error(column.empty()
                             ? fmt::format("{}:{}: {}", source, line, why)
                             : fmt::format("{}:{}: column {}: {}", source, line, column, why)),
      source_(std::move(source)),
      line_(line),
      column_(std::move(column)) {}

namespace {

enum Column : int {
  TsEvent,
  BidPrice,
  AskPrice,
  BidSize,
  AskSize,
  LastPrice,
  LastSize,
  Open,
  High,
  Low,
  Close,
  Volume,
  Symbol,
  kColumnCount
};

constexpr std::string_view kColumnNames[kColumnCount] = {
    "ts_event",  "bid_price", "ask_price", "bid_size", "ask_size", "last_price",
    "last_size", "open",      "high",      "low",      "close",    "volume",    "symbol"};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

void split(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  std::size_t from = 0;
  while (true) {
    const auto comma = line.find(',', from);
    out.push_back(trim(line.substr(from, comma == std::string_view::npos ? comma : comma - from)));
    if (comma == std::string_view::npos) {
      return;
    }
    from = comma + 1;
  }
}

struct SymbolHistory {
  std::string symbol;  // empty in a file without a symbol column
  History history;
  std::optional<Timestamp> previous{};  // the latest time read, for order
};

class Reader {
 public:
  Reader(std::istream& in, const std::string& source) : in_(in), source_(source) {}

  // The file's histories: one without a symbol column, else one per symbol
  // in the order each first appears.
  std::vector<SymbolHistory> read() {
    History first;
    first.source = source_;
    read_header(first);
    std::vector<SymbolHistory> out;
    if (position_[Symbol] < 0) {
      out.push_back({"", std::move(first)});
    }
    std::string raw;
    std::vector<std::string_view> fields;
    while (std::getline(in_, raw)) {
      ++line_;
      const std::string_view text = trim(raw);
      if (text.empty()) {
        continue;
      }
      split(text, fields);
      check_field_count(fields);
      auto& entry = entry_for(fields, first, out);
      if (entry.history.format == HistoryFormat::QuotesAndTrades) {
        read_quote(fields, entry);
      } else {
        read_bar(fields, entry);
      }
    }
    if (in_.bad()) {
      fail("", "read error");
    }
    if (out.empty() || out.front().history.size() == 0) {
      fail("", "no records after the header");
    }
    return out;
  }

 private:
  // The history a row belongs to: the only one, or its symbol's (made on
  // its first row, with the file's format).
  SymbolHistory& entry_for(const std::vector<std::string_view>& fields, const History& first,
                           std::vector<SymbolHistory>& out) {
    if (position_[Symbol] < 0) {
      return out.front();
    }
    const std::string_view symbol = field(fields, Symbol);
    if (symbol.empty()) {
      fail("symbol", "missing value");
    }
    const auto it = by_symbol_.find(symbol);
    if (it != by_symbol_.end()) {
      return out[it->second];
    }
    History h;
    h.source = first.source;
    h.format = first.format;
    out.push_back({std::string(symbol), std::move(h)});
    by_symbol_.emplace(std::string(symbol), out.size() - 1);
    return out.back();
  }

  [[noreturn]] void fail(std::string_view column, const std::string& why) const {
    throw HistoryError(source_, line_, std::string(column), why);
  }

  void read_header(History& h) {
    std::string raw;
    while (std::getline(in_, raw)) {
      ++line_;
      std::string_view text = trim(raw);
      if (text.substr(0, 3) == "\xEF\xBB\xBF") {  // a byte-order mark some editors write
        text = trim(text.substr(3));
      }
      if (text.empty()) {
        continue;
      }
      std::vector<std::string_view> names;
      split(text, names);
      parse_header(names, h);
      return;
    }
    fail("", "empty file: expected a header line");
  }

  void parse_header(const std::vector<std::string_view>& names, History& h) {
    position_.fill(-1);
    bool has_bid = false;
    bool has_open = false;
    for (const auto n : names) {
      has_bid = has_bid || n == "bid_price" || n == "ask_price";
      has_open = has_open || n == "open" || n == "high" || n == "low" || n == "close";
    }
    if (has_bid == has_open) {
      fail("",
           "unknown header: expected ts_event,bid_price,ask_price[,bid_size,ask_size]"
           "[,last_price,last_size] or ts_event,open,high,low,close,volume");
    }
    h.format = has_bid ? HistoryFormat::QuotesAndTrades : HistoryFormat::MinuteBars;
    const int first = has_bid ? TsEvent : Open;
    const int last = has_bid ? LastSize : Volume;
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (names[i].empty()) {
        // Named by its place, as it has no name: "ts_event,bid_price,ask_price,"
        fail(fmt::format("{} (unnamed)", i + 1), "a column without a name (a trailing comma?)");
      }
      int found = -1;
      for (int c = TsEvent; c < kColumnCount; ++c) {
        const bool allowed = c == TsEvent || c == Symbol || (c >= first && c <= last);
        if (allowed && names[i] == kColumnNames[c]) {
          found = c;
        }
      }
      if (found < 0) {
        fail(names[i], "unknown column for this format");
      }
      if (position_[found] >= 0) {
        fail(names[i], "column given twice");
      }
      position_[found] = static_cast<int>(i);
    }
    columns_ = names.size();
    const auto require = [&](int c) {
      if (position_[c] < 0) {
        fail(kColumnNames[c], "missing column");
      }
    };
    require(TsEvent);
    if (has_bid) {
      require(BidPrice);
      require(AskPrice);
      if (position_[LastSize] >= 0 && position_[LastPrice] < 0) {
        fail("last_price", "missing column (last_size is given)");
      }
    } else {
      for (int c = Open; c <= Volume; ++c) {
        require(c);
      }
    }
  }

  void check_field_count(const std::vector<std::string_view>& fields) const {
    if (fields.size() < columns_) {
      // Name the first column with no field.
      for (int c = 0; c < kColumnCount; ++c) {
        if (position_[c] == static_cast<int>(fields.size())) {
          fail(kColumnNames[c], "missing value (the row has fewer fields than the header)");
        }
      }
      fail("", "the row has fewer fields than the header");
    }
    if (fields.size() > columns_) {
      fail(fmt::format("{} (beyond the header)", columns_ + 1),
           fmt::format("the row has {} fields, the header {}", fields.size(), columns_));
    }
  }

  std::string_view field(const std::vector<std::string_view>& fields, int c) const {
    return position_[c] < 0 ? std::string_view{} : fields[static_cast<std::size_t>(position_[c])];
  }

  Timestamp read_time(const std::vector<std::string_view>& fields, std::optional<Timestamp>& previous) {
    const std::string_view text = field(fields, TsEvent);
    const auto t = parse_timestamp(text);
    if (!t) {
      fail("ts_event", fmt::format("'{}' is not an ISO 8601 UTC time ending in Z nor integer "
                                   "nanoseconds",
                                   text));
    }
    if (!in_time_range(*t)) {
      fail("ts_event", fmt::format("{} is outside the years {} to {} the venue works in",
                                   format_timestamp(*t), kFirstYear, kLastYear));
    }
    if (previous && *t < *previous) {
      fail("ts_event", fmt::format("time goes back from {} to {}", format_timestamp(*previous),
                                   format_timestamp(*t)));
    }
    previous = t;
    return *t;
  }

  std::optional<double> read_price(const std::vector<std::string_view>& fields, int c,
                                   bool required) const {
    const std::string_view text = field(fields, c);
    if (text.empty()) {
      if (required) {
        fail(kColumnNames[c], "missing value");
      }
      return std::nullopt;
    }
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v)) {
      fail(kColumnNames[c], fmt::format("'{}' is not a number", text));
    }
    return v;
  }

  std::optional<std::int64_t> read_size(const std::vector<std::string_view>& fields, int c,
                                        bool required) const {
    const std::string_view text = field(fields, c);
    if (text.empty()) {
      if (required) {
        fail(kColumnNames[c], "missing value");
      }
      return std::nullopt;
    }
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (ec != std::errc{} || end != text.data() + text.size()) {
      fail(kColumnNames[c], fmt::format("'{}' is not a whole number", text));
    }
    if (v < 0) {
      fail(kColumnNames[c], fmt::format("negative size {}", v));
    }
    return v;
  }

  void read_quote(const std::vector<std::string_view>& fields, SymbolHistory& entry) {
    History& h = entry.history;
    QuoteRecord r;
    r.line = line_;
    r.time = read_time(fields, entry.previous);
    r.bid = *read_price(fields, BidPrice, true);
    r.ask = *read_price(fields, AskPrice, true);
    if (!(r.bid < r.ask)) {
      fail("ask_price", fmt::format("bid {} is not below ask {}", field(fields, BidPrice),
                                    field(fields, AskPrice)));
    }
    r.bid_size = read_size(fields, BidSize, false);
    r.ask_size = read_size(fields, AskSize, false);
    r.last_price = read_price(fields, LastPrice, false);
    r.last_size = read_size(fields, LastSize, false);
    if (r.last_size && !r.last_price) {
      fail("last_price", "missing value (last_size is given)");
    }
    h.quotes.push_back(r);
  }

  void read_bar(const std::vector<std::string_view>& fields, SymbolHistory& entry) {
    History& h = entry.history;
    BarRecord r;
    r.line = line_;
    r.start = read_time(fields, entry.previous);
    r.open = *read_price(fields, Open, true);
    r.high = *read_price(fields, High, true);
    r.low = *read_price(fields, Low, true);
    r.close = *read_price(fields, Close, true);
    r.volume = *read_size(fields, Volume, true);
    if (r.high < r.open || r.high < r.close || r.high < r.low) {
      fail("high", fmt::format("high {} is below the open, low or close", field(fields, High)));
    }
    if (r.low > r.open || r.low > r.close) {
      fail("low", fmt::format("low {} is above the open or close", field(fields, Low)));
    }
    if (!h.bars.empty() && r.start == h.bars.back().start) {
      fail("ts_event", "two bars for the same minute");
    }
    if (r.start.time_since_epoch() % std::chrono::minutes{1} != Duration::zero()) {
      fail("ts_event", "a bar must start on a whole minute");
    }
    h.bars.push_back(r);
  }

  std::istream& in_;
  const std::string& source_;
  std::size_t line_ = 0;
  std::size_t columns_ = 0;
  std::array<int, kColumnCount> position_{};
  std::map<std::string, std::size_t, std::less<>> by_symbol_;
};

}  // namespace

History parse_history(std::istream& in, const std::string& source) {
  auto read = Reader(in, source).read();
  if (!read.front().symbol.empty()) {
    throw HistoryError(source, 1, "symbol",
                       "a history of several symbols: give it as a multi-symbol history");
  }
  return std::move(read.front().history);
}

std::vector<std::pair<std::string, History>> parse_histories(std::istream& in,
                                                             const std::string& source) {
  auto read = Reader(in, source).read();
  if (read.front().symbol.empty()) {
    throw HistoryError(source, 1, "symbol",
                       "missing column: a multi-symbol history names each row's symbol");
  }
  std::vector<std::pair<std::string, History>> out;
  out.reserve(read.size());
  for (auto& r : read) {
    out.emplace_back(std::move(r.symbol), std::move(r.history));
  }
  return out;
}

namespace {

std::ifstream open_history(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw HistoryError(path.string(), 0, "", "cannot open the file");
  }
  return in;
}

}  // namespace

History load_history(const std::filesystem::path& path) {
  auto in = open_history(path);
  return parse_history(in, path.string());
}

std::vector<std::pair<std::string, History>> load_histories(const std::filesystem::path& path) {
  auto in = open_history(path);
  return parse_histories(in, path.string());
}

}  // namespace orbrix::cqgsim::venue
