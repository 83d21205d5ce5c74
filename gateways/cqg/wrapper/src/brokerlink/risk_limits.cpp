#include "orbrix/cqg/risk_limits.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace orbrix::cqg {

namespace {

bool positive(double v) {
  return std::isfinite(v) && v > 0;
}

void require(bool ok, std::string_view field, double value) {
  if (!ok) {
    throw std::invalid_argument(
        fmt::format("RiskLimits.{}: {} is not a finite number above 0", field, value));
  }
}

void require_all(const SymbolLimits& by_symbol, std::string_view field) {
  for (const auto& [symbol, value] : by_symbol) {
    if (symbol.empty()) {
      throw std::invalid_argument(fmt::format("RiskLimits.{}: a symbol is empty", field));
    }
    require(positive(value), field, value);
  }
}

// "100 (EP: 20, ZN: 50)", "none (EP: 20)".
std::string with_symbols(std::optional<double> value, const SymbolLimits& by_symbol) {
  std::string out = value ? fmt::format("{}", *value) : std::string("none");
  std::string sep = " (";
  for (const auto& [symbol, v] : by_symbol) {
    out += fmt::format("{}{}: {}", sep, symbol, v);
    sep = ", ";
  }
  return by_symbol.empty() ? out : out + ")";
}

std::string upper(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
    s.remove_prefix(1);
  }
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
    s.remove_suffix(1);
  }
  return s;
}

[[noreturn]] void bad(std::string_view key, std::string_view text, std::string_view expected) {
  throw std::invalid_argument(fmt::format("{}={}: expected {}", key, text, expected));
}

double number(std::string_view key, std::string_view text) {
  const std::string_view t = trimmed(text);
  double v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) {
    bad(key, text, "a number");
  }
  return v;
}

std::int64_t whole(std::string_view key, std::string_view text) {
  const std::string_view t = trimmed(text);
  std::int64_t v = 0;
  const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
  if (ec != std::errc() || end != t.data() + t.size()) {
    bad(key, text, "a whole number");
  }
  return v;
}

bool truth(std::string_view key, std::string_view text) {
  const std::string t = upper(trimmed(text));
  if (t == "TRUE" || t == "YES" || t == "ON" || t == "1") {
    return true;
  }
  if (t == "FALSE" || t == "NO" || t == "OFF" || t == "0") {
    return false;
  }
  bad(key, text, "true or false");
}

// "EP:20, ZN:50"
SymbolLimits per_symbol(std::string_view key, std::string_view text) {
  SymbolLimits out;
  std::string_view rest = text;
  while (!trimmed(rest).empty()) {
    const std::size_t comma = rest.find(',');
    const std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos || trimmed(item.substr(0, colon)).empty()) {
      bad(key, text, "SYMBOL:value pairs separated by commas");
    }
    out[std::string(trimmed(item.substr(0, colon)))] = number(key, item.substr(colon + 1));
  }
  return out;
}

}  // namespace

bool RiskLimits::any() const noexcept {
  return max_order_qty || !max_order_qty_by_symbol.empty() || max_position ||
         !max_position_by_symbol.empty() || max_working_orders || max_orders_per_second ||
         price_collar_pct || price_collar_ticks || max_daily_loss;
}

void validate(const RiskLimits& l) {
  if (l.max_order_qty) {
    require(positive(*l.max_order_qty), "max_order_qty", *l.max_order_qty);
  }
  require_all(l.max_order_qty_by_symbol, "max_order_qty_by_symbol");
  if (l.max_position) {
    require(positive(*l.max_position), "max_position", *l.max_position);
  }
  require_all(l.max_position_by_symbol, "max_position_by_symbol");
  if (l.max_working_orders) {
    require(*l.max_working_orders > 0, "max_working_orders",
            static_cast<double>(*l.max_working_orders));
  }
  if (l.max_orders_per_second) {
    require(positive(*l.max_orders_per_second), "max_orders_per_second", *l.max_orders_per_second);
  }
  if (l.price_collar_pct) {
    require(positive(*l.price_collar_pct), "price_collar_pct", *l.price_collar_pct);
  }
  if (l.price_collar_ticks) {
    require(*l.price_collar_ticks > 0, "price_collar_ticks",
            static_cast<double>(*l.price_collar_ticks));
  }
  require_all(l.tick_size_by_symbol, "tick_size_by_symbol");
  if (l.max_daily_loss) {
    require(positive(*l.max_daily_loss), "max_daily_loss", *l.max_daily_loss);
  }
}

