#include "venue/market/history.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include <fmt/format.h>

#include "venue/market/decimal_text.hpp"
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

constexpr std::string_view kColumnNames[] = {
    "ts_event", "bid_price", "ask_price", "bid_size", "ask_size", "last_price", "last_size",
    "open",     "high",      "low",       "close",    "volume",   "symbol"};

bool blank(char c) {
  return c == ' ' || c == '\t' || c == '\r';
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && blank(s.back())) {
    s.remove_suffix(1);
  }
  return s;
}

// The fields between commas, each trimmed. One pass over the line; a field
// is trimmed only when it starts or ends with a blank.
void split(std::string_view line, std::vector<std::string_view>& out) {
  out.clear();
  const char* p = line.data();
  const char* const end = p + line.size();
  while (true) {
    const char* q = p;
    while (q != end && *q != ',') {
      ++q;
    }
    std::string_view f(p, static_cast<std::size_t>(q - p));
    if (!f.empty() && (blank(f.front()) || blank(f.back()))) {
      f = trim(f);
    }
    out.push_back(f);
    if (q == end) {
      return;
    }
    p = q + 1;
  }
}

constexpr std::size_t kBlockBytes = 32 * 1024;

// "3653 days", "40 days": how far a row lies from the others.
std::string days_between(Timestamp a, Timestamp b) {
  return fmt::format("{} days", std::chrono::floor<std::chrono::days>(b - a).count());
}

}  // namespace

HistoryReader::HistoryReader(std::unique_ptr<std::istream> in, std::string source)
    : in_(std::move(in)), source_(std::move(source)) {
  buffer_.resize(kBlockBytes);
  fields_.reserve(16);
  read_header();
}

HistoryReader HistoryReader::open(const std::filesystem::path& path) {
  auto in = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*in) {
    throw HistoryError(path.string(), 0, "", "cannot open the file");
  }
  return HistoryReader(std::move(in), path.string());
}

HistoryReader::HistoryReader(HistoryReader&&) noexcept = default;
HistoryReader& HistoryReader::operator=(HistoryReader&&) noexcept = default;
HistoryReader::~HistoryReader() = default;

bool HistoryReader::has_symbol_column() const {
  return position_[Symbol] >= 0;
}

void HistoryReader::fail(std::string_view column, const std::string& why) const {
  throw HistoryError(source_, line_, std::string(column), why);
}

