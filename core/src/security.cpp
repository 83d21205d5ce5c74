#include "orbrix/core/security.hpp"

#include <string_view>

#include "text_form.hpp"

namespace orbrix {
namespace {

// Mixes one part's hash into the running hash (the 64-bit golden-ratio
// combine), so the order of the parts matters.
std::size_t hash_combine(std::size_t seed, std::size_t part) noexcept {
  return seed ^ (part + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2));
}

std::size_t hash_exchange(const std::optional<Exchange>& exchange) noexcept {
  // "none" hashes apart from every member.
  return exchange ? static_cast<std::size_t>(*exchange) + 1 : 0;
}

}  // namespace

Security::Security(std::string code, std::string security_name,
                   std::optional<std::int64_t> lot_size, std::optional<Exchange> exchange,
                   std::optional<std::string> expiry_date, std::string quote_currency)
    : Security(SecurityKind::base, std::move(code), std::move(security_name), lot_size, exchange,
               std::move(expiry_date), std::move(quote_currency)) {}

Security::Security(Args args)
    : Security(SecurityKind::base, std::move(args.code.value), std::move(args.security_name.value),
               args.lot_size, args.exchange, std::move(args.expiry_date),
               std::move(args.quote_currency)) {}

Security::Security(SecurityKind kind, std::string code, std::string security_name,
                   std::optional<std::int64_t> lot_size, std::optional<Exchange> exchange,
                   std::optional<std::string> expiry_date, std::string quote_currency)
    : code_(std::move(code)),
      security_name_(std::move(security_name)),
      lot_size_(lot_size),
      exchange_(exchange),
      expiry_date_(std::move(expiry_date)),
      quote_currency_(std::move(quote_currency)),
      kind_(kind) {}

bool Security::equals(const Security& other) const noexcept {
  if (kind_ == SecurityKind::base || other.kind_ == SecurityKind::base) {
    return code_ == other.code_ && security_name_ == other.security_name_ &&
           exchange_ == other.exchange_;
  }
  return kind_ == other.kind_ && code_ == other.code_ && security_name_ == other.security_name_ &&
         lot_size_ == other.lot_size_ && exchange_ == other.exchange_ &&
         expiry_date_ == other.expiry_date_ && quote_currency_ == other.quote_currency_;
}

std::size_t Security::hash() const noexcept {
  const std::hash<std::string_view> text_hash;
  std::size_t h = text_hash(security_name_);
  h = hash_combine(h, text_hash(code_));
  return hash_combine(h, hash_exchange(exchange_));
}

std::string to_text(SecurityKind kind) {
  switch (kind) {
    case SecurityKind::base:
      return "Security";
    case SecurityKind::stock:
      return "Stock";
    case SecurityKind::futures:
      return "Futures";
    case SecurityKind::currency:
      return "Currency";
    case SecurityKind::commodity:
      return "Commodity";
  }
  return "SecurityKind(" + std::to_string(static_cast<int>(kind)) + ")";
}

std::string to_text(const Security& s) {
  return fmt::format(
      "{}(code={}, security_name={}, lot_size={}, exchange={}, expiry_date={}, "
      "quote_currency={})",
      to_text(s.kind()), text_form::quoted(s.code()), text_form::quoted(s.security_name()),
      text_form::optional(s.lot_size()), text_form::optional(s.exchange()),
      text_form::optional_quoted(s.expiry_date()), text_form::quoted(s.quote_currency()));
}

}  // namespace orbrix