std::string risk_limits_text(const RiskLimits& l) {
  std::string out;
  const auto line = [&](std::string_view name, const std::string& value) {
    out += fmt::format("{}{}: {}", out.empty() ? "" : "\n", name, value);
  };
  if (l.max_order_qty || !l.max_order_qty_by_symbol.empty()) {
    line("max_order_qty", with_symbols(l.max_order_qty, l.max_order_qty_by_symbol));
  }
  if (l.max_position || !l.max_position_by_symbol.empty()) {
    line("max_position", with_symbols(l.max_position, l.max_position_by_symbol));
  }
  if (l.max_working_orders) {
    line("max_working_orders", std::to_string(*l.max_working_orders));
  }
  if (l.max_orders_per_second) {
    line("max_orders_per_second", fmt::format("{}", *l.max_orders_per_second));
  }
  if (l.price_collar_pct) {
    line("price_collar_pct", fmt::format("{}", *l.price_collar_pct));
  }
  if (l.price_collar_ticks) {
    line("price_collar_ticks", std::to_string(*l.price_collar_ticks));
  }
  if (!l.tick_size_by_symbol.empty()) {
    line("tick_size_by_symbol", with_symbols(std::nullopt, l.tick_size_by_symbol).substr(5));
  }
  if (l.price_collar_pct || l.price_collar_ticks) {
    line("allow_orders_without_quote", l.allow_orders_without_quote ? "true" : "false");
  }
  if (l.max_daily_loss) {
    line("max_daily_loss", fmt::format("{}", *l.max_daily_loss));
  }
  return out.empty() ? std::string("no limits") : out;
}

RiskLimits risk_limits_from(
    const std::function<std::optional<std::string>(std::string_view key)>& value_of) {
  RiskLimits l;
  const auto read = [&](std::string_view field, auto&& apply) {
    const std::string key = "RISK_" + upper(field);
    if (const std::optional<std::string> text = value_of(key); text && !trimmed(*text).empty()) {
      apply(key, *text);
    }
  };
  read("max_order_qty", [&](auto& k, auto& t) { l.max_order_qty = number(k, t); });
  read("max_order_qty_by_symbol",
       [&](auto& k, auto& t) { l.max_order_qty_by_symbol = per_symbol(k, t); });
  read("max_position", [&](auto& k, auto& t) { l.max_position = number(k, t); });
  read("max_position_by_symbol",
       [&](auto& k, auto& t) { l.max_position_by_symbol = per_symbol(k, t); });
  read("max_working_orders", [&](auto& k, auto& t) { l.max_working_orders = whole(k, t); });
  read("max_orders_per_second", [&](auto& k, auto& t) { l.max_orders_per_second = number(k, t); });
  read("price_collar_pct", [&](auto& k, auto& t) { l.price_collar_pct = number(k, t); });
  read("price_collar_ticks", [&](auto& k, auto& t) { l.price_collar_ticks = whole(k, t); });
  read("tick_size_by_symbol", [&](auto& k, auto& t) { l.tick_size_by_symbol = per_symbol(k, t); });
  read("allow_orders_without_quote",
       [&](auto& k, auto& t) { l.allow_orders_without_quote = truth(k, t); });
  read("max_daily_loss", [&](auto& k, auto& t) { l.max_daily_loss = number(k, t); });
  try {
    validate(l);
  } catch (const std::invalid_argument& e) {
    throw std::invalid_argument(std::string("risk limits of the configuration: ") + e.what());
  }
  return l;
}

}  // namespace orbrix::cqg