// The next line without its '\n' (a last line without one included), as a
// view valid until the next call; false at the end of the stream.
bool HistoryReader::read_line(std::string_view& line) {
  while (true) {
    char* const data = buffer_.data();
    if (const void* newline = std::memchr(data + begin_, '\n', end_ - begin_)) {
      const auto at = static_cast<std::size_t>(static_cast<const char*>(newline) - data);
      line = std::string_view(data + begin_, at - begin_);
      begin_ = at + 1;
      return true;
    }
    if (drained_) {
      if (begin_ == end_) {
        return false;
      }
      line = std::string_view(data + begin_, end_ - begin_);
      begin_ = end_;
      return true;
    }
    // The partial line moves to the front; a line longer than the buffer
    // doubles it.
    std::memmove(data, data + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    if (end_ == buffer_.size()) {
      buffer_.resize(buffer_.size() * 2);
    }
    in_->read(buffer_.data() + end_, static_cast<std::streamsize>(buffer_.size() - end_));
    end_ += static_cast<std::size_t>(in_->gcount());
    drained_ = !*in_;  // the end, or a read error the caller tells apart with bad()
  }
}

void HistoryReader::read_header() {
  std::string_view line;
  while (read_line(line)) {
    ++line_;
    std::string_view text = trim(line);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {  // a byte-order mark some editors write
      text = trim(text.substr(3));
    }
    if (text.empty()) {
      continue;
    }
    std::vector<std::string_view> names;
    split(text, names);
    parse_header(names);
    return;
  }
  if (in_->bad()) {
    fail("", "read error");
  }
  fail("", "empty file: expected a header line");
}

void HistoryReader::parse_header(const std::vector<std::string_view>& names) {
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
  format_ = has_bid ? HistoryFormat::QuotesAndTrades : HistoryFormat::MinuteBars;
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

bool HistoryReader::next(HistoryRow& row) {
  std::string_view line;
  while (read_line(line)) {
    ++line_;
    const std::string_view text = trim(line);
    if (text.empty()) {
      continue;
    }
    split(text, fields_);
    check_field_count();
    row.line = line_;
    row.symbol = field(Symbol);
    if (has_symbol_column() && row.symbol.empty()) {
      fail("symbol", "missing value");
    }
    if (format_ == HistoryFormat::QuotesAndTrades) {
      read_quote(row.quote);
    } else {
      read_bar(row.bar);
    }
    return true;
  }
  if (in_->bad()) {
    fail("", "read error");
  }
  return false;
}

void HistoryReader::check_field_count() const {
  if (fields_.size() < columns_) {
    // Name the first column with no field.
    for (int c = 0; c < kColumnCount; ++c) {
      if (position_[c] == static_cast<int>(fields_.size())) {
        fail(kColumnNames[c], "missing value (the row has fewer fields than the header)");
      }
    }
    fail("", "the row has fewer fields than the header");
  }
  if (fields_.size() > columns_) {
    fail(fmt::format("{} (beyond the header)", columns_ + 1),
         fmt::format("the row has {} fields, the header {}", fields_.size(), columns_));
  }
}

std::string_view HistoryReader::field(int c) const {
  return position_[c] < 0 ? std::string_view{} : fields_[static_cast<std::size_t>(position_[c])];
}

Timestamp HistoryReader::read_time() {
  const std::string_view text = field(TsEvent);
  const auto t = parse_timestamp(text, day_);
  if (!t) {
    fail("ts_event", fmt::format("'{}' is not an ISO 8601 UTC time ending in Z nor integer "
                                 "nanoseconds",
                                 text));
  }
  if (!in_time_range(*t)) {
    fail("ts_event", fmt::format("{} is outside the years {} to {} the venue works in",
                                 format_timestamp(*t), kFirstYear, kLastYear));
  }
  // Both differences are of times within the supported years: no overflow.
  if (latest_ && *t - *latest_ > kMaxRecordGap) {
    fail("ts_event",
         fmt::format("{} is {} after {} (line {}): a time stamp out of place? The "
                     "rows of a file lie within {} days of each other",
                     format_timestamp(*t), days_between(*latest_, *t), format_timestamp(*latest_),
                     latest_line_, std::chrono::floor<std::chrono::days>(kMaxRecordGap).count()));
  }
  if (earliest_ && *earliest_ - *t > kMaxRecordGap) {
    fail("ts_event", fmt::format("{} is {} before {} (line {}): a time stamp out of place? The "
                                 "rows of a file lie within {} days of each other",
                                 format_timestamp(*t), days_between(*t, *earliest_),
                                 format_timestamp(*earliest_), earliest_line_,
                                 std::chrono::floor<std::chrono::days>(kMaxRecordGap).count()));
  }
  if (!latest_ || *t > *latest_) {
    latest_ = t;
    latest_line_ = line_;
  }
  if (!earliest_ || *t < *earliest_) {
    earliest_ = t;
    earliest_line_ = line_;
  }
  return *t;
}

std::optional<double> HistoryReader::read_price(int c, bool required) const {
  const std::string_view text = field(c);
  if (text.empty()) {
    if (required) {
      fail(kColumnNames[c], "missing value");
    }
    return std::nullopt;
  }
  double v = 0;
  if (parse_plain_decimal(text, v)) {
    return v;
  }
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(v)) {
    fail(kColumnNames[c], fmt::format("'{}' is not a number", text));
  }
  return v;
}

std::optional<std::int64_t> HistoryReader::read_size(int c, bool required) const {
  const std::string_view text = field(c);
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

void HistoryReader::read_quote(QuoteRecord& r) {
  r.time = read_time();
  r.bid = *read_price(BidPrice, true);
  r.ask = *read_price(AskPrice, true);
  if (!(r.bid < r.ask)) {
    fail("ask_price", fmt::format("bid {} is not below ask {}", field(BidPrice), field(AskPrice)));
  }
  r.bid_size = read_size(BidSize, false);
  r.ask_size = read_size(AskSize, false);
  r.last_price = read_price(LastPrice, false);
  r.last_size = read_size(LastSize, false);
  if (r.last_size && !r.last_price) {
    fail("last_price", "missing value (last_size is given)");
  }
}

void HistoryReader::read_bar(BarRecord& r) {
  r.start = read_time();
  r.open = *read_price(Open, true);
  r.high = *read_price(High, true);
  r.low = *read_price(Low, true);
  r.close = *read_price(Close, true);
  r.volume = *read_size(Volume, true);
  if (r.high < r.open || r.high < r.close || r.high < r.low) {
    fail("high", fmt::format("high {} is below the open, low or close", field(High)));
  }
  if (r.low > r.open || r.low > r.close) {
    fail("low", fmt::format("low {} is above the open or close", field(Low)));
  }
  if (r.start.time_since_epoch() % std::chrono::minutes{1} != Duration::zero()) {
    fail("ts_event", "a bar must start on a whole minute");
  }
}

void HistoryOrder::check(const HistoryReader& reader, Timestamp t) {
  if (previous_ && t < *previous_) {
    reader.fail("ts_event", fmt::format("time goes back from {} to {}",
                                        format_timestamp(*previous_), format_timestamp(t)));
  }
  if (previous_ && t == *previous_ && reader.format() == HistoryFormat::MinuteBars) {
    reader.fail("ts_event", "two bars for the same minute");
  }
  previous_ = t;
}

}  // namespace orbrix::cqgsim::venue
