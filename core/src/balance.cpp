#include "orbrix/core/balance.hpp"

#include "text_form.hpp"

namespace orbrix {
namespace {

std::string cash_map_text(const std::optional<std::map<std::string, double>>& cash) {
  if (!cash) {
    return "none";
  }
  std::string text = "{";
  for (const auto& [currency, amount] : *cash) {
    if (text.size() > 1) {
      text += ", ";
    }
    fmt::format_to(std::back_inserter(text), "{}: {}", text_form::quoted(currency), amount);
  }
  return text + "}";
}

}  // namespace

std::string to_text(const AccountBalance& b) {
  return fmt::format(
      "AccountBalance(cash={}, cash_by_currency={}, available_cash={}, max_power_short={}, "
      "net_cash_power={}, maintenance_margin={}, realized_pnl={}, unrealized_pnl={})",
      b.cash, cash_map_text(b.cash_by_currency), b.available_cash,
      text_form::optional(b.max_power_short), b.net_cash_power, b.maintenance_margin,
      b.realized_pnl, b.unrealized_pnl);
}

}  // namespace orbrix
